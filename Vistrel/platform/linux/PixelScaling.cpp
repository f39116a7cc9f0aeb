#include "Vistrel/platform/linux/PixelScaling.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vistrel {
namespace {

// Weights of eight bits keep every sum of products (at most 255 × 256) within 16 bits, so the
// passes below run on 16-bit lanes.
constexpr int weightBits = 8;
constexpr int weightOne = 1 << weightBits;

// For every output position, the run of source positions it covers and their weights, which
// add up to exactly weightOne. Every run is padded to the same length with zero weights (inside
// the source), so that the inner loops have a fixed trip count.
struct Taps {
  int length = 0;
  std::vector<int> first;
  std::vector<std::uint16_t> weights;  // `length` per output position
};

Taps makeTaps(int in, int out) {
  const double scale = double(in) / out;
  std::vector<std::vector<std::uint16_t>> runs(out);
  Taps taps;
  taps.first.resize(out);
  for (int i = 0; i < out; ++i) {
    const double start = i * scale;
    const double end = std::min(double(in), (i + 1) * scale);
    const int first = std::min(in - 1, int(std::floor(start)));
    const int last = std::max(first + 1, std::min(in, int(std::ceil(end))));
    const double span = std::max(end - start, 1e-9);
    double covered = 0;
    int given = 0;
    for (int j = first; j < last; ++j) {
      covered += std::max(0.0, std::min(end, j + 1.0) - std::max(start, double(j)));
      const int total = int(std::lround(std::min(1.0, covered / span) * weightOne));
      runs[i].push_back(std::uint16_t(total - given));
      given = total;
    }
    runs[i].back() = std::uint16_t(runs[i].back() + weightOne - given);
    taps.first[i] = first;
    taps.length = std::max(taps.length, last - first);
  }
  taps.weights.assign(std::size_t(out) * taps.length, 0);
  for (int i = 0; i < out; ++i) {
    // Shift a run back where padding would pass the end of the source.
    const int shift = std::max(0, taps.first[i] + taps.length - in);
    taps.first[i] -= shift;
    std::copy(runs[i].begin(), runs[i].end(),
              taps.weights.begin() + std::size_t(i) * taps.length + shift);
  }
  return taps;
}

std::uint8_t settle(std::uint32_t sum) {
  return std::uint8_t(std::min<std::uint32_t>(255, (sum + weightOne / 2) >> weightBits));
}

// One output row of the horizontal pass. The tap count and channel order are compile-time
// constants in the common cases, which keeps the sums in registers.
template <int length, int r, int g, int b>
void scaleRow(const std::uint8_t* source, std::uint8_t* target, const Taps& taps) {
  const int outWidth = int(taps.first.size());
  for (int x = 0; x < outWidth; ++x) {
    const std::uint16_t* weights = taps.weights.data() + std::size_t(x) * length;
    const std::uint8_t* pixel = source + std::size_t(taps.first[x]) * 4;
    std::uint32_t sum[4] = {0, 0, 0, 0};
    for (int k = 0; k < length; ++k) {
      for (int c = 0; c < 4; ++c) {
        sum[c] += pixel[4 * k + c] * weights[k];
      }
    }
    target[4 * x + 0] = settle(sum[r]);
    target[4 * x + 1] = settle(sum[g]);
    target[4 * x + 2] = settle(sum[b]);
    target[4 * x + 3] = 255;
  }
}

void scaleRowAnyOrder(const std::uint8_t* source, std::uint8_t* target, const Taps& taps,
                      std::array<int, 3> channelBytes) {
  const int outWidth = int(taps.first.size());
  for (int x = 0; x < outWidth; ++x) {
    const std::uint16_t* weights = taps.weights.data() + std::size_t(x) * taps.length;
    const std::uint8_t* pixel = source + std::size_t(taps.first[x]) * 4;
    for (int c = 0; c < 3; ++c) {
      std::uint32_t sum = 0;
      for (int k = 0; k < taps.length; ++k) {
        sum += pixel[4 * k + channelBytes[c]] * weights[k];
      }
      target[4 * x + c] = settle(sum);
    }
    target[4 * x + 3] = 255;
  }
}

using RowScaler = void (*)(const std::uint8_t*, std::uint8_t*, const Taps&);

template <int r, int g, int b>
RowScaler rowScalerFor(int length) {
  switch (length) {
    case 1:
      return scaleRow<1, r, g, b>;
    case 2:
      return scaleRow<2, r, g, b>;
    case 3:
      return scaleRow<3, r, g, b>;
    case 4:
      return scaleRow<4, r, g, b>;
    case 5:
      return scaleRow<5, r, g, b>;
    default:
      return nullptr;
  }
}

RowScaler rowScalerFor(int length, std::array<int, 3> channelBytes) {
  if (channelBytes == std::array{2, 1, 0}) {
    return rowScalerFor<2, 1, 0>(length);
  }
  if (channelBytes == std::array{0, 1, 2}) {
    return rowScalerFor<0, 1, 2>(length);
  }
  if (channelBytes == std::array{1, 2, 3}) {
    return rowScalerFor<1, 2, 3>(length);
  }
  return nullptr;
}

}  // namespace

Image scaleToRGBX(const std::uint8_t* pixels, int width, int height, int stride,
                  std::array<int, 3> channelBytes, int outWidth, int outHeight) {
  Image image = Image::forOverwrite(outWidth, outHeight, PixelFormat::rgbx);
  const Taps down = makeTaps(height, outHeight);
  const Taps across = makeTaps(width, outWidth);
  const RowScaler scaleFast = rowScalerFor(across.length, channelBytes);
  const int sourceRowBytes = width * 4;
  std::vector<std::uint16_t> sums(sourceRowBytes);
  std::vector<std::uint8_t> row(sourceRowBytes);
  for (int y = 0; y < outHeight; ++y) {
    // Vertical first: a weighted sum of whole source rows, contiguous bytes that vectorize.
    std::fill(sums.begin(), sums.end(), 0);
    for (int k = 0; k < down.length; ++k) {
      const std::uint16_t weight = down.weights[std::size_t(y) * down.length + k];
      if (weight == 0) {
        continue;
      }
      const std::uint8_t* source = pixels + std::size_t(stride) * (down.first[y] + k);
      for (int i = 0; i < sourceRowBytes; ++i) {
        sums[i] = std::uint16_t(sums[i] + source[i] * weight);
      }
    }
    for (int i = 0; i < sourceRowBytes; ++i) {
      row[i] = std::uint8_t((sums[i] + weightOne / 2) >> weightBits);
    }
    // Then across, all four bytes of a pixel at once, into red, green, blue, 255.
    std::uint8_t* target = image.row(y);
    if (scaleFast) {
      scaleFast(row.data(), target, across);
    } else {
      scaleRowAnyOrder(row.data(), target, across, channelBytes);
    }
  }
  return image;
}

}  // namespace vistrel
