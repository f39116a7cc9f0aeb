#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "VistrelKit/base/Texts.h"

namespace vistrel {

// The one error of keys and sealing; travels from the key store through the library to the
// application. what() is the text shown to the user.
class VistrelCryptoError : public std::runtime_error {
 public:
  // unreachable: a key store exists but could not be asked for the key (a keyring that is locked
  // and stays so, does not answer, or is not running while the key may be in it). Unlike
  // wrongKey it says nothing about the key itself: the history is intact and opens once the
  // store answers.
  enum class Kind { keychain, wrongKey, damaged, unreachable };

  static VistrelCryptoError keychain(std::int32_t status) {
    return VistrelCryptoError(Kind::keychain, status);
  }
  static VistrelCryptoError unreachable(std::int32_t status) {
    return VistrelCryptoError(Kind::unreachable, status);
  }
  static VistrelCryptoError wrongKey() { return VistrelCryptoError(Kind::wrongKey, 0); }
  static VistrelCryptoError damaged() { return VistrelCryptoError(Kind::damaged, 0); }

  Kind kind() const { return kind_; }
  std::int32_t status() const { return status_; }

  friend bool operator==(const VistrelCryptoError& a, const VistrelCryptoError& b) {
    const bool hasStatus = a.kind_ == Kind::keychain || a.kind_ == Kind::unreachable;
    return a.kind_ == b.kind_ && (!hasStatus || a.status_ == b.status_);
  }

 private:
  VistrelCryptoError(Kind kind, std::int32_t status)
      : std::runtime_error(describe(kind, status)), kind_(kind), status_(status) {}

  static std::string describe(Kind kind, std::int32_t status) {
    switch (kind) {
      case Kind::keychain:
        return texts::keyringError(status);
      case Kind::wrongKey:
        return std::string(texts::wrongKey);
      case Kind::damaged:
        return "A stored frame failed its integrity check.";
      case Kind::unreachable:
        return texts::keyStoreUnreachable(status);
    }
    return {};
  }

  Kind kind_;
  std::int32_t status_;
};

}  // namespace vistrel
