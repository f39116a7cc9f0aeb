// Key material must sit in pages that the kernel leaves out of core dumps and, where the limit on
// locked memory allows, keeps out of swap. The kernel's own account of the mapping
// (/proc/self/smaps, "VmFlags") is what is checked.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "VistrelKit/keys/FrameKeys.h"
#include "VistrelKit/keys/KeyStore.h"

namespace vistrel {
namespace {

// The VmFlags of the mapping that holds the address, or empty when none does.
std::string flagsOfMappingAt(const void* address) {
  const auto wanted = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long start = 0;
    unsigned long end = 0;
    // A mapping's first line starts "start-end "; its fields start with a word and a colon.
    if (std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2) {
      inside = wanted >= start && wanted < end;
      continue;
    }
    if (inside && line.rfind("VmFlags:", 0) == 0)
      return line;
  }
  return {};
}

// AddressSanitizer replaces mlock with a call that succeeds and locks nothing, so there the
// kernel's "locked" flag cannot be checked.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool mlockWorks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool mlockWorks = false;
#else
constexpr bool mlockWorks = true;
#endif
#else
constexpr bool mlockWorks = true;
#endif

TEST(LockedKeyBytesTest, KeysLiveInUndumpedLockedPagesAndKeepTheirBytes) {
  const MasterKey master = generateKey();
  const FrameKeys keys = FrameKeys::derive(master);
  for (const void* bytes : {static_cast<const void*>(master.bytes().data()),
                            static_cast<const void*>(keys.sealKey.bytes().data()),
                            static_cast<const void*>(keys.indexKey.bytes().data())}) {
    const std::string flags = flagsOfMappingAt(bytes);
    ASSERT_FALSE(flags.empty());
    EXPECT_NE(flags.find(" dd"), std::string::npos) << flags;
    if (mlockWorks && LockedKeyBytes::poolIsLocked())
      EXPECT_NE(flags.find(" lo"), std::string::npos) << flags;
  }

  const MasterKey copy = master;
  EXPECT_EQ(copy, master);
  EXPECT_NE(copy.bytes().data(), master.bytes().data()) << "a copy has a slot of its own";
}

TEST(LockedKeyBytesTest, ManyKeysAtOnceEachKeepTheirOwnBytes) {
  std::vector<MasterKey> keys;
  std::vector<MasterKey::Storage> expected;
  for (int i = 0; i < 1000; ++i) {
    keys.push_back(generateKey());
    expected.push_back(keys.back().bytes());
  }
  for (std::size_t i = 0; i < keys.size(); ++i)
    ASSERT_EQ(keys[i].bytes(), expected[i]) << i;
}

}  // namespace
}  // namespace vistrel
