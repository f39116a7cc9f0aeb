#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "VistrelKit/base/Bytes.h"
#include "VistrelKit/imaging/Image.h"

// Scaling, format conversion and JPEG/PNG coding of frame images. Pure functions without state,
// safe to call from any thread. Every failure is an absent result, never an exception.
namespace vistrel::Imaging {

// The image at most maxWidth pixels wide, aspect ratio kept (height rounded to the nearest pixel,
// halves away from zero, at least 1). Never enlarges: a colour request for an image no wider than
// maxWidth gives back that image itself, pixels untouched. With grey set the result is always a
// new grey image, redrawn even when no narrower. Absent for an empty image or maxWidth < 1.
std::optional<Image> scale(const Image& image, int maxWidth, bool grey);

// The whole image drawn into a new width x height bitmap of the given format with high-quality
// interpolation; the aspect ratio is not kept. Absent for an empty image or a size below 1.
std::optional<Image> redraw(const Image& image, int width, int height, PixelFormat format);

// Baseline JPEG at quality 0..1 (4:2:0 chroma for colour, one channel for grey).
std::optional<Bytes> jpeg(const Image& image, double quality);

// Decoders for untrusted bytes: anything damaged, truncated, unsupported or larger than
// maxDecodedPixels gives an absent result. The result is always rgbx; transparent PNG pixels are
// composited over white.
inline constexpr std::int64_t maxDecodedPixels = std::int64_t{1} << 26;
std::optional<Image> decodeJPEG(std::span<const std::uint8_t> data);
std::optional<Image> decodePNG(std::span<const std::uint8_t> data);
// JPEG or PNG, told apart by their signatures.
std::optional<Image> decode(std::span<const std::uint8_t> data);

// True when every pixel has the colour of the first (the padding byte of rgbx pixels aside); an
// empty image counts as one colour.
bool isSingleColour(const Image& image);

}  // namespace vistrel::Imaging
