#include "Vistrel/platform/linux/PixelScaling.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vistrel {
namespace {

constexpr int weightBits = 14;
constexpr int weightOne = 1 << weightBits;

// For every output position, the run of source positions it covers and their integer weights,
// which add up to exactly weightOne.
struct Taps {
  std::vector<int> first;
  std::vector<int> count;
  std::vector<int> offset;
  std::vector<std::int32_t> weights;
};

Taps makeTaps(int in, int out) {
  Taps taps;
  const double scale = double(in) / out;
  for (int i = 0; i < out; ++i) {
    const double start = i * scale;
    const double end = std::min(double(in), (i + 1) * scale);
    const int first = std::min(in - 1, int(std::floor(start)));
    const int last = std::max(first + 1, std::min(in, int(std::ceil(end))));
    taps.first.push_back(first);
    taps.count.push_back(last - first);
    taps.offset.push_back(int(taps.weights.size()));
    const double span = std::max(end - start, 1e-9);
    double covered = 0;
    int given = 0;
    for (int j = first; j < last; ++j) {
      covered += std::max(0.0, std::min(end, j + 1.0) - std::max(start, double(j)));
      const int total = int(std::lround(std::min(1.0, covered / span) * weightOne));
      taps.weights.push_back(total - given);
      given = total;
    }
    taps.weights.back() += weightOne - given;
  }
  return taps;
}

std::uint8_t settle(std::int32_t sum) {
  return std::uint8_t(std::clamp((sum + weightOne / 2) >> weightBits, 0, 255));
}

}  // namespace

CapturedImage scaleToRGBX(const std::uint8_t* pixels, int width, int height, int stride,
                          std::array<int, 3> channelBytes, int outWidth, int outHeight) {
  const auto [r, g, b] = channelBytes;

  // Horizontal pass into RGBX rows of the output width, one per source row.
  const int rowBytes = outWidth * 4;
  std::vector<std::uint8_t> columns(std::size_t(rowBytes) * height);
  const Taps across = makeTaps(width, outWidth);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* source = pixels + std::size_t(stride) * y;
    std::uint8_t* target = columns.data() + std::size_t(rowBytes) * y;
    for (int x = 0; x < outWidth; ++x) {
      std::int32_t sumR = 0, sumG = 0, sumB = 0;
      const std::int32_t* weights = across.weights.data() + across.offset[x];
      const std::uint8_t* pixel = source + std::size_t(across.first[x]) * 4;
      for (int k = 0; k < across.count[x]; ++k, pixel += 4) {
        sumR += pixel[r] * weights[k];
        sumG += pixel[g] * weights[k];
        sumB += pixel[b] * weights[k];
      }
      target[4 * x + 0] = settle(sumR);
      target[4 * x + 1] = settle(sumG);
      target[4 * x + 2] = settle(sumB);
      target[4 * x + 3] = 255;
    }
  }

  // Vertical pass: each output row is a weighted sum of whole rows, which vectorizes well.
  CapturedImage image{outWidth, outHeight, rowBytes,
                      Bytes(std::size_t(rowBytes) * outHeight)};
  const Taps down = makeTaps(height, outHeight);
  std::vector<std::int32_t> sums(rowBytes);
  for (int y = 0; y < outHeight; ++y) {
    std::fill(sums.begin(), sums.end(), 0);
    for (int k = 0; k < down.count[y]; ++k) {
      const std::int32_t weight = down.weights[down.offset[y] + k];
      const std::uint8_t* row = columns.data() + std::size_t(rowBytes) * (down.first[y] + k);
      for (int i = 0; i < rowBytes; ++i) {
        sums[i] += row[i] * weight;
      }
    }
    std::uint8_t* target = image.pixels.data() + std::size_t(rowBytes) * y;
    for (int i = 0; i < rowBytes; ++i) {
      target[i] = settle(sums[i]);
    }
  }
  return image;
}

}  // namespace vistrel
