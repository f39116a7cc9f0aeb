#include "VistrelKit/keys/KeyStore.h"

#include "VistrelKit/keys/FrameKeys.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {

std::optional<MasterKey> loadOrCreate(KeyStore& store, bool mayCreate) {
  if (auto key = store.load()) {
    return key;
  }
  if (!mayCreate) {
    return std::nullopt;
  }
  return store.create(generateKey());
}

MasterKey KeyStore::create(const MasterKey& candidate) {
  if (auto existing = load())
    return *existing;
  save(candidate);
  // Read back, so the caller seals with what the store really holds.
  if (auto stored = load())
    return *stored;
  throw VistrelCryptoError::keychain(0);
}

}  // namespace vistrel
