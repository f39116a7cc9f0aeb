#include "VistrelKit/keys/LockedKeyBytes.h"

#include <openssl/crypto.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <vector>

namespace vistrel {
namespace {

// Pages are taken as needed and never given back: the number of live keys is small and bounded,
// and a page returned to the system would take its locked, undumped state with it.
class Pool {
 public:
  LockedKeyBytes::Storage* take() {
    const std::lock_guard lock(mutex_);
    if (free_.empty())
      addPage();
    LockedKeyBytes::Storage* slot = free_.back();
    free_.pop_back();
    return slot;
  }

  void give(LockedKeyBytes::Storage* slot) {
    OPENSSL_cleanse(slot->data(), slot->size());
    const std::lock_guard lock(mutex_);
    free_.push_back(slot);
  }

  bool locked() const {
    const std::lock_guard lock(mutex_);
    return allLocked_;
  }

 private:
  void addPage() {
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const std::size_t length = pageSize > 0 ? static_cast<std::size_t>(pageSize) : 4096;
    void* page =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
      throw std::bad_alloc();
    // Leaving key material in a core dump is what this page exists to prevent: without the
    // advice the page is not used.
    if (::madvise(page, length, MADV_DONTDUMP) != 0) {
      ::munmap(page, length);
      throw std::bad_alloc();
    }
    if (::mlock(page, length) != 0)
      allLocked_ = false;
    auto* slots = static_cast<LockedKeyBytes::Storage*>(page);
    for (std::size_t i = 0; i < length / sizeof(LockedKeyBytes::Storage); ++i)
      free_.push_back(new (&slots[i]) LockedKeyBytes::Storage{});
  }

  mutable std::mutex mutex_;
  std::vector<LockedKeyBytes::Storage*> free_;
  bool allLocked_ = true;
};

// Never destroyed: keys held in static objects may be wiped after other statics are gone.
Pool& pool() {
  static Pool* const instance = new Pool;
  return *instance;
}

}  // namespace

LockedKeyBytes::LockedKeyBytes(const Storage& bytes) : storage_(pool().take()) {
  *storage_ = bytes;
}

LockedKeyBytes::LockedKeyBytes(const LockedKeyBytes& other) : LockedKeyBytes(other.get()) {}

LockedKeyBytes& LockedKeyBytes::operator=(const LockedKeyBytes& other) {
  *storage_ = other.get();
  return *this;
}

LockedKeyBytes::~LockedKeyBytes() {
  pool().give(storage_);
}

bool LockedKeyBytes::poolIsLocked() {
  return pool().locked();
}

}  // namespace vistrel
