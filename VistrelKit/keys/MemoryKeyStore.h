#pragma once

#include <mutex>
#include <optional>

#include "VistrelKit/keys/KeyStore.h"

namespace vistrel {

// Keeps the master key in this process's memory only: for tests and for callers that hold the
// key themselves. Never fails. Safe to call from any thread.
class MemoryKeyStore : public KeyStore {
 public:
  explicit MemoryKeyStore(std::optional<MasterKey> key = std::nullopt);

  std::optional<MasterKey> load() override;
  void save(const MasterKey& key) override;
  void remove() override;
  std::string description() const override;

 private:
  mutable std::mutex mutex_;
  std::optional<MasterKey> key_;  // guarded by mutex_
};

}  // namespace vistrel
