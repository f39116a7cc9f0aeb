#pragma once

// The standard primitives under FrameKeys, with every key and nonce explicit so that they can be
// checked against published test vectors. Not for use outside the core: FrameKeys is the
// interface that fixes parameters, nonces and error reporting.

#include <openssl/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "VistrelKit/base/Bytes.h"

namespace vistrel::crypto {

using ByteView = std::span<const std::uint8_t>;

inline constexpr std::size_t gcmNonceSize = 12;
inline constexpr std::size_t gcmTagSize = 16;

// Fills `out` from OpenSSL's CSPRNG. Raises std::runtime_error if the generator fails.
void randomBytes(std::span<std::uint8_t> out);

// HKDF with SHA-256 (RFC 5869), extract then expand, filling all of `out`. Writing into the
// caller's buffer keeps derived keys out of temporaries that would not be wiped.
void hkdfSha256(ByteView inputKey, ByteView salt, ByteView info, std::span<std::uint8_t> out);

// HMAC-SHA256 (RFC 2104).
std::array<std::uint8_t, 32> hmacSha256(ByteView key, ByteView data);

// HMAC-SHA256 under one key that is set up once: keying hashes two padded key blocks and costs
// more than a short message, so callers that compute many MACs under the same key (the index
// tokens of a frame) copy the keyed context per message instead. Any number of threads may call
// mac() at once: the keyed context is only ever copied, and the copies are made one at a time.
class HmacSha256 {
 public:
  explicit HmacSha256(ByteView key);
  HmacSha256(const HmacSha256&) = delete;
  HmacSha256& operator=(const HmacSha256&) = delete;
  ~HmacSha256();

  std::array<std::uint8_t, 32> mac(ByteView data) const;

 private:
  struct ContextFree {
    void operator()(EVP_MAC_CTX* context) const;
  };
  std::unique_ptr<EVP_MAC_CTX, ContextFree> keyed_;
  mutable std::mutex copying_;
};

// AES-256-GCM with a 96-bit nonce and a 128-bit tag. Writes the ciphertext followed by the tag
// into `out`, which must be exactly 16 bytes longer than the plaintext; false if the cipher
// fails.
bool aesGcmEncrypt(ByteView key, ByteView nonce, ByteView plaintext, ByteView associatedData,
                   std::span<std::uint8_t> out);

// The same, returning the ciphertext followed by the tag, or nothing if the cipher fails.
std::optional<Bytes> aesGcmEncrypt(ByteView key, ByteView nonce, ByteView plaintext,
                                   ByteView associatedData);

// The inverse: nothing on a tag mismatch or any other failure; never partial plaintext.
std::optional<Bytes> aesGcmDecrypt(ByteView key, ByteView nonce, ByteView ciphertext, ByteView tag,
                                   ByteView associatedData);

}  // namespace vistrel::crypto
