#include <gtest/gtest.h>

#include "Vistrel/platform/Probes.h"
#include "tests/Vistrel/platform/FakeProbes.h"

namespace vistrel {
namespace {

using testing::FakeProbes;

struct SizeCase {
  int width;
  int height;
  int maxWidth;
  PixelSize expected;
};

TEST(CaptureSize, StaysWithinMaxWidthInTheDisplaysAspectRatio) {
  const SizeCase cases[] = {
      {1920, 1080, 1600, {1600, 900}},
      {1920, 1080, 4000, {1920, 1080}},
      {1920, 1080, 1920, {1920, 1080}},
      {3024, 1964, 1600, {1600, 1039}},  // 1039.15 rounds down
      {3024, 1964, 4000, {3024, 1964}},
      {1000, 999, 500, {500, 500}},  // 499.5 rounds away from zero
      {1080, 1920, 600, {600, 1067}},
      {1920, 1080, 0, {1, 1}},  // never an empty image
  };
  for (const auto& c : cases) {
    EXPECT_EQ(captureSize(c.width, c.height, c.maxWidth), c.expected)
        << c.width << "x" << c.height << " at most " << c.maxWidth;
  }
}

TEST(ChooseDisplay, TakesTheFirstDisplayHoldingTheCentreElseTheFirst) {
  const std::vector<DisplayFrame> displays = {
      {0, 0, 1920, 1080}, {1920, 0, 2560, 1440}, {-1280, 200, 1280, 1024}};
  EXPECT_EQ(chooseDisplay(displays, std::nullopt), 0u);
  EXPECT_EQ(chooseDisplay(displays, Point{960, 540}), 0u);
  EXPECT_EQ(chooseDisplay(displays, Point{2000, 100}), 1u);
  EXPECT_EQ(chooseDisplay(displays, Point{-10, 700}), 2u);
  // Edges: the right and bottom edge belong to the next display, or to none.
  EXPECT_EQ(chooseDisplay(displays, Point{1920, 10}), 1u);
  EXPECT_EQ(chooseDisplay(displays, Point{1919.5, 10}), 0u);
  EXPECT_EQ(chooseDisplay(displays, Point{100, 1080}), 0u) << "on no display: the first";
  EXPECT_EQ(chooseDisplay(displays, Point{-5000, -5000}), 0u);
  EXPECT_EQ(chooseDisplay({}, Point{1, 1}), std::nullopt);
  // Overlapping (mirrored) displays: the first in the list wins.
  EXPECT_EQ(chooseDisplay({{0, 0, 800, 600}, {0, 0, 1024, 768}}, Point{10, 10}), 0u);
}

TEST(FakeProbes, CapturesTheDisplayUnderTheFrontWindow) {
  FakeProbes probes;
  probes.state().displays = {{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}};

  const Image second = probes.captureScreen({}, Point{3000, 700}, 1600).image;
  EXPECT_EQ(second.width(), 1600);
  EXPECT_EQ(second.height(), 900);
  EXPECT_EQ(second.format(), PixelFormat::rgbx);
  EXPECT_EQ(second.row(899)[4 * 1599], FakeProbes::colorOfDisplay(1)[0]);

  const Image first = probes.captureScreen({}, std::nullopt, 4000).image;
  EXPECT_EQ(first.width(), 1920);
  EXPECT_EQ(first.height(), 1080);
  EXPECT_EQ(first.row(0)[0], FakeProbes::colorOfDisplay(0)[0]);

  const auto calls = probes.captures();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].display, 1u);
  EXPECT_EQ(calls[0].center, (Point{3000, 700}));
  EXPECT_EQ(calls[0].maxWidth, 1600);
  EXPECT_EQ(calls[1].display, 0u);
}

TEST(FakeProbes, FailsWithNoDisplayAndPassesOnPlatformFailures) {
  FakeProbes probes;
  probes.state().displays.clear();
  try {
    probes.captureScreen({}, std::nullopt, 1600).image;
    FAIL() << "captured without a display";
  } catch (const CaptureError& error) {
    EXPECT_EQ(error.code(), CaptureError::Code::noDisplay);
    EXPECT_STREQ(error.what(), "No display to capture");
  }

  probes.state().displays = {{0, 0, 100, 100}};
  probes.state().captureFailure =
      std::make_exception_ptr(std::runtime_error("The screenshot service stopped"));
  EXPECT_THROW(probes.captureScreen({}, std::nullopt, 1600).image, std::runtime_error);
  EXPECT_TRUE(probes.captures().empty());
}

TEST(FakeProbes, RequestGrantsThePermissionOnlyWhenTold) {
  FakeProbes probes;
  probes.state().permission = false;
  probes.state().grantOnRequest = false;
  EXPECT_FALSE(probes.requestScreenRecordingPermission());
  EXPECT_FALSE(probes.hasScreenRecordingPermission());
  probes.state().grantOnRequest = true;
  EXPECT_TRUE(probes.requestScreenRecordingPermission());
  EXPECT_TRUE(probes.hasScreenRecordingPermission());
  EXPECT_EQ(probes.permissionRequests(), 2);
}

}  // namespace
}  // namespace vistrel
