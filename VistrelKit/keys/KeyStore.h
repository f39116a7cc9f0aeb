#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "VistrelKit/keys/LockedKeyBytes.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {

// The 32-byte master key. The only key material that is ever stored; its bytes live in locked,
// undumped memory and are wiped when the value goes away.
class MasterKey {
 public:
  static constexpr std::size_t size = LockedKeyBytes::size;
  using Storage = LockedKeyBytes::Storage;

  explicit MasterKey(const Storage& bytes) : bytes_(bytes) {}

  const Storage& bytes() const { return bytes_.get(); }
  friend bool operator==(const MasterKey&, const MasterKey&) = default;

 private:
  LockedKeyBytes bytes_;
};

// Keeps the master key. Implementations must be safe to call from any thread.
// Failures are raised as VistrelCryptoError::keychain with a signed status.
class KeyStore {
 public:
  virtual ~KeyStore() = default;

  // The stored key, or none when the store holds no key.
  virtual std::optional<MasterKey> load() = 0;
  // Stores the key, replacing any key already stored.
  virtual void save(const MasterKey& key) = 0;
  // Stores the candidate only when the store holds no key, and returns the key the store holds
  // afterwards: the candidate, or the key another creator stored first. Never replaces a key.
  // The default loads, saves when there is none and loads again; it is exclusive only among
  // callers that hold one lock around it (FrameLibrary::open holds the data folder's). A store
  // that can create exclusively by itself overrides it.
  virtual MasterKey create(const MasterKey& candidate);
  // Removes the stored key; removing a missing key is no error.
  virtual void remove() = 0;
  // Where the key lives, for the Storage screen ("Secret Service", "key file ...").
  virtual std::string description() const = 0;
  // What an existing library reports when load() found no key: wrongKey, as the key is gone;
  // a store that could not look everywhere the key may be (no keyring running to ask) says
  // unreachable instead, so that a missing keyring never reads as a lost key.
  virtual VistrelCryptoError noKeyError() const { return VistrelCryptoError::wrongKey(); }
};

// Loads the stored key; when there is none and creation is allowed, makes a new random key and
// creates it in the store (see create), returning whichever key the store then holds. Failures of
// load and save are passed on.
std::optional<MasterKey> loadOrCreate(KeyStore& store, bool mayCreate);

}  // namespace vistrel
