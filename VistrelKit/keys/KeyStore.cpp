#include "VistrelKit/keys/KeyStore.h"

#include <openssl/crypto.h>

#include "VistrelKit/keys/FrameKeys.h"

namespace vistrel {

MasterKey::~MasterKey() {
  OPENSSL_cleanse(bytes_.data(), bytes_.size());
}

std::optional<MasterKey> loadOrCreate(KeyStore& store, bool mayCreate) {
  if (auto key = store.load()) {
    return key;
  }
  if (!mayCreate) {
    return std::nullopt;
  }
  MasterKey key = generateKey();
  store.save(key);
  return key;
}

}  // namespace vistrel
