#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vistrel {

// Memory layout of one pixel. rgbx: red, green, blue and one padding byte; grey: one luma byte.
enum class PixelFormat : std::uint8_t { rgbx, grey };

constexpr int bytesPerPixel(PixelFormat format) {
  return format == PixelFormat::rgbx ? 4 : 1;
}

// A bitmap, rows top to bottom. Copies share one pixel buffer, so handing an image around never
// copies pixels and an operation can give back "the same image"; a write through row() is seen by
// every copy. Thread-safety: like a shared_ptr, distinct copies may be used from distinct threads
// as long as nobody writes pixels meanwhile.
class Image {
 public:
  Image() = default;

  // Zero-filled pixels, each row padded to a multiple of 4 bytes. Throws std::invalid_argument for
  // negative sizes; a zero size gives an empty image.
  Image(int width, int height, PixelFormat format);

  // Like the constructor, but the pixels are left undefined for the caller to fill.
  static Image forOverwrite(int width, int height, PixelFormat format);

  // Wraps pixels owned elsewhere. Throws std::invalid_argument when the stride is shorter than a
  // row or the buffer is missing for a non-empty image.
  Image(int width, int height, PixelFormat format, std::size_t stride,
        std::shared_ptr<std::uint8_t[]> pixels);

  int width() const { return width_; }
  int height() const { return height_; }
  PixelFormat format() const { return format_; }
  std::size_t stride() const { return stride_; }
  bool empty() const { return width_ == 0 || height_ == 0; }

  const std::uint8_t* row(int y) const {
    return pixels_.get() + stride_ * static_cast<std::size_t>(y);
  }
  std::uint8_t* row(int y) { return pixels_.get() + stride_ * static_cast<std::size_t>(y); }

  // True when both images show the very same pixel buffer.
  bool sharesPixelsWith(const Image& other) const {
    return pixels_ != nullptr && pixels_ == other.pixels_;
  }

 private:
  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::rgbx;
  std::size_t stride_ = 0;
  std::shared_ptr<std::uint8_t[]> pixels_;
};

}  // namespace vistrel
