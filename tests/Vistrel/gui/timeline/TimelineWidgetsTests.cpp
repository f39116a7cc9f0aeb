// The Timeline pane offscreen, on a real model and a real library in a temporary folder, with a
// movable clock: the loader's wait and cancelling, the activity strip's hours and bars, the day
// navigation and the landing of "Show in Timeline".

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <chrono>
#include <thread>

#include "Vistrel/gui/timeline/TimelinePane.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "tests/Vistrel/model/AppModelTestAccess.h"
#include "tests/Vistrel/model/FakeClock.h"
#include "tests/Vistrel/platform/FakeProbes.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

class NoGrab final : public HotkeyGrabber {
 public:
  Result grab(Shortcut, std::function<void()>) override { return Result::grabbed; }
  void release() override {}
};

// 2025-03-09 00:00:00 UTC; the clock stands at 20:00 that day.
constexpr double dayStart = 1741478400.0;

Date at(int day, int hour, int minute, int second = 0) {
  return dateFromSeconds1970(dayStart + day * 86400.0 + hour * 3600.0 + minute * 60.0 + second);
}

class TimelineWidgets : public ::testing::Test {
 protected:
  TimelineWidgets() {
    clock->settle = [this] { settle(); };
  }

  ~TimelineWidgets() override {
    pane.reset();
    if (model)
      settle();
  }

  // Frames stored through the real library, each with a small real JPEG.
  void store(const std::vector<Date>& dates) {
    auto library = FrameLibrary::open(folder.path(), *keys, true, Calendar::utc());
    Image pixels(64, 40, PixelFormat::rgbx);
    for (int y = 0; y < 40; ++y)
      pixels.row(y)[0] = std::uint8_t(y * 6);
    const Bytes jpeg = *Imaging::jpeg(pixels, 0.8);
    for (Date date : dates) {
      NewFrame frame;
      frame.date = date;
      frame.meta.appName = "Editor";
      frame.meta.title = "notes.txt";
      frame.meta.width = 64;
      frame.meta.height = 40;
      frame.meta.lines.push_back(TextLine{"a line", 0.1, 0.2, 0.5, 0.05});
      frame.jpeg = jpeg;
      frame.thumbnail = jpeg;
      ids.push_back(library->store(frame));
    }
  }

  // The model on the stored library, its timeline on `day`, and the pane shown.
  TimelinePane& open(Date day, bool counting = true) {
    AppEnvironment env;
    env.dataFolder = folder.path();
    env.keyStore = keys;
    env.probes = std::make_shared<testing::FakeProbes>();
    env.hotkeys = std::make_unique<NoGrab>();
    env.clock = clock;
    env.saveSettings = false;
    model = std::make_unique<AppModel>(std::move(env));
    AppModelTestAccess{*model}.openLibrary(false);
    settle();
    model->setTimelineDay(day);
    FrameLoader::Sources sources = FrameLoader::fromModel(*model);
    if (counting) {
      sources.summary = [this, inner = sources.summary](QObject* context, std::int64_t id,
                                                        auto done) {
        summaryLoads.push_back(id);
        inner(context, id, std::move(done));
      };
      sources.image = [this, inner = sources.image](QObject* context, std::int64_t id, auto done) {
        imageLoads.push_back(id);
        inner(context, id, std::move(done));
      };
    }
    pane = std::make_unique<TimelinePane>(*model, std::move(sources));
    pane->resize(900, 640);
    pane->show();
    settle();
    return *pane;
  }

  void settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int quietRounds = 0;
    while (quietRounds < 2) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "background work did not finish";
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      if (model && AppModelTestAccess{*model}.pendingBackgroundJobs() > 0) {
        quietRounds = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      } else {
        ++quietRounds;
      }
    }
  }

  int index() const { return model->timelineIndex(); }

  testing::TemporaryFolder folder;
  std::shared_ptr<MemoryKeyStore> keys = std::make_shared<MemoryKeyStore>();
  std::shared_ptr<testing::FakeClock> clock = std::make_shared<testing::FakeClock>(at(0, 20, 0));
  std::unique_ptr<AppModel> model;
  std::unique_ptr<TimelinePane> pane;
  std::vector<std::int64_t> ids;
  std::vector<std::int64_t> summaryLoads;
  std::vector<std::int64_t> imageLoads;
};

TEST_F(TimelineWidgets, ScrubbingLoadsOnlyWhereTheSliderStops) {
  std::vector<Date> dates;
  for (int i = 0; i < 200; ++i)
    dates.push_back(at(0, 8, 0, i * 20));
  store(dates);
  TimelinePane& timeline = open(at(0, 12, 0));
  ASSERT_EQ(model->timelineStamps().size(), 200u);
  EXPECT_TRUE(imageLoads.empty()) << "nothing loads before the wait is over";
  clock->advance(FrameLoader::delay);
  EXPECT_EQ(imageLoads, std::vector<std::int64_t>{ids[199]});
  EXPECT_TRUE(timeline.frameView()->hasImage());

  // Each entry: the slider positions passed one after another 0.01 s apart, then a pause.
  struct Sweep {
    int from;
    int to;
    double pause;
  };
  const Sweep sweeps[] = {{198, 0, 0.1}, {1, 50, 0.1}, {51, 120, 0.03}, {121, 180, 0.2}};
  imageLoads.clear();
  summaryLoads.clear();
  for (const Sweep& sweep : sweeps) {
    const int direction = sweep.to >= sweep.from ? 1 : -1;
    for (int value = sweep.from; value != sweep.to + direction; value += direction) {
      timeline.slider()->setValue(value);
      clock->advance(0.01);
    }
    clock->advance(sweep.pause);
  }
  // The 0.03 s pause at 120 is shorter than the wait, so 120 never loads.
  const std::vector<std::int64_t> expected{ids[0], ids[50], ids[180]};
  EXPECT_EQ(imageLoads, expected);
  EXPECT_EQ(summaryLoads, expected);
  EXPECT_EQ(index(), 180);
  ASSERT_TRUE(timeline.loader().summary());
  EXPECT_EQ(timeline.loader().summary()->id, ids[180]);
  EXPECT_EQ(timeline.appLabel()->text().toStdString(), "Editor");
  EXPECT_EQ(timeline.titleLabel()->text().toStdString(), "notes.txt");
}

TEST_F(TimelineWidgets, AnswersForAnEarlierFrameOrALeftPaneAreDropped) {
  store({at(0, 9, 0), at(0, 10, 0)});
  std::vector<std::function<void(std::optional<FrameSummary>)>> summaries;
  std::vector<std::function<void(std::optional<Image>)>> images;
  FrameLoader loader(
      clock, {[&](QObject*, std::int64_t, auto done) { summaries.push_back(std::move(done)); },
              [&](QObject*, std::int64_t, auto done) { images.push_back(std::move(done)); }});
  loader.restart(ids[0]);
  clock->advance(FrameLoader::delay);
  ASSERT_EQ(summaries.size(), 1u);
  loader.restart(ids[1]);
  FrameSummary first;
  first.id = ids[0];
  summaries[0](first);
  images[0](Image(4, 4, PixelFormat::rgbx));
  EXPECT_FALSE(loader.summary()) << "the earlier frame's answer came after the change";
  EXPECT_FALSE(loader.image());

  clock->advance(FrameLoader::delay);
  ASSERT_EQ(summaries.size(), 2u);
  FrameSummary second;
  second.id = ids[1];
  summaries[1](second);
  images[1](Image(4, 4, PixelFormat::rgbx));
  ASSERT_TRUE(loader.summary());
  EXPECT_EQ(loader.summary()->id, ids[1]);
  EXPECT_TRUE(loader.image());

  loader.restart(ids[0]);
  loader.cancel();
  clock->advance(1);
  EXPECT_EQ(summaries.size(), 2u) << "a cancelled wait loads nothing";
}

TEST_F(TimelineWidgets, LeavingThePaneCancelsTheLoader) {
  store({at(0, 9, 0), at(0, 10, 0)});
  TimelinePane& timeline = open(at(0, 12, 0));
  clock->advance(FrameLoader::delay);
  imageLoads.clear();
  model->setTimelineIndex(0);
  timeline.hide();
  clock->advance(1);
  EXPECT_TRUE(imageLoads.empty());
  timeline.show();
  settle();
  clock->advance(FrameLoader::delay);
  // Showing the pane reloads the day, which opens on its newest frame.
  EXPECT_EQ(imageLoads, std::vector<std::int64_t>{ids[1]});
}

// The painted height of a bar: the rows of its column that differ from the background.
int paintedHeight(QWidget& bar) {
  const QImage picture = bar.grab().toImage();
  const QColor background = picture.pixelColor(bar.width() / 2, 0);
  int rows = 0;
  for (int y = 0; y < picture.height(); ++y)
    rows += picture.pixelColor(bar.width() / 2, y) != background ? 1 : 0;
  return rows;
}

TEST_F(TimelineWidgets, AChangeOfTimeZoneWhileShownMovesTheFramesIntoTheNewZonesHours) {
  store({at(0, 8, 10), at(0, 9, 30)});
  TimelinePane& timeline = open(at(0, 12, 0));
  const auto& bars = timeline.strip()->bars();
  ASSERT_EQ(bars[8]->count(), 1);
  ASSERT_EQ(bars[9]->count(), 1);
  clock->setCalendar(*Calendar::named("Asia/Tokyo"));  // nine hours ahead of UTC
  model->calendar();
  settle();
  EXPECT_EQ(model->timelineStamps().size(), 2u);
  for (int hour = 0; hour < 24; ++hour) {
    SCOPED_TRACE(hour);
    EXPECT_EQ(bars[hour]->count(), hour == 17 || hour == 18 ? 1 : 0);
  }
}

TEST_F(TimelineWidgets, TwoFramesMakeTwoFullBarsAndTheJumpsFindTheNextFrame) {
  store({at(-1, 9, 10), at(-1, 14, 30)});
  TimelinePane& timeline = open(at(-1, 12, 0));
  const auto& bars = timeline.strip()->bars();
  for (int hour = 0; hour < 24; ++hour) {
    const bool full = hour == 9 || hour == 14;
    SCOPED_TRACE(hour);
    EXPECT_EQ(bars[hour]->barHeight(), full ? 40 : 4);
    EXPECT_EQ(paintedHeight(*bars[hour]), full ? 40 : 4);
    EXPECT_EQ(bars[hour]->accessibleName(),
              QStringLiteral("%1:00, %2 frames").arg(hour).arg(full ? 1 : 0));
  }
  EXPECT_EQ(bars[14]->barColour().alphaF(), 1.0) << "the current frame's hour";
  EXPECT_NEAR(bars[9]->barColour().alphaF(), 0.4, 0.01);
  EXPECT_NEAR(bars[3]->barColour().alphaF(), 0.08, 0.01);
  const QString noon = timeline.strip()->hourLabels()[2]->text();
  EXPECT_TRUE(noon.startsWith(QStringLiteral("12"))) << noon.toStdString();
  EXPECT_FALSE(noon.contains(QStringLiteral("00:00"))) << "hour and minute only";

  model->setTimelineIndex(0);
  bars[12]->click();
  EXPECT_EQ(index(), 1) << "12:00 lands on the 14:30 frame";
  model->setTimelineIndex(0);
  bars[15]->click();
  EXPECT_EQ(index(), 0) << "no frame at 15:00 or later";
  bars[0]->click();
  EXPECT_EQ(index(), 0);
}

TEST_F(TimelineWidgets, TheDaysFirstAndLastSecondFallInTheirOwnHours) {
  store({at(-1, 23, 59, 59), at(0, 0, 0, 0), at(0, 23, 59, 59), at(1, 0, 0, 0)});
  TimelinePane& timeline = open(at(0, 12, 0));
  EXPECT_EQ(timeline.countLabel()->text().toStdString(), "2 frames");
  const auto counts =
      ActivityStrip::hourCounts(model->timelineStamps(), TimelineTime(Calendar::utc()));
  std::array<int, 24> expected{};
  expected[0] = 1;
  expected[23] = 1;
  EXPECT_EQ(counts, expected);
}

TEST_F(TimelineWidgets, OneFrameOnTodayAndTheDayNavigation) {
  store({at(-1, 9, 10), at(-1, 14, 30), at(0, 8, 0)});
  TimelinePane& timeline = open(at(0, 12, 0));
  EXPECT_EQ(timeline.countLabel()->text().toStdString(), "1 frames");
  EXPECT_EQ(timeline.slider()->minimum(), 0);
  EXPECT_EQ(timeline.slider()->maximum(), 1);
  EXPECT_FALSE(timeline.nextDayButton()->isEnabled());
  EXPECT_FALSE(timeline.todayButton()->isEnabled());
  EXPECT_EQ(timeline.datePicker()->maximumDate(), QDate(2025, 3, 10)) << "24 h after 20:00";
  timeline.step(1);
  EXPECT_EQ(index(), 0) << "the last frame stays the last";

  timeline.datePicker()->setDate(QDate(2025, 3, 8));
  settle();
  EXPECT_EQ(timeline.countLabel()->text().toStdString(), "2 frames");
  EXPECT_EQ(index(), 1) << "a picked day opens on its newest frame";
  EXPECT_TRUE(timeline.nextDayButton()->isEnabled());
  EXPECT_TRUE(timeline.todayButton()->isEnabled());
  timeline.step(1);
  EXPECT_EQ(index(), 1);
  timeline.step(-5);
  EXPECT_EQ(index(), 0);

  timeline.previousDayButton()->click();
  settle();
  EXPECT_TRUE(timeline.showsEmptyDay());
  EXPECT_EQ(timeline.emptyLine()->text().toStdString(),
            "Pick another day, or check that capture was on.");
  EXPECT_EQ(timeline.countLabel()->text().toStdString(), "0 frames");
  timeline.todayButton()->click();
  settle();
  EXPECT_EQ(timeline.countLabel()->text().toStdString(), "1 frames");

  // Tomorrow can be picked, but nothing lies beyond it.
  timeline.datePicker()->setDate(QDate(2025, 3, 10));
  settle();
  EXPECT_EQ(timeline.dateLabel()->text(),
            QLocale::system().toString(QDate(2025, 3, 10), QLocale::LongFormat));
  EXPECT_FALSE(timeline.nextDayButton()->isEnabled());
  EXPECT_TRUE(timeline.todayButton()->isEnabled());
  timeline.datePicker()->setDate(QDate(2025, 3, 12));
  settle();
  EXPECT_EQ(timeline.datePicker()->date(), QDate(2025, 3, 10)) << "the picker stops 24 h ahead";
}

TEST_F(TimelineWidgets, WithoutALibraryTheEmptyDaySaysHowToStart) {
  TimelinePane& timeline = open(at(0, 12, 0));
  EXPECT_TRUE(timeline.showsEmptyDay());
  EXPECT_EQ(timeline.emptyLine()->text().toStdString(),
            "Turn capture on in Capture; frames show up here as you work.");
}

TEST_F(TimelineWidgets, ShowInTimelineLandsOnTheFramesMoment) {
  store({at(-2, 9, 0), at(-2, 10, 0), at(-2, 11, 0), at(0, 9, 0)});
  TimelinePane& timeline = open(at(0, 12, 0));
  clock->advance(FrameLoader::delay);
  imageLoads.clear();
  FrameSummary summary;
  summary.id = ids[1];
  summary.date = at(-2, 10, 0);
  model->setOpenFrame(OpenFrame{ids[1], {}});
  model->showInTimeline(summary);
  settle();
  clock->advance(FrameLoader::delay);
  EXPECT_FALSE(model->openFrame());
  EXPECT_EQ(model->pane(), Pane::timeline);
  EXPECT_EQ(timeline.countLabel()->text().toStdString(), "3 frames");
  EXPECT_EQ(index(), 1);
  EXPECT_EQ(timeline.datePicker()->date(), QDate(2025, 3, 7));
  QString standard = QLocale::system().timeFormat(QLocale::ShortFormat);
  if (!standard.contains(QLatin1Char('s')))
    standard.replace(QStringLiteral("mm"), QStringLiteral("mm:ss"));
  EXPECT_EQ(timeline.frameView()->accessibleName(),
            QStringLiteral("Frame at ") + QLocale::system().toString(QTime(10, 0), standard));
  EXPECT_EQ(imageLoads, std::vector<std::int64_t>{ids[1]});
}

TEST_F(TimelineWidgets, OpenFullSizeAndCopyTextUseTheCurrentFrame) {
  store({at(0, 9, 0), at(0, 10, 0)});
  TimelinePane& timeline = open(at(0, 12, 0), false);
  EXPECT_FALSE(timeline.copyTextButton()->isEnabled()) << "no summary yet";
  clock->advance(FrameLoader::delay);
  EXPECT_TRUE(timeline.copyTextButton()->isEnabled());
  timeline.openFullSizeButton()->click();
  ASSERT_TRUE(model->openFrame());
  EXPECT_EQ(*model->openFrame(), (OpenFrame{ids[1], {}}));
  model->setOpenFrame(std::nullopt);
  timeline.frameView()->click();
  EXPECT_EQ(*model->openFrame(), (OpenFrame{ids[1], {}}));
}

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
