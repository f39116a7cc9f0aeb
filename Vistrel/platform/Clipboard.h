#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "VistrelKit/imaging/Image.h"

namespace vistrel {

// The desktop's clipboard failed or does not exist; what() is the text shown after "Couldn't
// copy: ".
class ClipboardError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The general clipboard (the pasteboard). Each call replaces what the clipboard held.
// Main thread only. Both operations raise ClipboardError.
class Clipboard {
 public:
  virtual ~Clipboard() = default;

  virtual void setText(const std::string& text) = 0;
  virtual void setImage(const Image& image) = 0;
};

// For a process without a display connection (vistrel --headless, the command line): every call
// fails and says why.
class UnavailableClipboard final : public Clipboard {
 public:
  void setText(const std::string& text) override;
  void setImage(const Image& image) override;
};

}  // namespace vistrel
