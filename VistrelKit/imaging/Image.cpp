#include "VistrelKit/imaging/Image.h"

#include <stdexcept>

namespace vistrel {

namespace {

std::size_t paddedStride(int width, PixelFormat format) {
  const std::size_t bytes = static_cast<std::size_t>(width) * bytesPerPixel(format);
  return (bytes + 3) & ~std::size_t{3};
}

}  // namespace

Image::Image(int width, int height, PixelFormat format)
    : width_(width), height_(height), format_(format), stride_(0) {
  if (width < 0 || height < 0) {
    throw std::invalid_argument("Image size must not be negative");
  }
  stride_ = paddedStride(width, format);
  const std::size_t size = stride_ * static_cast<std::size_t>(height);
  if (size > 0) {
    pixels_ = std::make_shared<std::uint8_t[]>(size);
  }
}

Image Image::forOverwrite(int width, int height, PixelFormat format) {
  if (width < 0 || height < 0) {
    throw std::invalid_argument("Image size must not be negative");
  }
  const std::size_t stride = paddedStride(width, format);
  const std::size_t size = stride * static_cast<std::size_t>(height);
  return Image(width, height, format, stride,
               size > 0 ? std::make_shared_for_overwrite<std::uint8_t[]>(size) : nullptr);
}

Image::Image(int width, int height, PixelFormat format, std::size_t stride,
             std::shared_ptr<std::uint8_t[]> pixels)
    : width_(width), height_(height), format_(format), stride_(stride), pixels_(std::move(pixels)) {
  if (width < 0 || height < 0) {
    throw std::invalid_argument("Image size must not be negative");
  }
  if (stride < static_cast<std::size_t>(width) * bytesPerPixel(format)) {
    throw std::invalid_argument("Image stride is shorter than a row");
  }
  if (width > 0 && height > 0 && pixels_ == nullptr) {
    throw std::invalid_argument("Image has no pixels");
  }
}

}  // namespace vistrel
