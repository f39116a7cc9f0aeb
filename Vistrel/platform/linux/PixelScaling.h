#pragma once

#include <array>
#include <cstdint>

#include "VistrelKit/imaging/Image.h"

namespace vistrel {

// Resamples an image of four bytes a pixel to `outWidth` × `outHeight` by area averaging (each
// output pixel is the mean of the source area it covers) into a new rgbx image (red, green, blue,
// 255). `channelBytes` says at which byte of a source pixel red, green and blue sit.
Image scaleToRGBX(const std::uint8_t* pixels, int width, int height, int stride,
                  std::array<int, 3> channelBytes, int outWidth, int outHeight);

}  // namespace vistrel
