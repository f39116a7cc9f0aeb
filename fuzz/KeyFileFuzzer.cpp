// A key file may be anything the user or another program left at its path: reading it must give
// the key for exactly 32 bytes and the keychain error with status 0 for anything else, never a
// crash or another error.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "fuzz/FuzzCheck.h"

using namespace vistrel;

namespace {

const std::filesystem::path& keyFile() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("vistrel-key-fuzz-" + std::to_string(::getpid()));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream file(keyFile(), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(file.good());
  }
  KeyFileStore store(keyFile());
  try {
    const std::optional<MasterKey> key = store.load();
    FUZZ_CHECK(key.has_value());
    FUZZ_CHECK(size == MasterKey::size);
    FUZZ_CHECK(std::memcmp(key->bytes().data(), data, size) == 0);
  } catch (const VistrelCryptoError& error) {
    FUZZ_CHECK(size != MasterKey::size);
    FUZZ_CHECK(error == VistrelCryptoError::keychain(0));
  }
  std::filesystem::remove(keyFile());
  return 0;
}
