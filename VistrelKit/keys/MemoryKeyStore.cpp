#include "VistrelKit/keys/MemoryKeyStore.h"

namespace vistrel {

MemoryKeyStore::MemoryKeyStore(std::optional<MasterKey> key) : key_(std::move(key)) {}

std::optional<MasterKey> MemoryKeyStore::load() {
  const std::lock_guard lock(mutex_);
  return key_;
}

void MemoryKeyStore::save(const MasterKey& key) {
  const std::lock_guard lock(mutex_);
  key_ = key;
}

void MemoryKeyStore::remove() {
  const std::lock_guard lock(mutex_);
  key_.reset();
}

std::string MemoryKeyStore::description() const {
  return "memory only";
}

}  // namespace vistrel
