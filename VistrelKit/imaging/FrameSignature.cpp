#include "VistrelKit/imaging/FrameSignature.h"

#include <cstdlib>

#include "VistrelKit/imaging/Imaging.h"

namespace vistrel {

namespace {

// The intermediate grey width: small enough to be cheap on every tick, wide enough that the final
// squeeze still averages every part of the screen.
constexpr int kIntermediateWidth = 256;

}  // namespace

std::optional<FrameSignature> FrameSignature::from(const Image& image) {
  const std::optional<Image> grey = Imaging::scale(image, kIntermediateWidth, true);
  if (!grey) {
    return std::nullopt;
  }
  const std::optional<Image> small = Imaging::redraw(*grey, width, height, PixelFormat::grey);
  if (!small) {
    return std::nullopt;
  }
  FrameSignature signature;
  signature.luma.reserve(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    signature.luma.insert(signature.luma.end(), small->row(y), small->row(y) + width);
  }
  return signature;
}

double FrameSignature::difference(const FrameSignature& other, int tolerance) const {
  if (luma.empty() || luma.size() != other.luma.size()) {
    return 1.0;
  }
  std::size_t changed = 0;
  for (std::size_t i = 0; i < luma.size(); ++i) {
    if (std::abs(static_cast<int>(luma[i]) - static_cast<int>(other.luma[i])) > tolerance) {
      ++changed;
    }
  }
  return static_cast<double>(changed) / static_cast<double>(luma.size());
}

}  // namespace vistrel
