#include "VistrelKit/keys/CryptoPrimitives.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace vistrel::crypto {

namespace {

template <auto freeFunction>
struct Deleter {
  template <typename T>
  void operator()(T* pointer) const {
    freeFunction(pointer);
  }
};

using KdfPtr = std::unique_ptr<EVP_KDF, Deleter<EVP_KDF_free>>;
using KdfCtxPtr = std::unique_ptr<EVP_KDF_CTX, Deleter<EVP_KDF_CTX_free>>;
using MacPtr = std::unique_ptr<EVP_MAC, Deleter<EVP_MAC_free>>;
using MacCtxPtr = std::unique_ptr<EVP_MAC_CTX, Deleter<EVP_MAC_CTX_free>>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, Deleter<EVP_CIPHER_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>>;

// Fetching an algorithm takes a global lock and a lookup; tokens are computed thousands of
// times per frame, so each algorithm is fetched once per process.
EVP_MAC* hmacAlgorithm() {
  static const MacPtr mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  return mac.get();
}

const EVP_CIPHER* gcmAlgorithm() {
  static const CipherPtr cipher(EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr));
  return cipher.get();
}

// OSSL_PARAM takes non-const pointers even for inputs it only reads.
OSSL_PARAM octets(const char* name, ByteView bytes) {
  return OSSL_PARAM_construct_octet_string(name, const_cast<std::uint8_t*>(bytes.data()),
                                           bytes.size());
}

OSSL_PARAM sha256Digest(const char* name) {
  static char digestName[] = "SHA256";
  return OSSL_PARAM_construct_utf8_string(name, digestName, 0);
}

int length(ByteView bytes) {
  return static_cast<int>(bytes.size());
}

}  // namespace

void randomBytes(std::span<std::uint8_t> out) {
  if (RAND_bytes(out.data(), static_cast<int>(out.size())) != 1) {
    throw std::runtime_error("The system's random number generator failed.");
  }
}

void hkdfSha256(ByteView inputKey, ByteView salt, ByteView info, std::span<std::uint8_t> out) {
  const KdfPtr kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
  const KdfCtxPtr context(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
  const OSSL_PARAM params[] = {
      sha256Digest(OSSL_KDF_PARAM_DIGEST), octets(OSSL_KDF_PARAM_KEY, inputKey),
      octets(OSSL_KDF_PARAM_SALT, salt),   octets(OSSL_KDF_PARAM_INFO, info),
      OSSL_PARAM_construct_end(),
  };
  if (!context || EVP_KDF_derive(context.get(), out.data(), out.size(), params) != 1) {
    throw std::runtime_error("HKDF-SHA256 failed.");
  }
}

std::array<std::uint8_t, 32> hmacSha256(ByteView key, ByteView data) {
  std::array<std::uint8_t, 32> out{};
  const MacCtxPtr context(hmacAlgorithm() ? EVP_MAC_CTX_new(hmacAlgorithm()) : nullptr);
  const OSSL_PARAM params[] = {sha256Digest(OSSL_MAC_PARAM_DIGEST), OSSL_PARAM_construct_end()};
  std::size_t written = 0;
  if (!context || EVP_MAC_init(context.get(), key.data(), key.size(), params) != 1 ||
      EVP_MAC_update(context.get(), data.data(), data.size()) != 1 ||
      EVP_MAC_final(context.get(), out.data(), &written, out.size()) != 1 ||
      written != out.size()) {
    throw std::runtime_error("HMAC-SHA256 failed.");
  }
  return out;
}

void HmacSha256::ContextFree::operator()(EVP_MAC_CTX* context) const {
  EVP_MAC_CTX_free(context);
}

HmacSha256::HmacSha256(ByteView key)
    : keyed_(hmacAlgorithm() ? EVP_MAC_CTX_new(hmacAlgorithm()) : nullptr) {
  const OSSL_PARAM params[] = {sha256Digest(OSSL_MAC_PARAM_DIGEST), OSSL_PARAM_construct_end()};
  if (!keyed_ || EVP_MAC_init(keyed_.get(), key.data(), key.size(), params) != 1) {
    throw std::runtime_error("HMAC-SHA256 failed.");
  }
}

HmacSha256::~HmacSha256() = default;

std::array<std::uint8_t, 32> HmacSha256::mac(ByteView data) const {
  MacCtxPtr context;
  {
    // OpenSSL promises nothing about copying one context from several threads at once.
    const std::lock_guard lock(copying_);
    context.reset(EVP_MAC_CTX_dup(keyed_.get()));
  }
  std::array<std::uint8_t, 32> out{};
  std::size_t written = 0;
  if (!context || EVP_MAC_update(context.get(), data.data(), data.size()) != 1 ||
      EVP_MAC_final(context.get(), out.data(), &written, out.size()) != 1 ||
      written != out.size()) {
    throw std::runtime_error("HMAC-SHA256 failed.");
  }
  return out;
}

bool aesGcmEncrypt(ByteView key, ByteView nonce, ByteView plaintext, ByteView associatedData,
                   std::span<std::uint8_t> out) {
  if (key.size() != 32 || nonce.size() != gcmNonceSize ||
      out.size() != plaintext.size() + gcmTagSize || !gcmAlgorithm()) {
    return false;
  }
  const CipherCtxPtr context(EVP_CIPHER_CTX_new());
  if (!context ||
      EVP_EncryptInit_ex2(context.get(), gcmAlgorithm(), key.data(), nonce.data(), nullptr) != 1) {
    return false;
  }
  int written = 0;
  if (!associatedData.empty() &&
      EVP_EncryptUpdate(context.get(), nullptr, &written, associatedData.data(),
                        length(associatedData)) != 1) {
    return false;
  }
  int total = 0;
  if (!plaintext.empty()) {
    if (EVP_EncryptUpdate(context.get(), out.data(), &written, plaintext.data(),
                          length(plaintext)) != 1) {
      return false;
    }
    total = written;
  }
  if (EVP_EncryptFinal_ex(context.get(), out.data() + total, &written) != 1) {
    return false;
  }
  total += written;
  return static_cast<std::size_t>(total) == plaintext.size() &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, gcmTagSize, out.data() + total) ==
             1;
}

std::optional<Bytes> aesGcmEncrypt(ByteView key, ByteView nonce, ByteView plaintext,
                                   ByteView associatedData) {
  Bytes out(plaintext.size() + gcmTagSize);
  if (!aesGcmEncrypt(key, nonce, plaintext, associatedData, out)) {
    return std::nullopt;
  }
  return out;
}

std::optional<Bytes> aesGcmDecrypt(ByteView key, ByteView nonce, ByteView ciphertext, ByteView tag,
                                   ByteView associatedData) {
  if (key.size() != 32 || nonce.size() != gcmNonceSize || tag.size() != gcmTagSize ||
      !gcmAlgorithm()) {
    return std::nullopt;
  }
  const CipherCtxPtr context(EVP_CIPHER_CTX_new());
  if (!context ||
      EVP_DecryptInit_ex2(context.get(), gcmAlgorithm(), key.data(), nonce.data(), nullptr) != 1) {
    return std::nullopt;
  }
  int written = 0;
  if (!associatedData.empty() &&
      EVP_DecryptUpdate(context.get(), nullptr, &written, associatedData.data(),
                        length(associatedData)) != 1) {
    return std::nullopt;
  }
  Bytes out(ciphertext.size());
  int total = 0;
  if (!ciphertext.empty()) {
    if (EVP_DecryptUpdate(context.get(), out.data(), &written, ciphertext.data(),
                          length(ciphertext)) != 1) {
      return std::nullopt;
    }
    total = written;
  }
  std::array<std::uint8_t, gcmTagSize> expectedTag{};
  std::copy(tag.begin(), tag.end(), expectedTag.begin());
  if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, gcmTagSize, expectedTag.data()) !=
          1 ||
      EVP_DecryptFinal_ex(context.get(), out.data() + total, &written) != 1) {
    return std::nullopt;
  }
  return out;
}

}  // namespace vistrel::crypto
