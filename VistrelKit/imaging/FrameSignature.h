#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "VistrelKit/imaging/Image.h"

namespace vistrel {

// A tiny grey picture of a screen, compared with the last kept frame's to decide whether the
// screen changed. Every screen, whatever its shape, is squeezed into width x height.
struct FrameSignature {
  static constexpr int width = 64;
  static constexpr int height = 40;

  std::vector<std::uint8_t> luma;  // row after row

  // Absent when the image cannot be reduced (an empty image).
  static std::optional<FrameSignature> from(const Image& image);

  // Fraction of positions where this (newer) signature and `other` differ by more than
  // `tolerance` grey levels; 1.0 when this one is empty or the lengths differ.
  double difference(const FrameSignature& other, int tolerance) const;

  friend bool operator==(const FrameSignature&, const FrameSignature&) = default;
};

}  // namespace vistrel
