#include "VistrelKit/imaging/Imaging.h"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace vistrel::Imaging {

namespace {

// ---- Resampling -------------------------------------------------------------------------------
//
// A separable convolution (one pass per axis) with weights computed once per call. Downscaling
// widens the kernel by the reduction factor so every source pixel contributes: no aliasing of thin
// text strokes, which a plain bilinear sample would drop.

constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;

// Catmull-Rom cubic (a = -0.5): sharp edges for text, little ringing.
constexpr double kKernelSupport = 2.0;
double kernel(double x) {
  constexpr double a = -0.5;
  x = std::fabs(x);
  if (x < 1.0) {
    return ((a + 2.0) * x - (a + 3.0)) * x * x + 1.0;
  }
  if (x < 2.0) {
    return (((x - 5.0) * x + 8.0) * x - 4.0) * a;
  }
  return 0.0;
}

// For each output position: the first source position, the number of sources and their
// fixed-point weights (stored `taps` apart).
struct Filter {
  int taps = 0;
  std::vector<int> first;
  std::vector<int> count;
  std::vector<std::int16_t> weights;
};

Filter makeFilter(int inSize, int outSize) {
  const double scale = static_cast<double>(inSize) / outSize;
  const double filterScale = std::max(scale, 1.0);
  const double support = kKernelSupport * filterScale;
  Filter filter;
  filter.taps = static_cast<int>(std::ceil(support)) * 2 + 1;
  filter.first.resize(outSize);
  filter.count.resize(outSize);
  filter.weights.assign(static_cast<std::size_t>(outSize) * filter.taps, 0);
  std::vector<double> raw(filter.taps);
  for (int out = 0; out < outSize; ++out) {
    const double centre = (out + 0.5) * scale;
    const int lo = std::max(0, static_cast<int>(std::floor(centre - support + 0.5)));
    const int hi = std::min(inSize, static_cast<int>(std::floor(centre + support + 0.5)));
    const int count = std::clamp(hi - lo, 1, filter.taps);
    double total = 0.0;
    for (int k = 0; k < count; ++k) {
      raw[k] = kernel((lo + k + 0.5 - centre) / filterScale);
      total += raw[k];
    }
    std::int16_t* weights = &filter.weights[static_cast<std::size_t>(out) * filter.taps];
    if (total == 0.0) {
      weights[0] = kWeightOne;
    } else {
      // Fixed-point weights must add up to exactly one so flat areas stay exactly flat.
      int sum = 0;
      int largest = 0;
      for (int k = 0; k < count; ++k) {
        weights[k] = static_cast<std::int16_t>(std::lround(raw[k] / total * kWeightOne));
        sum += weights[k];
        if (weights[k] > weights[largest]) {
          largest = k;
        }
      }
      weights[largest] = static_cast<std::int16_t>(weights[largest] + kWeightOne - sum);
    }
    filter.first[out] = std::min(lo, inSize - count);
    filter.count[out] = count;
  }
  return filter;
}

// The passes below are plain loops the compiler vectorises; on x86-64 an AVX2 copy is built beside
// the baseline one and picked at load time. Not under ThreadSanitizer: the picking function runs
// while the program is being loaded, before the sanitizer's runtime exists, and its instrumented
// code crashes there.
#if defined(__SANITIZE_THREAD__)
#define VISTREL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VISTREL_THREAD_SANITIZER 1
#endif
#endif
#if defined(__x86_64__) && defined(__has_attribute) && !defined(VISTREL_THREAD_SANITIZER)
#if __has_attribute(target_clones)
#define VISTREL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef VISTREL_VECTOR_CLONES
#define VISTREL_VECTOR_CLONES
#endif

constexpr std::int32_t kRounding = kWeightOne >> 1;

inline std::uint8_t clampShift(std::int32_t accumulator) {
  return static_cast<std::uint8_t>(std::clamp(accumulator >> kWeightBits, 0, 255));
}

// Vertical pass: `bytes` bytes per row, every byte an independent sample.
VISTREL_VECTOR_CLONES
void resampleRows(const std::uint8_t* source, std::size_t stride, int bytes, const Filter& filter,
                  std::uint8_t* out, std::size_t outStride, int outHeight,
                  std::int32_t* accumulator) {
  for (int y = 0; y < outHeight; ++y) {
    const std::int16_t* weights = &filter.weights[static_cast<std::size_t>(y) * filter.taps];
    const std::uint8_t* row = source + stride * filter.first[y];
    const std::int32_t first = weights[0];
    for (int i = 0; i < bytes; ++i) {
      accumulator[i] = kRounding + first * row[i];
    }
    for (int k = 1; k < filter.count[y]; ++k) {
      const std::int32_t weight = weights[k];
      row += stride;
      for (int i = 0; i < bytes; ++i) {
        accumulator[i] += weight * row[i];
      }
    }
    std::uint8_t* target = out + outStride * y;
    for (int i = 0; i < bytes; ++i) {
      target[i] = clampShift(accumulator[i]);
    }
  }
}

// Horizontal pass over rgbx pixels.
VISTREL_VECTOR_CLONES
void resampleColumnsRGBX(const std::uint8_t* source, std::size_t stride, int height,
                         const Filter& filter, std::uint8_t* out, std::size_t outStride,
                         int outWidth) {
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = source + stride * y;
    std::uint8_t* target = out + outStride * y;
    for (int x = 0; x < outWidth; ++x) {
      const std::int16_t* weights = &filter.weights[static_cast<std::size_t>(x) * filter.taps];
      const std::uint8_t* pixel = row + static_cast<std::size_t>(filter.first[x]) * 4;
      std::int32_t accumulator[4] = {kRounding, kRounding, kRounding, kRounding};
      for (int k = 0; k < filter.count[x]; ++k, pixel += 4) {
        const std::int32_t weight = weights[k];
        for (int c = 0; c < 4; ++c) {
          accumulator[c] += weight * pixel[c];
        }
      }
      for (int c = 0; c < 4; ++c) {
        target[x * 4 + c] = clampShift(accumulator[c]);
      }
    }
  }
}

VISTREL_VECTOR_CLONES
void resampleColumnsGrey(const std::uint8_t* source, std::size_t stride, int height,
                         const Filter& filter, std::uint8_t* out, std::size_t outStride,
                         int outWidth) {
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = source + stride * y;
    std::uint8_t* target = out + outStride * y;
    for (int x = 0; x < outWidth; ++x) {
      const std::int16_t* weights = &filter.weights[static_cast<std::size_t>(x) * filter.taps];
      const std::uint8_t* pixel = row + filter.first[x];
      std::int32_t accumulator = kRounding;
      for (int k = 0; k < filter.count[x]; ++k) {
        accumulator += weights[k] * pixel[k];
      }
      target[x] = clampShift(accumulator);
    }
  }
}

Image resample(const Image& source, int width, int height) {
  const int rowBytes = source.width() * bytesPerPixel(source.format());
  const std::uint8_t* data = source.row(0);
  std::size_t stride = source.stride();
  Image between;
  if (height != source.height()) {
    between = Image::forOverwrite(source.width(), height, source.format());
    std::vector<std::int32_t> accumulator(rowBytes);
    resampleRows(data, stride, rowBytes, makeFilter(source.height(), height), between.row(0),
                 between.stride(), height, accumulator.data());
    data = between.row(0);
    stride = between.stride();
  }
  if (width == source.width()) {
    if (!between.empty()) {
      return between;
    }
    Image copy = Image::forOverwrite(width, height, source.format());
    for (int y = 0; y < height; ++y) {
      std::memcpy(copy.row(y), data + stride * y, static_cast<std::size_t>(rowBytes));
    }
    return copy;
  }
  Image result = Image::forOverwrite(width, height, source.format());
  const Filter filter = makeFilter(source.width(), width);
  if (source.format() == PixelFormat::rgbx) {
    resampleColumnsRGBX(data, stride, height, filter, result.row(0), result.stride(), width);
  } else {
    resampleColumnsGrey(data, stride, height, filter, result.row(0), result.stride(), width);
  }
  return result;
}

Image convert(const Image& source, PixelFormat format) {
  Image result = Image::forOverwrite(source.width(), source.height(), format);
  for (int y = 0; y < source.height(); ++y) {
    const std::uint8_t* in = source.row(y);
    std::uint8_t* out = result.row(y);
    if (format == PixelFormat::grey) {
      for (int x = 0; x < source.width(); ++x, in += 4) {
        out[x] = static_cast<std::uint8_t>((77 * in[0] + 150 * in[1] + 29 * in[2] + 128) >> 8);
      }
    } else {
      for (int x = 0; x < source.width(); ++x, out += 4) {
        out[0] = out[1] = out[2] = in[x];
        out[3] = 0xff;
      }
    }
  }
  return result;
}

// ---- JPEG ---------------------------------------------------------------------------------------

struct TurboJPEGDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TurboJPEGHandle = std::unique_ptr<void, TurboJPEGDeleter>;

struct TurboJPEGBufferDeleter {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

bool withinDecodeLimit(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= maxDecodedPixels && height <= maxDecodedPixels / width;
}

// ---- PNG ----------------------------------------------------------------------------------------

struct PNGImageDeleter {
  void operator()(png_image* image) const { png_image_free(image); }
};

constexpr std::size_t pngSignatureSize = 8;

// Deflate turns at most 1,032 bytes into one: a length code and a distance code of one bit each
// for 258 repeated bytes.
constexpr std::int64_t deflateMaximumRatio = 1032;

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// Whether the image data could inflate to the rows the header promises (a header over a few
// bytes of data would otherwise cost the whole picture's memory before libpng found it missing).
bool pngDataLongEnough(const std::uint8_t* header, std::int64_t imageDataBytes) {
  const std::int64_t width = bigEndian32(header);
  const std::int64_t height = bigEndian32(header + 4);
  const int bitDepth = header[8];
  int channels = 1;
  switch (header[9]) {
    case 2:
      channels = 3;
      break;
    case 4:
      channels = 2;
      break;
    case 6:
      channels = 4;
      break;
    default:
      break;
  }
  if (!withinDecodeLimit(width, height) || bitDepth < 1 || bitDepth > 16) {
    return true;  // libpng refuses such a header itself
  }
  const std::int64_t rowBytes = (width * channels * bitDepth + 7) / 8;
  return (imageDataBytes + 64) * deflateMaximumRatio >= rowBytes * height;
}

// The PNG with only the chunks a picture needs: the critical ones and the small fixed-size ones
// that change its colours. libpng allocates whatever length an ancillary chunk claims before
// reading it (a 57-byte file asking for a 1.3 GB text chunk took seconds and most of the memory)
// and inflates compressed text and colour profiles without a bound, and none of that is ever
// shown. Absent when a chunk claims more bytes than the file holds or than a PNG may have, or
// when the image data is too short for the size in the header.
std::optional<Bytes> essentialPNGChunks(std::span<const std::uint8_t> data) {
  static constexpr std::array<std::array<char, 4>, 8> kept = {{{'I', 'H', 'D', 'R'},
                                                               {'P', 'L', 'T', 'E'},
                                                               {'I', 'D', 'A', 'T'},
                                                               {'I', 'E', 'N', 'D'},
                                                               {'t', 'R', 'N', 'S'},
                                                               {'g', 'A', 'M', 'A'},
                                                               {'s', 'R', 'G', 'B'},
                                                               {'c', 'H', 'R', 'M'}}};
  constexpr std::size_t header = 8;  // length and type
  constexpr std::size_t checksum = 4;
  if (data.size() < pngSignatureSize) {
    return std::nullopt;
  }
  Bytes result(data.begin(), data.begin() + pngSignatureSize);
  result.reserve(data.size());
  std::size_t position = pngSignatureSize;
  const std::uint8_t* imageHeader = nullptr;
  std::int64_t imageDataBytes = 0;
  while (data.size() - position >= header) {
    const std::uint8_t* chunk = data.data() + position;
    const std::uint32_t length = bigEndian32(chunk);
    if (length > 0x7fffffffu || std::size_t{length} + checksum > data.size() - position - header) {
      return std::nullopt;
    }
    const std::size_t size = header + length + checksum;
    const bool wanted = std::any_of(kept.begin(), kept.end(), [chunk](const auto& type) {
      return std::equal(type.begin(), type.end(), chunk + 4);
    });
    if (wanted) {
      result.insert(result.end(), chunk, chunk + size);
    }
    if (std::equal(kept[0].begin(), kept[0].end(), chunk + 4) && length == 13) {
      imageHeader = chunk + header;
    } else if (std::equal(kept[2].begin(), kept[2].end(), chunk + 4)) {
      imageDataBytes += length;
    }
    position += size;
    if (std::equal(kept[3].begin(), kept[3].end(), chunk + 4)) {
      break;  // IEND: whatever follows is not part of the picture
    }
  }
  if (imageHeader != nullptr && !pngDataLongEnough(imageHeader, imageDataBytes)) {
    return std::nullopt;
  }
  if (position >= data.size()) {
    return result;
  }
  // Fewer bytes left than a chunk header: libpng tells whether what came before makes a picture.
  result.insert(result.end(), data.begin() + position, data.end());
  return result;
}

}  // namespace

std::optional<Image> redraw(const Image& image, int width, int height, PixelFormat format) {
  if (image.empty() || width < 1 || height < 1) {
    return std::nullopt;
  }
  if (format == image.format()) {
    return resample(image, width, height);
  }
  // Luma and resampling are both linear, so their order only changes the cost: convert on
  // whichever side has fewer pixels.
  const std::int64_t before = std::int64_t{image.width()} * image.height();
  const std::int64_t after = std::int64_t{width} * height;
  if (after < before) {
    return convert(resample(image, width, height), format);
  }
  return resample(convert(image, format), width, height);
}

std::optional<Image> scale(const Image& image, int maxWidth, bool grey) {
  if (image.empty() || maxWidth < 1) {
    return std::nullopt;
  }
  if (maxWidth >= image.width() && !grey) {
    return image;
  }
  const int width = std::min(image.width(), maxWidth);
  const double exact = static_cast<double>(image.height()) * width / image.width();
  const int height = std::max(1, static_cast<int>(std::lround(exact)));
  return redraw(image, width, height, grey ? PixelFormat::grey : PixelFormat::rgbx);
}

std::optional<Bytes> jpeg(const Image& image, double quality) {
  if (image.empty() || !std::isfinite(quality)) {
    return std::nullopt;
  }
  TurboJPEGHandle handle(tjInitCompress());
  if (!handle) {
    return std::nullopt;
  }
  const bool grey = image.format() == PixelFormat::grey;
  const int level = std::clamp(static_cast<int>(std::lround(quality * 100.0)), 1, 100);
  unsigned char* output = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(
      handle.get(), image.row(0), image.width(), static_cast<int>(image.stride()), image.height(),
      grey ? TJPF_GRAY : TJPF_RGBX, &output, &size, grey ? TJSAMP_GRAY : TJSAMP_420, level, 0);
  std::unique_ptr<unsigned char, TurboJPEGBufferDeleter> owned(output);
  if (result != 0 || owned == nullptr) {
    return std::nullopt;
  }
  return Bytes(owned.get(), owned.get() + size);
}

namespace {

// Whether the file is long enough for a picture that large. A Huffman-coded JPEG spends at least
// one bit on every 8 x 8 block of its most finely sampled component; without this a 25-byte
// header promising 64 million pixels cost a quarter of a gigabyte and seconds before the decoder
// found the data missing. Arithmetic-coded files, which can be denser but which nothing this
// program reads is written as, are held to the same bound, since a header alone cannot be told
// from a picture there.
bool jpegDataLongEnough(std::span<const std::uint8_t> data, std::int64_t width,
                        std::int64_t height) {
  const std::int64_t blocks = ((width + 7) / 8) * ((height + 7) / 8);
  return static_cast<std::int64_t>(data.size()) * 8 >= blocks;
}

}  // namespace

std::optional<Image> decodeJPEG(std::span<const std::uint8_t> data) {
  if (data.empty()) {
    return std::nullopt;
  }
  TurboJPEGHandle handle(tjInitDecompress());
  if (!handle) {
    return std::nullopt;
  }
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colourSpace = 0;
  if (tjDecompressHeader3(handle.get(), data.data(), data.size(), &width, &height, &subsampling,
                          &colourSpace) != 0 ||
      !withinDecodeLimit(width, height) || !jpegDataLongEnough(data, width, height)) {
    return std::nullopt;
  }
  Image image(width, height, PixelFormat::rgbx);
  // Warnings mean damaged data: such a picture is refused rather than shown half grey.
  // The scan limit stops progressive files crafted to take minutes to decode.
  if (tjDecompress2(handle.get(), data.data(), data.size(), image.row(0), width,
                    static_cast<int>(image.stride()), height, TJPF_RGBX,
                    TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0) {
    return std::nullopt;
  }
  return image;
}

std::optional<Image> decodePNG(std::span<const std::uint8_t> data) {
  if (data.empty()) {
    return std::nullopt;
  }
  const std::optional<Bytes> essential = essentialPNGChunks(data);
  if (!essential) {
    return std::nullopt;
  }
  png_image control{};
  control.version = PNG_IMAGE_VERSION;
  std::unique_ptr<png_image, PNGImageDeleter> guard(&control);
  if (png_image_begin_read_from_memory(&control, essential->data(), essential->size()) == 0 ||
      !withinDecodeLimit(control.width, control.height)) {
    return std::nullopt;
  }
  control.format = PNG_FORMAT_RGBA;
  Image image(static_cast<int>(control.width), static_cast<int>(control.height), PixelFormat::rgbx);
  if (png_image_finish_read(&control, nullptr, image.row(0),
                            static_cast<png_int_32>(image.stride()), nullptr) == 0) {
    return std::nullopt;
  }
  for (int y = 0; y < image.height(); ++y) {
    std::uint8_t* pixel = image.row(y);
    for (int x = 0; x < image.width(); ++x, pixel += 4) {
      const int alpha = pixel[3];
      if (alpha != 0xff) {
        for (int c = 0; c < 3; ++c) {
          pixel[c] =
              static_cast<std::uint8_t>((pixel[c] * alpha + 255 * (255 - alpha) + 127) / 255);
        }
        pixel[3] = 0xff;
      }
    }
  }
  return image;
}

std::optional<Image> decode(std::span<const std::uint8_t> data) {
  static constexpr std::uint8_t jpegMagic[] = {0xff, 0xd8, 0xff};
  static constexpr std::uint8_t pngMagic[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (data.size() >= sizeof jpegMagic &&
      std::equal(std::begin(jpegMagic), std::end(jpegMagic), data.begin())) {
    return decodeJPEG(data);
  }
  if (data.size() >= sizeof pngMagic &&
      std::equal(std::begin(pngMagic), std::end(pngMagic), data.begin())) {
    return decodePNG(data);
  }
  return std::nullopt;
}

bool isSingleColour(const Image& image) {
  if (image.empty())
    return true;
  const int size = bytesPerPixel(image.format());
  const int compared = image.format() == PixelFormat::rgbx ? 3 : 1;
  const std::uint8_t* first = image.row(0);
  for (int y = 0; y < image.height(); ++y) {
    const std::uint8_t* pixel = image.row(y);
    for (int x = 0; x < image.width(); ++x, pixel += size)
      if (std::memcmp(pixel, first, compared) != 0)
        return false;
  }
  return true;
}

}  // namespace vistrel::Imaging
