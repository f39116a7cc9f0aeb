#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "VistrelKit/capture/Recorder.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/search/SearchQuery.h"
#include "tests/VistrelKit/library/FrameLibraryFixture.h"

namespace vistrel {
namespace {

using testing::FrameLibraryTest;

// A 64 x 40 image is its own signature, so changed pixels are changed signature positions.
Image grey(int width, int height, std::uint8_t value) {
  Image image(width, height, PixelFormat::rgbx);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = image.row(y) + x * 4;
      pixel[0] = pixel[1] = pixel[2] = value;
    }
  }
  return image;
}

Image withChangedPixels(int count, std::uint8_t base = 100) {
  Image image = grey(64, 40, base);
  for (int i = 0; i < count; ++i) {
    std::uint8_t* pixel = image.row((i * 7) % 40) + ((i * 13) % 64) * 4;
    pixel[0] = pixel[1] = pixel[2] = static_cast<std::uint8_t>(base + 100);
  }
  return image;
}

std::vector<TextLine> oneLine(const Image&, const std::vector<WindowArea>& = {}) {
  return {TextLine{"Invoice #4471", 0, 0, 1, 0.1}};
}

class RecorderTest : public FrameLibraryTest {
 protected:
  Recorder::Outcome record(Recorder& recorder, const Image& image, double seconds = 0) {
    return recorder.record(image, "Editor", "org.example.editor", "Notes", at(seconds));
  }
  FrameMeta metaOf(std::int64_t id) {
    auto summary = library->summary(id, SearchQuery::parse(""));
    EXPECT_TRUE(summary);
    return summary ? summary->meta : FrameMeta{};
  }
};

TEST_F(RecorderTest, KeepsTheFirstFrameAndIgnoresAnIdenticalOne) {
  Recorder recorder(library, 1600, oneLine);
  EXPECT_EQ(recorder.thumbnailWidth(), 360);
  EXPECT_EQ(recorder.quality(), 0.6);
  EXPECT_EQ(recorder.threshold(), 0.004);
  EXPECT_FALSE(recorder.last());

  EXPECT_EQ(record(recorder, grey(640, 400, 50)), (Recorder::Outcome{Recorder::Stored{1, 1}}));
  const auto reference = recorder.last();
  ASSERT_TRUE(reference);
  EXPECT_EQ(record(recorder, grey(640, 400, 50), 2), Recorder::Outcome{Recorder::Unchanged{}});
  EXPECT_EQ(recorder.last(), reference);

  recorder.reset();
  EXPECT_FALSE(recorder.last());
  EXPECT_EQ(record(recorder, grey(640, 400, 50), 4), (Recorder::Outcome{Recorder::Stored{2, 1}}));
  EXPECT_EQ(library->allStamps().size(), 2u);
}

TEST_F(RecorderTest, TenChangedPositionsAreUnchangedElevenAreKept) {
  Recorder recorder(library, 1600, oneLine);
  ASSERT_TRUE(std::holds_alternative<Recorder::Stored>(record(recorder, withChangedPixels(0))));
  EXPECT_EQ(record(recorder, withChangedPixels(10), 1), Recorder::Outcome{Recorder::Unchanged{}});
  EXPECT_TRUE(std::holds_alternative<Recorder::Stored>(record(recorder, withChangedPixels(11), 2)));
}

TEST_F(RecorderTest, SlowDriftIsMeasuredAgainstTheLastKeptFrame) {
  Recorder recorder(library, 1600, oneLine);
  ASSERT_TRUE(std::holds_alternative<Recorder::Stored>(record(recorder, withChangedPixels(0))));
  // Each step adds 4 changed positions: below the threshold against the tick before, but the
  // third step is 12 positions away from the kept frame.
  EXPECT_EQ(record(recorder, withChangedPixels(4), 1), Recorder::Outcome{Recorder::Unchanged{}});
  EXPECT_EQ(record(recorder, withChangedPixels(8), 2), Recorder::Outcome{Recorder::Unchanged{}});
  EXPECT_TRUE(std::holds_alternative<Recorder::Stored>(record(recorder, withChangedPixels(12), 3)));
  EXPECT_EQ(record(recorder, withChangedPixels(16), 4), Recorder::Outcome{Recorder::Unchanged{}});
}

TEST_F(RecorderTest, ScalesToMaxWidthAndMakesA360Thumbnail) {
  struct Case {
    int width, height, maxWidth;
    std::int64_t storedWidth, storedHeight;
    int thumbnailWidth;
  };
  const Case cases[] = {{2880, 1800, 1600, 1600, 1000, 360},
                        {640, 400, 1600, 640, 400, 360},
                        {300, 200, 1600, 300, 200, 300}};
  double seconds = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    Recorder recorder(library, c.maxWidth, oneLine);
    const auto outcome = record(recorder, grey(c.width, c.height, 180), seconds += 10);
    ASSERT_TRUE(std::holds_alternative<Recorder::Stored>(outcome));
    const std::int64_t id = std::get<Recorder::Stored>(outcome).id;
    const FrameMeta meta = metaOf(id);
    EXPECT_EQ(meta.width, c.storedWidth);
    EXPECT_EQ(meta.height, c.storedHeight);
    const auto jpeg = library->image(id);
    ASSERT_TRUE(jpeg);
    const auto decoded = Imaging::decode(*jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), c.storedWidth);
    const auto summary = library->summary(id, SearchQuery::parse(""));
    ASSERT_TRUE(summary);
    const auto thumbnail = Imaging::decode(summary->thumbnail);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->width(), c.thumbnailWidth);
  }
}

TEST_F(RecorderTest, RecognitionFailureStoresTheFrameWithoutText) {
  Recorder recorder(library, 1600,
                    [](const Image&, const std::vector<WindowArea>&) -> std::vector<TextLine> {
                      throw std::runtime_error("engine gone");
                    });
  const auto outcome = record(recorder, grey(640, 400, 10));
  ASSERT_EQ(outcome, (Recorder::Outcome{Recorder::Stored{1, 0}}));
  EXPECT_TRUE(metaOf(1).lines.empty());
}

TEST_F(RecorderTest, UnreadableImageFailsAndKeepsTheReference) {
  Recorder recorder(library, 1600, oneLine);
  ASSERT_TRUE(std::holds_alternative<Recorder::Stored>(record(recorder, grey(640, 400, 10))));
  const auto reference = recorder.last();
  EXPECT_EQ(record(recorder, Image(), 1),
            Recorder::Outcome{Recorder::Failed{"Couldn't read the frame"}});
  EXPECT_EQ(recorder.last(), reference);
}

TEST_F(RecorderTest, StoreFailureGivesTheLibrarysMessageAndStillMovesTheReference) {
  // A plain file where the day folder belongs makes the store fail half-way.
  const auto obstruction = folder() / "frames" / library->dayFolderName(at());
  std::filesystem::create_directories(obstruction.parent_path());
  std::ofstream(obstruction) << "x";
  std::string expected;
  try {
    library->store(frame(at(), "probe"));
  } catch (const std::exception& error) {
    expected = error.what();
  }
  ASSERT_FALSE(expected.empty());

  Recorder recorder(library, 1600, oneLine);
  EXPECT_EQ(record(recorder, grey(640, 400, 10)), Recorder::Outcome{Recorder::Failed{expected}});
  EXPECT_EQ(record(recorder, grey(640, 400, 10), 1), Recorder::Outcome{Recorder::Unchanged{}});
  EXPECT_TRUE(library->allStamps().empty());
}

TEST_F(RecorderTest, ReadsTextAtCaptureResolutionUpToTheReadingWidth) {
  struct Case {
    int width;
    int height;
    int readWidth;
    PixelBox window;  // as the recognizer is given it
  };
  const Case cases[] = {{1920, 1080, 1920, {960, 30, 1920, 1080}},
                        {3840, 2160, 2560, {1280, 20, 2560, 1440}},
                        {800, 500, 800, {400, 30, 800, 500}}};
  double seconds = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    int readWidth = 0;
    std::vector<WindowArea> given;
    Recorder recorder(library, 1600,
                      [&](const Image& image, const std::vector<WindowArea>& windows) {
                        readWidth = image.width();
                        given = windows;
                        return oneLine(image);
                      });
    const PixelBox right{c.width / 2, 30, c.width, c.height};
    const auto outcome = recorder.record(grey(c.width, c.height, 90), "Terminal", std::nullopt,
                                         std::nullopt, at(seconds += 10), {{right, {right}}});
    ASSERT_TRUE(std::holds_alternative<Recorder::Stored>(outcome));
    EXPECT_EQ(readWidth, c.readWidth);
    EXPECT_EQ(given, (std::vector<WindowArea>{{c.window, {c.window}}}));
    EXPECT_EQ(metaOf(std::get<Recorder::Stored>(outcome).id).width, std::min(c.width, 1600));
  }
}

TEST_F(RecorderTest, ResetDuringARecordWinsOverTheFrameInFlight) {
  Recorder* self = nullptr;
  Recorder recorder(library, 1600, [&self](const Image& image, const std::vector<WindowArea>&) {
    self->reset();  // as a pause would while the frame is being read
    return oneLine(image);
  });
  self = &recorder;
  ASSERT_TRUE(std::holds_alternative<Recorder::Stored>(record(recorder, grey(640, 400, 10))));
  EXPECT_FALSE(recorder.last());
  EXPECT_TRUE(std::holds_alternative<Recorder::Stored>(record(recorder, grey(640, 400, 10), 1)));
}

}  // namespace
}  // namespace vistrel
