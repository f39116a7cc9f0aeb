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
  enum class Kind { keychain, wrongKey, damaged };

  static VistrelCryptoError keychain(std::int32_t status) {
    return VistrelCryptoError(Kind::keychain, status);
  }
  static VistrelCryptoError wrongKey() { return VistrelCryptoError(Kind::wrongKey, 0); }
  static VistrelCryptoError damaged() { return VistrelCryptoError(Kind::damaged, 0); }

  Kind kind() const { return kind_; }
  std::int32_t status() const { return status_; }

  friend bool operator==(const VistrelCryptoError& a, const VistrelCryptoError& b) {
    return a.kind_ == b.kind_ && (a.kind_ != Kind::keychain || a.status_ == b.status_);
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
    }
    return {};
  }

  Kind kind_;
  std::int32_t status_;
};

}  // namespace vistrel
