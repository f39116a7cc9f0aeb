#include <gtest/gtest.h>

#include "VistrelKit/imaging/FrameSignature.h"

namespace vistrel {
namespace {

Image halves(int width, int height, std::uint8_t left, std::uint8_t right) {
  Image image(width, height, PixelFormat::rgbx);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.row(y) + x * 4;
      p[0] = p[1] = p[2] = x < width / 2 ? left : right;
    }
  }
  return image;
}

FrameSignature uniform(std::uint8_t value) {
  return FrameSignature{
      std::vector<std::uint8_t>(FrameSignature::width * FrameSignature::height, value)};
}

TEST(FrameSignatureTest, SqueezesAnyScreenIntoTheGrid) {
  for (auto [width, height] :
       {std::pair{1600, 1000}, std::pair{2880, 1800}, std::pair{1000, 1000}, std::pair{200, 30}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    const auto signature = FrameSignature::from(halves(width, height, 0, 255));
    ASSERT_TRUE(signature);
    ASSERT_EQ(signature->luma.size(), 2560u);
    for (int y : {0, 20, 39}) {
      EXPECT_LE(signature->luma[y * 64 + 2], 8);
      EXPECT_GE(signature->luma[y * 64 + 61], 247);
    }
  }
}

TEST(FrameSignatureTest, EmptyImageHasNoSignature) {
  EXPECT_FALSE(FrameSignature::from(Image()));
}

TEST(FrameSignatureTest, IdenticalImagesDoNotDiffer) {
  const auto a = FrameSignature::from(halves(1600, 1000, 30, 220));
  const auto b = FrameSignature::from(halves(1600, 1000, 30, 220));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);
  EXPECT_EQ(a->difference(*b, 8), 0.0);
}

TEST(FrameSignatureTest, EmptyOrMismatchedSignaturesDifferEntirely) {
  const FrameSignature full = uniform(100);
  const FrameSignature empty;
  FrameSignature shorter = full;
  shorter.luma.pop_back();
  EXPECT_EQ(full.difference(empty, 8), 1.0);
  EXPECT_EQ(empty.difference(full, 8), 1.0);
  EXPECT_EQ(empty.difference(empty, 8), 1.0);
  EXPECT_EQ(full.difference(shorter, 8), 1.0);
}

TEST(FrameSignatureTest, OnlyChangesBeyondTheToleranceCount) {
  struct Case {
    int delta;
    double expected;
  };
  for (const Case& c :
       {Case{0, 0.0}, Case{7, 0.0}, Case{8, 0.0}, Case{9, 1.0}, Case{-8, 0.0}, Case{-9, 1.0}}) {
    SCOPED_TRACE(c.delta);
    const FrameSignature base = uniform(100);
    const FrameSignature changed = uniform(static_cast<std::uint8_t>(100 + c.delta));
    EXPECT_EQ(changed.difference(base, 8), c.expected);
    EXPECT_EQ(base.difference(changed, 8), c.expected);
  }
}

TEST(FrameSignatureTest, TenChangedPositionsStayBelowTheRecorderThresholdElevenReachIt) {
  const FrameSignature base = uniform(100);
  FrameSignature changed = base;
  for (int i = 0; i < 10; ++i) {
    changed.luma[i * 200] = 140;
  }
  EXPECT_NEAR(changed.difference(base, 8), 0.0039, 0.00005);
  EXPECT_LT(changed.difference(base, 8), 0.004);
  changed.luma[2559] = 0;
  EXPECT_NEAR(changed.difference(base, 8), 0.0043, 0.00005);
  EXPECT_GE(changed.difference(base, 8), 0.004);
}

}  // namespace
}  // namespace vistrel
