#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/ocr/TextRecognizer.h"
#include "tests/support/ScreenFixtures.h"

namespace vistrel {
namespace {

using fixtures::Screen;

std::vector<std::string> readTokens(const std::vector<TextLine>& lines) {
  std::vector<std::string> tokens;
  for (const TextLine& line : lines) {
    for (std::string& token : fixtures::tokens(line.text)) {
      tokens.push_back(std::move(token));
    }
  }
  return tokens;
}

Image rendered(const Screen& screen) {
  std::optional<Image> image = fixtures::render(screen);
  if (!image) {
    ADD_FAILURE() << "ImageMagick could not draw " << screen.name();
    return Image(screen.width(), screen.height(), PixelFormat::rgbx);
  }
  return std::move(*image);
}

// One engine for the suite: loading the language data is the slow part of setting one up.
class TextRecognizerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { recognizer = std::make_unique<TextRecognizer>(); }
  static void TearDownTestSuite() { recognizer.reset(); }
  static inline std::unique_ptr<TextRecognizer> recognizer;
};

TEST_F(TextRecognizerTest, ReadsSmallScreensLightAndDarkAt11To16Pixels) {
  using namespace fixtures;
  const Screen screens[] = {
      columnsScreen(light, 11, 1, 800, 500),     mailScreen(dark, 13, 2, 800, 500),
      documentScreen(light, 16, 3, 800, 500),    codeEditorScreen(dark, 12, 4, 800, 500),
      spreadsheetScreen(light, 14, 5, 800, 500), documentScreen(dark, 11, 6, 800, 500),
  };
  for (const Screen& screen : screens) {
    SCOPED_TRACE(screen.name());
    const std::vector<TextLine> lines = recognizer->recognize(rendered(screen));
    EXPECT_GE(recall(screen.words(), readTokens(lines)), 0.96);
    for (const TextLine& line : lines) {
      ASSERT_FALSE(line.text.empty());
      EXPECT_FALSE(std::isspace(static_cast<unsigned char>(line.text.front())));
      EXPECT_FALSE(std::isspace(static_cast<unsigned char>(line.text.back())));
      EXPECT_GE(line.x, 0.0);
      EXPECT_GE(line.y, 0.0);
      EXPECT_LE(line.x + line.w, 1.0 + 1e-9);
      EXPECT_LE(line.y + line.h, 1.0 + 1e-9);
    }
  }
}

TEST_F(TextRecognizerTest, ImagesWithoutTextGiveNoLines) {
  using namespace fixtures;
  // Panels, separators, a table grid and a soft gradient, but not a single glyph.
  Screen chrome("chrome", 640, 400, dark);
  chrome.rect(0, 0, 160, 400, dark.panel);
  chrome.rect(160, 0, 1, 400, dark.border);
  chrome.rect(160, 40, 480, 1, dark.border);
  for (int x = 200; x < 640; x += 110) {
    chrome.rect(x, 60, 1, 320, "#555555");
  }
  for (int y = 60; y < 400; y += 26) {
    chrome.rect(200, y, 440, 1, "#555555");
  }
  Image gradient(640, 400, PixelFormat::rgbx);
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 640; ++x) {
      std::uint8_t* pixel = gradient.row(y) + x * 4;
      pixel[0] = pixel[1] = pixel[2] = static_cast<std::uint8_t>(x * 255 / 640);
    }
  }
  const Image images[] = {Image(640, 400, PixelFormat::rgbx), Image(320, 200, PixelFormat::grey),
                          rendered(chrome), gradient};
  for (const Image& image : images) {
    EXPECT_TRUE(recognizer->recognize(image).empty());
  }
  EXPECT_TRUE(recognizer->recognize(Image()).empty());
}

TEST_F(TextRecognizerTest, ReturnsLinesInReadingOrderWithTopLeftBoxes) {
  using namespace fixtures;
  // A hundredth of this image's height is 10 pixels: "Alpha" and the taller "Bravo" share a
  // baseline and so a row; "Charlie" is further right but higher up, "Delta" lower down.
  Screen screen("order", 800, 1000, light);
  screen.text(500, 120, sans, 16, light.text, "Charlie");
  screen.text(420, 510, sans, 22, light.text, "Bravo");
  screen.text(40, 510, sans, 15, light.text, "Alpha");
  screen.text(40, 800, sans, 16, light.text, "Delta");
  const std::vector<TextLine> lines = recognizer->recognize(rendered(screen));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "Charlie");
  EXPECT_EQ(lines[1].text, "Alpha");
  EXPECT_EQ(lines[2].text, "Bravo");
  EXPECT_EQ(lines[3].text, "Delta");
  EXPECT_EQ(rowKey(lines[1]), rowKey(lines[2]));
  // "Alpha" starts 40 pixels from the left and sits just above y = 510.
  EXPECT_NEAR(lines[1].x, 40.0 / 800, 3.0 / 800);
  EXPECT_NEAR(lines[1].y + lines[1].h, 513.0 / 1000, 5.0 / 1000);
  EXPECT_GT(lines[1].h, 9.0 / 1000);
  EXPECT_LT(lines[1].h, 20.0 / 1000);
}

TEST_F(TextRecognizerTest, SkipsTextBelowTheMinimumHeight) {
  using namespace fixtures;
  // 0.008 of 2,000 rows is 16 pixels: 12-pixel text is left out, 40-pixel text is read.
  Screen screen("heights", 600, 2000, light);
  screen.text(40, 300, sans, 12, light.text, "Invoice overdue reminder");
  screen.text(40, 900, sans, 40, light.text, "Quarterly");
  const std::vector<TextLine> lines = recognizer->recognize(rendered(screen));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "Quarterly");
}

TEST_F(TextRecognizerTest, GreyAndColourImagesReadAlike) {
  using namespace fixtures;
  const Image colour = rendered(mailScreen(light, 13, 8, 640, 400));
  const std::optional<Image> grey = Imaging::scale(colour, colour.width(), true);
  ASSERT_TRUE(grey);
  TextRecognizer fresh;
  EXPECT_EQ(fresh.recognize(*grey), recognizer->recognize(colour));
}

TEST(TextRecognizerEnginesTest, EnginesReadingAtOnceGiveWhatOneEngineReads) {
  using namespace fixtures;
  // Repeated rows (the same sender, the same date) are read once and shared out to every copy.
  const Image screen = rendered(mailScreen(dark, 12, 31, 800, 500));
  TextRecognizer::Options options;
  options.engines = 1;
  TextRecognizer one(options);
  options.engines = 3;
  TextRecognizer three(options);
  const std::vector<TextLine> expected = one.recognize(screen);
  ASSERT_GT(expected.size(), 15u);
  EXPECT_EQ(three.recognize(screen), expected);
  EXPECT_EQ(three.lastStatistics().linesRead, one.lastStatistics().linesRead);
  EXPECT_LT(three.lastStatistics().linesRead, three.lastStatistics().linesFound);
}

TEST(TextRecognizerReuseTest, UnchangedLinesAreTakenOverWithTheSameResult) {
  using namespace fixtures;
  const Image before = rendered(mailScreen(light, 13, 21, 800, 500));
  const Image other = rendered(mailScreen(light, 13, 22, 800, 500));
  // Another message opened: the reading pane (right of x = 400) changes, the rest stays.
  Image after(800, 500, PixelFormat::rgbx);
  for (int y = 0; y < 500; ++y) {
    std::memcpy(after.row(y), before.row(y), 400 * 4);
    std::memcpy(after.row(y) + 400 * 4, other.row(y) + 400 * 4, 400 * 4);
  }
  TextRecognizer reusing;
  reusing.recognize(before);
  const std::vector<TextLine> reused = reusing.recognize(after);
  const TextRecognizer::Statistics statistics = reusing.lastStatistics();

  TextRecognizer::Options options;
  options.reuseUnchangedLines = false;
  options.engines = 1;
  TextRecognizer fresh(options);
  EXPECT_EQ(reused, fresh.recognize(after));
  EXPECT_GT(statistics.linesFound, 20);
  EXPECT_LT(statistics.linesRead, statistics.linesFound / 2 + 5);
  EXPECT_GT(statistics.linesRead, 5);
}

TEST(TextRecognizerSetupTest, MissingLanguageDataIsAnError) {
  TextRecognizer::Options options;
  options.languages = "xyz";
  EXPECT_THROW(TextRecognizer recognizer(options), TextRecognitionError);
}

TEST(TextRecognizerSetupTest, TesseractPageLayoutIsAvailableToo) {
  using namespace fixtures;
  Screen screen("page", 640, 300, light);
  screen.text(40, 100, sans, 18, light.text, "Shipping address confirmed");
  screen.text(40, 200, sans, 18, light.text, "Payment received");
  TextRecognizer::Options options;
  options.layout = TextRecognizer::Options::Layout::tesseractPage;
  TextRecognizer recognizer(options);
  const std::vector<TextLine> lines = recognizer.recognize(rendered(screen));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Shipping address confirmed");
  EXPECT_EQ(lines[1].text, "Payment received");
}

}  // namespace
}  // namespace vistrel
