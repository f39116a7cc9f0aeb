#include <gtest/gtest.h>

#include "Vistrel/platform/linux/PixelScaling.h"

namespace vistrel {
namespace {

std::vector<std::uint8_t> solid(int width, int height, std::array<std::uint8_t, 4> pixel) {
  std::vector<std::uint8_t> pixels;
  for (int i = 0; i < width * height; ++i) {
    pixels.insert(pixels.end(), pixel.begin(), pixel.end());
  }
  return pixels;
}

TEST(ScaleToRGBX, ReordersChannelsAndKeepsSolidColours) {
  // Blue, green, red, unused: the usual layout of a 24-bit X server on little-endian machines.
  const auto pixels = solid(1920, 1080, {30, 120, 210, 0});
  const Image image = scaleToRGBX(pixels.data(), 1920, 1080, 1920 * 4, {2, 1, 0}, 1600, 900);
  ASSERT_EQ(image.width(), 1600);
  ASSERT_EQ(image.height(), 900);
  ASSERT_EQ(image.format(), PixelFormat::rgbx);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const std::uint8_t* pixel = image.row(y) + 4 * x;
      ASSERT_EQ(pixel[0], 210);
      ASSERT_EQ(pixel[1], 120);
      ASSERT_EQ(pixel[2], 30);
      ASSERT_EQ(pixel[3], 255);
    }
  }
}

TEST(ScaleToRGBX, AveragesTheAreaEachPixelCovers) {
  // Columns alternate black and white; halving averages each pair to mid grey.
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 8; ++x) {
      const std::uint8_t v = x % 2 ? 255 : 0;
      pixels.insert(pixels.end(), {v, v, v, 0});
    }
  }
  const Image half = scaleToRGBX(pixels.data(), 8, 4, 32, {0, 1, 2}, 4, 2);
  for (int y = 0; y < half.height(); ++y) {
    for (int x = 0; x < half.width(); ++x) {
      EXPECT_EQ(half.row(y)[4 * x], 128);
    }
  }
  // Three source pixels (0, 255, 0) into two: each output covers one and a half of them.
  const std::uint8_t row[] = {0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0};
  const Image thirds = scaleToRGBX(row, 3, 1, 12, {0, 1, 2}, 2, 1);
  EXPECT_EQ(thirds.row(0)[0], 85);  // (0 × 1 + 255 × 0.5) / 1.5
  EXPECT_EQ(thirds.row(0)[4], 85);
}

TEST(ScaleToRGBX, CopiesAtTheSameSizeAndHonoursTheStride) {
  // Two pixels a row and eight bytes of padding after each row.
  const std::uint8_t pixels[] = {1, 2, 3, 0, 4,  5,  6,  0, 9, 9, 9, 9, 9, 9, 9, 9,
                                 7, 8, 9, 0, 10, 11, 12, 0, 9, 9, 9, 9, 9, 9, 9, 9};
  const Image image = scaleToRGBX(pixels, 2, 2, 16, {0, 1, 2}, 2, 2);
  const std::vector<std::uint8_t> expected = {1, 2, 3, 255, 4,  5,  6,  255,
                                              7, 8, 9, 255, 10, 11, 12, 255};
  std::vector<std::uint8_t> got;
  for (int y = 0; y < image.height(); ++y) {
    got.insert(got.end(), image.row(y), image.row(y) + 4 * image.width());
  }
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace vistrel
