#pragma once

#include "Vistrel/platform/Clipboard.h"

namespace vistrel {

// The desktop's clipboard through Qt: text as plain text, an image as a picture that other
// applications can paste (Qt offers it as PNG among other formats). Needs a QGuiApplication;
// main thread only.
class SystemClipboard final : public Clipboard {
 public:
  void setText(const std::string& text) override;
  void setImage(const Image& image) override;
};

}  // namespace vistrel
