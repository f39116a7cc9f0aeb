#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "VistrelKit/base/Bytes.h"
#include "VistrelKit/keys/KeyStore.h"

namespace vistrel {

namespace crypto {
class HmacSha256;
}

// A 256-bit working key. Its bytes live in locked, undumped memory and are wiped when the value
// goes away.
class SymmetricKey {
 public:
  static constexpr std::size_t size = LockedKeyBytes::size;
  using Storage = LockedKeyBytes::Storage;

  SymmetricKey() : bytes_(Storage{}) {}
  explicit SymmetricKey(const Storage& bytes) : bytes_(bytes) {}

  const Storage& bytes() const { return bytes_.get(); }
  friend bool operator==(const SymmetricKey&, const SymmetricKey&) = default;

 private:
  LockedKeyBytes bytes_;
};

// A fresh random master key from the system's CSPRNG.
MasterKey generateKey();

// The two working keys derived from the master key: sealKey for AES-256-GCM sealing, indexKey
// for the keyed HMAC-SHA256 tokens and tags. An immutable value, copied freely; every operation
// is const and safe to call from any thread at once, also on copies that share one keyed HMAC.
// Never written anywhere.
//
// A sealed blob is nonce (12 random bytes) ‖ ciphertext (as long as the plaintext) ‖ GCM tag
// (16 bytes), with the UTF-8 context string as associated data; the context is not stored.
struct FrameKeys {
  const SymmetricKey sealKey;
  const SymmetricKey indexKey;

  FrameKeys(const SymmetricKey& sealKey, const SymmetricKey& indexKey);

  // HKDF-SHA256 of the master key with the program's fixed salt; the master key value is taken
  // over and wiped once both keys exist.
  static FrameKeys derive(MasterKey masterKey);

  // Seals with a fresh random nonce. A cipher failure is reported as VistrelCryptoError::damaged.
  Bytes seal(const Bytes& plaintext, std::string_view context) const;
  // Every failure (too short, wrong key or context, any altered byte) is
  // VistrelCryptoError::damaged; partial plaintext is never returned.
  Bytes unseal(const Bytes& blob, std::string_view context) const;

  // The index token of a term: the first 8 bytes of HMAC-SHA256 under indexKey, as 16 lowercase
  // hex characters.
  std::string token(std::string_view term) const;
  // The 16-byte keyed tag of an application key: HMAC-SHA256 under indexKey of "tag:" + key,
  // cut to 16 bytes.
  Bytes tag(std::string_view key) const;

  friend bool operator==(const FrameKeys& a, const FrameKeys& b) {
    return a.sealKey == b.sealKey && a.indexKey == b.indexKey;
  }

 private:
  // indexKey, keyed once: a token costs one copy of it instead of a fresh keying.
  std::shared_ptr<const crypto::HmacSha256> indexMac_;
};

// The context strings that bind each sealed value to its place. Sealing and unsealing sides
// both take them from here so that they always agree.
namespace sealContext {
inline constexpr std::string_view check = "check";
std::string frameMeta(std::int64_t id);
std::string frameThumb(std::int64_t id);
std::string frameImage(std::int64_t id);
// "app:" followed by the tag in standard Base64.
std::string app(const Bytes& tag);
}  // namespace sealContext

// Sizes of the sealed-blob layout.
inline constexpr std::size_t sealedNonceSize = 12;
inline constexpr std::size_t sealedTagSize = 16;
inline constexpr std::size_t sealedOverhead = sealedNonceSize + sealedTagSize;

}  // namespace vistrel
