#pragma once

#include <stdexcept>

namespace vistrel {

// Registering the application to start at login failed; what() is the text shown after
// "Couldn't change Open at Login: ".
class LoginItemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether the application starts when the user logs in. Main thread only.
class LoginItem {
 public:
  virtual ~LoginItem() = default;

  virtual bool isEnabled() = 0;
  // Raises LoginItemError.
  virtual void setEnabled(bool enabled) = 0;
};

}  // namespace vistrel
