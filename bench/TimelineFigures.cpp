// Figures of the Timeline pane on a real library: how long from showing the pane to a drawn
// activity strip, from a slider stop to the frame's image on screen, and the longest stall of the
// main thread while the right arrow key is held for 5 seconds. Run by bench/timeline.sh.
//
// The library is built in a temporary folder through the real store: one day of 2,000 frames
// whose images are screen-sized JPEGs (1600 x 1000), and VISTREL_BENCH_OTHER_FRAMES further
// frames (default 98,000, for a 100,000-frame library) spread over the 60 days before it, with
// small images, so the day is read out of a larger history. The pane runs on the offscreen
// platform, painted in memory.

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "Vistrel/gui/timeline/TimelinePane.h"
#include "Vistrel/platform/Clipboard.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "tests/Vistrel/model/AppModelTestAccess.h"
#include "tests/Vistrel/platform/FakeProbes.h"

namespace vistrel {
namespace {

using Steady = std::chrono::steady_clock;

double millisecondsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

class NoGrab final : public HotkeyGrabber {
 public:
  Result grab(Shortcut, std::function<void()>) override { return Result::grabbed; }
  void release() override {}
};

Image screenLike(int width, int height, int seed) {
  Image image(width, height, PixelFormat::rgbx);
  std::mt19937 random{std::uint32_t(seed)};
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = image.row(y);
    for (int x = 0; x < width; ++x) {
      const bool text = (y / 14 + seed) % 3 == 0 && (x / 7) % 5 != 0 && (random() % 5) == 0;
      const std::uint8_t shade = text ? 30 : std::uint8_t(235 - (x * 20 / width));
      row[x * 4] = shade;
      row[x * 4 + 1] = shade;
      row[x * 4 + 2] = std::uint8_t(shade + (text ? 0 : 10));
    }
  }
  return image;
}

// Runs the event loop until `done` holds; false after 30 s.
bool runUntil(const std::function<bool()>& done) {
  const auto deadline = Steady::now() + std::chrono::seconds(30);
  while (!done()) {
    if (Steady::now() > deadline)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Remembers when a widget was last painted.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      ++paints;
    return false;
  }
  int paints = 0;
};

void printFigure(const char* what, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  std::printf("%-44s median %7.1f ms   max %7.1f ms   (%zu runs)\n", what,
              samples[samples.size() / 2], samples.back(), samples.size());
}

// The system's clock with the days of UTC, in which the frames were laid out, whatever the
// machine's zone.
class UtcClock final : public Clock {
 public:
  Date now() override { return system_.now(); }
  Calendar calendar() override { return Calendar::utc(); }
  void after(double seconds, QObject* context, std::function<void()> action) override {
    system_.after(seconds, context, std::move(action));
  }

 private:
  SystemClock system_;
};

int run() {
  const int dayFrames = 2000;
  const char* otherSetting = std::getenv("VISTREL_BENCH_OTHER_FRAMES");
  const int otherFrames = otherSetting ? std::max(0, std::atoi(otherSetting)) : 98000;
  const Calendar calendar = Calendar::utc();
  // 2025-03-09, frames from 07:00 every 15 seconds (about 8.3 hours).
  const Date day = dateFromSeconds1970(1741478400.0);

  char pattern[] = "/tmp/vistrel-timeline-bench-XXXXXX";
  const std::filesystem::path folder = mkdtemp(pattern);
  // Removed however the run ends.
  const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)>
      removal(&folder, [](const std::filesystem::path* path) {
        std::error_code ignored;
        std::filesystem::remove_all(*path, ignored);
      });
  auto keys = std::make_shared<MemoryKeyStore>();
  {
    const auto started = Steady::now();
    auto library = FrameLibrary::open(folder, *keys, true, calendar);
    std::vector<Bytes> images;
    for (int i = 0; i < 8; ++i)
      images.push_back(*Imaging::jpeg(screenLike(1600, 1000, i), 0.7));
    const Bytes small = *Imaging::jpeg(screenLike(64, 40, 1), 0.7);
    const auto store = [&](Date date, const Bytes& jpeg, int i) {
      NewFrame frame;
      frame.date = date;
      frame.meta.appName = "Editor";
      frame.meta.bundleID = "org.example.Editor";
      frame.meta.title = "notes " + std::to_string(i) + ".txt";
      frame.meta.width = 1600;
      frame.meta.height = 1000;
      for (int line = 0; line < 40; ++line)
        frame.meta.lines.push_back(
            TextLine{"line " + std::to_string(line) + " of frame " + std::to_string(i), 0.1,
                     0.02 * line, 0.6, 0.015});
      frame.jpeg = jpeg;
      frame.thumbnail = small;
      library->store(frame);
    };
    for (int i = 0; i < otherFrames; ++i)
      store(day - Seconds(86400.0 * (1 + i % 60)) + Seconds(25200 + 15.0 * (i / 60)), small, i);
    for (int i = 0; i < dayFrames; ++i)
      store(day + Seconds(25200 + 15.0 * i), images[std::size_t(i) % images.size()], i);
    std::printf("library: %d frames (%d on the day, 1600 x 1000 JPEG of %zu KB), built in %.0f s\n",
                otherFrames + dayFrames, dayFrames, images[0].size() / 1024,
                millisecondsSince(started) / 1000);
  }

  AppEnvironment env;
  env.dataFolder = folder;
  env.keyStore = keys;
  env.probes = std::make_shared<testing::FakeProbes>();
  env.hotkeys = std::make_unique<NoGrab>();
  env.clipboard = std::make_shared<UnavailableClipboard>();
  env.clock = std::make_shared<UtcClock>();
  env.saveSettings = false;
  AppModel model(std::move(env));
  AppModelTestAccess{model}.openLibrary(false);
  model.setTimelineDay(day + Seconds(43200));

  // Pane shown to strip drawn with the day's stamps.
  std::vector<double> shown;
  for (int i = 0; i < 10; ++i) {
    // An empty day in between, so that the pane starts from nothing.
    model.setTimelineDay(day - Seconds(86400.0 * 100));
    model.loadTimeline(false);
    runUntil([&] { return AppModelTestAccess{model}.pendingBackgroundJobs() == 0; });
    model.setTimelineDay(day + Seconds(43200));
    auto pane = std::make_unique<TimelinePane>(model);
    pane->resize(1200, 800);
    PaintWatch strip(pane->strip()->bars()[12]);
    std::optional<int> paintsAtStamps;
    QObject::connect(&model, &AppModel::timelineStampsChanged, pane.get(),
                     [&] { paintsAtStamps = strip.paints; });
    const auto started = Steady::now();
    pane->show();
    if (!runUntil([&] {
          return model.timelineStamps().size() == std::size_t(dayFrames) && paintsAtStamps &&
                 strip.paints > *paintsAtStamps;
        }))
      return std::fprintf(stderr, "the strip was never drawn\n"), 1;
    shown.push_back(millisecondsSince(started));
    runUntil([&] { return AppModelTestAccess{model}.pendingBackgroundJobs() == 0; });
  }

  TimelinePane pane(model);
  pane.resize(1200, 800);
  pane.show();
  runUntil([&] { return pane.frameView()->hasImage(); });
  PaintWatch frame(pane.frameView());

  // Slider stop to image shown.
  std::vector<double> stops;
  std::mt19937 random(7);
  for (int i = 0; i < 20; ++i) {
    runUntil([&] { return AppModelTestAccess{model}.pendingBackgroundJobs() == 0; });
    std::optional<int> image;
    const auto connection = QObject::connect(&pane.loader(), &FrameLoader::imageChanged, &pane,
                                             [&] { image = frame.paints; });
    const int target = int(random() % dayFrames);
    const auto started = Steady::now();
    pane.slider()->setValue(target == model.timelineIndex() ? (target + 1) % dayFrames : target);
    const bool painted = runUntil([&] { return image && frame.paints > *image; });
    QObject::disconnect(connection);
    if (!painted)
      return std::fprintf(stderr, "the image was never shown\n"), 1;
    stops.push_back(millisecondsSince(started));
  }

  // The right arrow held for 5 s at 30 repeats a second from the first frame, then released:
  // the longest gap between two turns of the event loop.
  model.setTimelineIndex(0);
  runUntil([&] { return AppModelTestAccess{model}.pendingBackgroundJobs() == 0; });
  QWidget* window = pane.window();
  double longest = 0;
  auto last = Steady::now();
  QTimer heartbeat;
  heartbeat.setTimerType(Qt::PreciseTimer);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    longest = std::max(longest, millisecondsSince(last));
    last = Steady::now();
  });
  int presses = 0;
  QTimer repeat;
  repeat.setTimerType(Qt::PreciseTimer);
  QObject::connect(&repeat, &QTimer::timeout, [&] {
    QTest::keyPress(window, Qt::Key_Right);
    ++presses;
  });
  const auto held = Steady::now();
  heartbeat.start(1);
  repeat.start(33);
  runUntil([&] { return millisecondsSince(held) > 5000; });
  repeat.stop();
  QTest::keyRelease(window, Qt::Key_Right);
  runUntil([&] {
    return millisecondsSince(held) > 5600 && AppModelTestAccess{model}.pendingBackgroundJobs() == 0;
  });
  heartbeat.stop();

  printFigure("pane shown to strip drawn", shown);
  printFigure("slider stop to image shown", stops);
  std::printf("%-44s %7.1f ms   (%d key repeats, moved %d frames)\n",
              "longest main-thread stall, arrow held 5 s", longest, presses, model.timelineIndex());
  return 0;
}

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return vistrel::run();
}
