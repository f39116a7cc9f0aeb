#include "Vistrel/platform/Probes.h"

#include <algorithm>
#include <cmath>

namespace vistrel {

CaptureError::CaptureError(Code code) : std::runtime_error("No display to capture"), code_(code) {}

std::optional<std::size_t> chooseDisplay(const std::vector<DisplayFrame>& displays,
                                         std::optional<Point> center) {
  if (displays.empty()) {
    return std::nullopt;
  }
  if (center) {
    for (std::size_t i = 0; i < displays.size(); ++i) {
      if (displays[i].contains(*center)) {
        return i;
      }
    }
  }
  return 0;
}

PixelSize captureSize(int width, int height, int maxWidth) {
  // The height follows the untruncated width so that the aspect ratio survives the rounding.
  const double scaledWidth = std::min(double(width), double(maxWidth));
  const double scaledHeight = std::round(scaledWidth * height / std::max(width, 1));
  // A zero-sized request would be refused by every consumer of the image; one pixel is the
  // smallest honest screenshot.
  return PixelSize{std::max(1, int(scaledWidth)), std::max(1, int(scaledHeight))};
}

}  // namespace vistrel
