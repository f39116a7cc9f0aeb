#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/ocr/TextLayout.h"
#include "tests/support/ScreenFixtures.h"

namespace vistrel {
namespace {

using fixtures::Screen;

Image greyOf(const Screen& screen) {
  const std::optional<Image> colour = fixtures::render(screen);
  if (!colour) {
    ADD_FAILURE() << "ImageMagick could not draw " << screen.name();
    return Image(screen.width(), screen.height(), PixelFormat::grey);
  }
  return *Imaging::scale(*colour, colour->width(), true);
}

std::vector<PixelBox> sorted(std::vector<PixelBox> boxes) {
  std::sort(boxes.begin(), boxes.end(), [](const PixelBox& a, const PixelBox& b) {
    return std::tie(a.top, a.left) < std::tie(b.top, b.left);
  });
  return boxes;
}

TEST(TextLayoutTest, FindsOneBoxPerLineAndKeepsColumnsApart) {
  using namespace fixtures;
  Screen screen("columns", 600, 200, light);
  screen.text(20, 50, sans, 14, light.text, "Quarterly revenue summary");
  screen.text(320, 50, sans, 14, light.text, "Shipping address");
  screen.text(20, 90, sans, 14, light.text, "Invoice paid in full");
  const std::vector<PixelBox> boxes = sorted(findTextLines(greyOf(screen)));
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_NEAR(boxes[0].left, 20, 2);
  EXPECT_LT(boxes[0].right, 300);
  EXPECT_NEAR(boxes[1].left, 320, 2);
  EXPECT_NEAR(boxes[2].left, 20, 2);
  EXPECT_GT(boxes[2].top, boxes[0].bottom);
  for (const PixelBox& box : boxes) {
    EXPECT_GE(box.height(), 10);
    EXPECT_LE(box.height(), 18);
  }
}

// A screenshot read without knowing its windows: two windows side by side, their rows close
// enough to be one line were it not for the change of background between them.
TEST(TextLayoutTest, LinesStopWhereOneWindowMeetsTheNext) {
  using namespace fixtures;
  Screen screen("windows", 640, 160, dark);
  screen.rect(276, 0, 364, 160, light.background);
  screen.text(12, 60, mono, 16, dark.text, "Second row of the terminal");
  screen.text(282, 60, mono, 16, light.text, "Quarterly ledger closes");
  const std::vector<PixelBox> boxes = sorted(findTextLines(greyOf(screen)));
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_LE(boxes.front().right, 276);
  EXPECT_GE(boxes.back().left, 276);
  for (const PixelBox& box : boxes) {
    EXPECT_TRUE(box.right <= 276 || box.left >= 276) << box.left << "–" << box.right;
  }
}

TEST(TextLayoutTest, MarksBridgeWordsOfOneLine) {
  using namespace fixtures;
  Screen screen("code", 500, 80, dark);
  screen.text(20, 40, mono, 13, dark.text, "total = sum(values) - 1");
  const std::vector<PixelBox> boxes = findTextLines(greyOf(screen));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_GT(boxes[0].width(), 140);
}

TEST(TextLayoutTest, GridLinesAreNotPartOfTheText) {
  using namespace fixtures;
  Screen screen("grid", 500, 140, light);
  for (int x : {10, 130, 290, 490}) {
    screen.rect(x, 10, 1, 121, "#c8c8c8");
  }
  for (int y : {10, 40, 70, 100, 130}) {
    screen.rect(10, y, 481, 1, "#c8c8c8");
  }
  const int columns[] = {16, 136, 296};
  for (int row = 0; row < 4; ++row) {
    for (int column : columns) {
      screen.text(column, 31 + row * 30, sans, 13, light.text, row == 0 ? "Amount" : "48215.90");
    }
  }
  const std::vector<PixelBox> boxes = findTextLines(greyOf(screen));
  ASSERT_EQ(boxes.size(), 12u);
  for (const PixelBox& box : boxes) {
    SCOPED_TRACE(testing::Message()
                 << box.left << "," << box.top << " " << box.right << "," << box.bottom);
    const bool insideACell = std::any_of(std::begin(columns), std::end(columns), [&](int left) {
      return box.left >= left - 1 && box.right <= left + 110;
    });
    EXPECT_TRUE(insideACell);
    EXPECT_LE(box.height(), 16);
  }
}

TEST(TextLayoutTest, AnAvatarDoesNotFuseTheTwoLinesBesideIt) {
  using namespace fixtures;
  Screen screen("avatar", 400, 100, light);
  screen.circle(38, 50, 18, light.accent);
  screen.text(66, 45, sansBold, 14, light.text, "Marco Conti");
  screen.text(66, 66, sans, 13, light.secondary, "to me, May 18");
  const std::vector<PixelBox> boxes = findTextLines(greyOf(screen));
  const auto textLines = std::count_if(boxes.begin(), boxes.end(), [](const PixelBox& box) {
    return box.left >= 60 && box.height() <= 18;
  });
  EXPECT_EQ(textLines, 2);
  for (const PixelBox& box : boxes) {
    EXPECT_LE(box.height(), 38);
  }
}

TEST(TextLayoutTest, DarkAndLightThemesGiveTheSameBoxes) {
  using namespace fixtures;
  Screen lit("lit", 500, 120, light);
  Screen unlit("unlit", 500, 120, dark);
  for (Screen* screen : {&lit, &unlit}) {
    screen->text(20, 40, sans, 13, screen == &lit ? light.text : dark.text,
                 "Meeting moved to Friday");
    screen->text(20, 80, sans, 16, screen == &lit ? light.text : dark.text, "Budget review");
  }
  const std::vector<PixelBox> litBoxes = sorted(findTextLines(greyOf(lit)));
  const std::vector<PixelBox> unlitBoxes = sorted(findTextLines(greyOf(unlit)));
  ASSERT_EQ(litBoxes.size(), 2u);
  ASSERT_EQ(unlitBoxes.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NEAR(litBoxes[i].left, unlitBoxes[i].left, 1);
    EXPECT_NEAR(litBoxes[i].top, unlitBoxes[i].top, 1);
    EXPECT_NEAR(litBoxes[i].right, unlitBoxes[i].right, 1);
    EXPECT_NEAR(litBoxes[i].bottom, unlitBoxes[i].bottom, 1);
  }
}

TEST(TextLayoutTest, BoxesDependOnlyOnTheirSurroundings) {
  using namespace fixtures;
  const Screen screen = mailScreen(light, 13, 5, 800, 500);
  Image changed = greyOf(screen);
  const std::vector<PixelBox> before = findTextLines(changed);
  // Something else is shown right of x = 500.
  for (int y = 60; y < 400; ++y) {
    for (int x = 500; x < 800; ++x) {
      changed.row(y)[x] = static_cast<std::uint8_t>((x / 7 + y / 11) % 2 ? 30 : 220);
    }
  }
  const std::vector<PixelBox> after = findTextLines(changed);
  int unchanged = 0;
  for (const PixelBox& box : before) {
    if (box.right < 480) {
      EXPECT_NE(std::find(after.begin(), after.end(), box), after.end());
      ++unchanged;
    }
  }
  EXPECT_GT(unchanged, 20);
}

TEST(TextLayoutTest, BlankImagesHaveNoLinesAndColourIsRefused) {
  EXPECT_TRUE(findTextLines(Image(300, 200, PixelFormat::grey)).empty());
  EXPECT_TRUE(findTextLines(Image(1, 1, PixelFormat::grey)).empty());
  EXPECT_TRUE(findTextLines(Image()).empty());
  EXPECT_THROW(findTextLines(Image(10, 10, PixelFormat::rgbx)), std::invalid_argument);
}

}  // namespace
}  // namespace vistrel
