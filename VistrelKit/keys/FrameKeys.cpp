#include "VistrelKit/keys/FrameKeys.h"

#include <openssl/crypto.h>

#include <span>

#include "VistrelKit/base/Base64.h"
#include "VistrelKit/keys/CryptoPrimitives.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {

namespace {

constexpr std::string_view derivationSalt = "Lindquart v1";
constexpr std::string_view sealInfo = "seal";
constexpr std::string_view indexInfo = "index";

crypto::ByteView viewOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

SymmetricKey deriveOne(const MasterKey& masterKey, std::string_view info) {
  SymmetricKey::Storage bytes{};
  crypto::hkdfSha256(masterKey.bytes(), viewOf(derivationSalt), viewOf(info), bytes);
  SymmetricKey key(bytes);
  OPENSSL_cleanse(bytes.data(), bytes.size());
  return key;
}

}  // namespace

MasterKey generateKey() {
  MasterKey::Storage bytes{};
  crypto::randomBytes(bytes);
  MasterKey key(bytes);
  OPENSSL_cleanse(bytes.data(), bytes.size());
  return key;
}

FrameKeys::FrameKeys(const SymmetricKey& sealKey, const SymmetricKey& indexKey)
    : sealKey(sealKey),
      indexKey(indexKey),
      indexMac_(std::make_shared<crypto::HmacSha256>(indexKey.bytes())) {}

FrameKeys FrameKeys::derive(MasterKey masterKey) {
  return FrameKeys{deriveOne(masterKey, sealInfo), deriveOne(masterKey, indexInfo)};
}

Bytes FrameKeys::seal(const Bytes& plaintext, std::string_view context) const {
  Bytes blob(sealedOverhead + plaintext.size());
  const std::span<std::uint8_t> whole(blob);
  const auto nonce = whole.first(sealedNonceSize);
  crypto::randomBytes(nonce);
  if (!crypto::aesGcmEncrypt(sealKey.bytes(), nonce, plaintext, viewOf(context),
                             whole.subspan(sealedNonceSize))) {
    throw VistrelCryptoError::damaged();
  }
  return blob;
}

Bytes FrameKeys::unseal(const Bytes& blob, std::string_view context) const {
  if (blob.size() < sealedOverhead) {
    throw VistrelCryptoError::damaged();
  }
  const crypto::ByteView whole(blob);
  auto opened = crypto::aesGcmDecrypt(sealKey.bytes(), whole.first(sealedNonceSize),
                                      whole.subspan(sealedNonceSize, blob.size() - sealedOverhead),
                                      whole.last(sealedTagSize), viewOf(context));
  if (!opened) {
    throw VistrelCryptoError::damaged();
  }
  return std::move(*opened);
}

std::string FrameKeys::token(std::string_view term) const {
  static constexpr char hexDigits[] = "0123456789abcdef";
  const auto mac = indexMac_->mac(viewOf(term));
  std::string token(16, '0');
  for (std::size_t i = 0; i < 8; ++i) {
    token[2 * i] = hexDigits[mac[i] >> 4];
    token[2 * i + 1] = hexDigits[mac[i] & 0x0f];
  }
  return token;
}

Bytes FrameKeys::tag(std::string_view key) const {
  const std::string message = "tag:" + std::string(key);
  const auto mac = indexMac_->mac(viewOf(message));
  return Bytes(mac.begin(), mac.begin() + 16);
}

namespace sealContext {

std::string frameMeta(std::int64_t id) {
  return "frame:" + std::to_string(id) + ":meta";
}

std::string frameThumb(std::int64_t id) {
  return "frame:" + std::to_string(id) + ":thumb";
}

std::string frameImage(std::int64_t id) {
  return "frame:" + std::to_string(id) + ":image";
}

std::string app(const Bytes& tag) {
  return "app:" + base64Encode(tag);
}

}  // namespace sealContext

}  // namespace vistrel
