#pragma once

#include <array>
#include <cstdint>

namespace vistrel {

// 32 bytes of key material kept outside the ordinary heap and stack: in pages that are locked in
// memory where the system allows it (mlock, so never written to swap) and left out of core dumps
// (MADV_DONTDUMP). The bytes are wiped when the value goes away. Copies take slots of their own.
// Slots come from one process-wide pool guarded by a mutex; a value is as thread-safe as a
// std::array (const use from many threads at once).
class LockedKeyBytes {
 public:
  static constexpr std::size_t size = 32;
  using Storage = std::array<std::uint8_t, size>;

  explicit LockedKeyBytes(const Storage& bytes);
  LockedKeyBytes(const LockedKeyBytes& other);
  LockedKeyBytes& operator=(const LockedKeyBytes& other);
  ~LockedKeyBytes();

  const Storage& get() const { return *storage_; }

  friend bool operator==(const LockedKeyBytes& a, const LockedKeyBytes& b) {
    return a.get() == b.get();
  }

  // True when every page of the pool so far could be locked in memory (false where the limit on
  // locked memory is too low; the bytes are still left out of core dumps and wiped).
  static bool poolIsLocked();

 private:
  Storage* storage_;
};

}  // namespace vistrel
