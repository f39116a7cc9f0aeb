// The Search screen and the frame sheet on a large library, timed as the user feels them:
//
//   keystroke to painted   from the last key of a typed query to the result area painted, the
//                          model's 0.22 s wait included (p50, p95 over the queries)
//   scrolling              the 150-card grid scrolled end to end in 40-pixel steps, each step
//                          painted at once: the longest step and the frames per second, the first
//                          pass decoding thumbnails, the second from the cache
//   detail open            from setting the open frame to its image painted in the sheet
//   memory                 resident memory after 50 searches (and everything above)
//
//   SearchScreenTimings DATA_DIR KEY_FILE
//
// DATA_DIR is a copy of a library made by LibraryBench, KEY_FILE its master key. LibraryBench's
// frames carry random bytes for image and thumbnail, so 150 realistic frames (a 1600 × 1000 JPEG
// screen, a 320 × 200 JPEG thumbnail, the word "kingfisher") are stored first, newest, and
// deleted again at the end: the grid is scrolled and the sheet opened on those. Runs on Qt's
// offscreen platform unless QT_QPA_PLATFORM says otherwise. Prints figures only; it asserts
// nothing.

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Vistrel/gui/frame/FrameCanvas.h"
#include "Vistrel/gui/frame/FrameDetailView.h"
#include "Vistrel/gui/search/ResultGrid.h"
#include "Vistrel/gui/search/ResultListModel.h"
#include "Vistrel/gui/search/SearchPane.h"
#include "Vistrel/gui/shell/FrameSheetHost.h"
#include "Vistrel/platform/linux/LinuxEnvironment.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/library/FrameLibrary.h"

namespace {

using namespace vistrel;

// Marks the end of the first paint of any widget after it is armed: the moment the event loop
// comes back from that paint.
class PaintWatch : public QObject {
 public:
  void arm() {
    armed_ = true;
    painted_ = false;
  }
  bool painted() const { return painted_; }

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    if (armed_ && event->type() == QEvent::Paint) {
      armed_ = false;
      QTimer::singleShot(0, this, [this] { painted_ = true; });
    }
    return QObject::eventFilter(target, event);
  }

 private:
  bool armed_ = false;
  bool painted_ = false;
};

bool spinUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  const auto index = std::size_t(p * double(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

Bytes jpegOf(const QImage& image) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 80);
  return Bytes(data.begin(), data.end());
}

// A screen of text lines, and its thumbnail.
std::pair<Bytes, Bytes> realisticScreen() {
  QImage screen(1600, 1000, QImage::Format_RGB32);
  screen.fill(QColor(250, 250, 247));
  QPainter painter(&screen);
  QFont font = painter.font();
  font.setPixelSize(22);
  painter.setFont(font);
  for (int line = 0; line < 36; ++line) {
    painter.setPen(QColor(30 + line * 3, 40, 60));
    painter.drawText(40 + (line % 3) * 30, 40 + line * 26,
                     QStringLiteral("Kingfisher invoice %1: payment due Friday, order %2 for the "
                                    "customer account, review please")
                         .arg(4400 + line)
                         .arg(line * 17));
  }
  painter.fillRect(1200, 100, 300, 200, QColor(80, 140, 220));
  painter.end();
  return {jpegOf(screen),
          jpegOf(screen.scaled(320, 200, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))};
}

std::vector<std::int64_t> storeRealisticFrames(const std::filesystem::path& folder,
                                               KeyStore& keys) {
  const auto library = FrameLibrary::open(folder, keys, false, Calendar::systemDefault());
  const auto [image, thumbnail] = realisticScreen();
  std::vector<std::int64_t> ids;
  const Date newest = now();
  for (int i = 0; i < AppModel::searchLimit; ++i) {
    NewFrame frame;
    frame.date = newest - Seconds(AppModel::searchLimit - i);
    frame.meta.appName = "Editor";
    frame.meta.width = 1600;
    frame.meta.height = 1000;
    for (int line = 0; line < 36; ++line) {
      frame.meta.lines.push_back(TextLine{
          "Kingfisher invoice " + std::to_string(4400 + line) + ": payment due Friday, order " +
              std::to_string(line * 17) + " for the customer account, review please",
          0.025, 0.02 + line * 0.026, 0.6, 0.022});
    }
    frame.jpeg = image;
    frame.thumbnail = thumbnail;
    ids.push_back(library->store(frame));
  }
  return ids;
}

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0)
      return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: SearchScreenTimings DATA_DIR KEY_FILE\n";
    return 2;
  }
  // LibraryBench's thumbnails are not all valid JPEG; the warnings would drown the figures.
  qputenv("QT_LOGGING_RULES", "qt.gui.imageio.jpeg=false");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const auto keys = std::make_shared<KeyFileStore>(argv[2]);
  const std::vector<std::int64_t> realistic = storeRealisticFrames(argv[1], *keys);

  LinuxEnvironmentOptions options;
  options.dataFolder = argv[1];
  options.keyStore = keys;
  options.hotkeys = false;
  AppEnvironment environment = makeLinuxEnvironment(options);
  environment.saveSettings = false;
  AppModel model(std::move(environment));
  int searches = 0;
  QObject::connect(&model, &AppModel::searchFinished, [&] { ++searches; });

  QWidget window;
  window.resize(1180, 820);
  auto* pane = new SearchPane(model, &window);
  pane->setGeometry(window.rect());
  FrameSheetHost sheets(model, &window);
  PaintWatch watch;
  application.installEventFilter(&watch);

  model.start();
  window.show();
  if (!spinUntil(
          [&] { return model.isLibraryOpen() && searches > 0 && model.stats().frames > 0; })) {
    std::cerr << "the library did not open or the first search did not finish\n";
    return 1;
  }
  std::printf("library: %lld frames\n", static_cast<long long>(model.stats().frames));

  // Keystroke to painted, 10 queries typed 5 times each: 50 searches.
  const char* queries[] = {"invoice",        "please review", "payment", "meeting notes",
                           "customer order", "build error",   "friday",  "calendar event",
                           "project update", "balance total"};
  std::vector<double> keystroke;
  std::vector<std::size_t> hitCounts;
  for (int round = 0; round < 5; ++round) {
    for (const char* query : queries) {
      pane->field()->setFocus();
      pane->field()->selectAll();
      const int before = searches;
      QTest::keyClicks(pane->field(), QString::fromUtf8(query));
      QElapsedTimer timer;
      timer.start();
      if (!spinUntil([&] { return searches > before; }, 300000)) {
        std::cerr << "the search for \"" << query << "\" did not finish\n";
        return 1;
      }
      watch.arm();
      pane->update();
      spinUntil([&] { return watch.painted(); });
      keystroke.push_back(double(timer.nsecsElapsed()) / 1e6);
      hitCounts.push_back(model.hits().size());
      std::fprintf(stderr, "%s: %zu hits, %.0f ms\n", query, model.hits().size(), keystroke.back());
    }
  }
  std::printf(
      "keystroke to painted (%zu searches, 0.22 s wait included): p50 %.0f ms, p95 %.0f "
      "ms, max %.0f ms\n",
      keystroke.size(), percentile(keystroke, 0.5), percentile(keystroke, 0.95),
      percentile(keystroke, 1.0));
  std::printf("memory after %d searches: %.0f MB resident\n", searches,
              double(residentKilobytes()) / 1024.0);

  // Scrolling the 150 realistic cards end to end, twice.
  pane->field()->selectAll();
  QTest::keyClicks(pane->field(), QStringLiteral("kingfisher"));
  QTest::keyClick(pane->field(), Qt::Key_Return);
  spinUntil([&] {
    return model.searchedQuery() == SearchQuery::parse("kingfisher") &&
           model.hits().size() == AppModel::searchLimit;
  });
  QScrollBar* bar = pane->grid()->verticalScrollBar();
  for (int pass = 1; pass <= 2; ++pass) {
    bar->setValue(0);
    std::vector<double> steps;
    QElapsedTimer total;
    total.start();
    for (int value = 0; value <= bar->maximum(); value += 40) {
      QElapsedTimer step;
      step.start();
      bar->setValue(value);
      pane->grid()->viewport()->repaint();
      QCoreApplication::processEvents();
      steps.push_back(double(step.nsecsElapsed()) / 1e6);
    }
    pane->results()->waitForDecoding();
    QCoreApplication::processEvents();
    std::printf(
        "scrolling pass %d (%zu steps over %d px, %d thumbnails decoded so far): step "
        "p50 %.1f ms, p95 %.1f ms, longest %.1f ms; %.0f frames/s\n",
        pass, steps.size(), bar->maximum(), pane->results()->decodeCount(), percentile(steps, 0.5),
        percentile(steps, 0.95), percentile(steps, 1.0),
        double(steps.size()) / (double(total.nsecsElapsed()) / 1e9));
  }

  // Opening the sheet on ten of the realistic frames, with the query "kingfisher".
  std::vector<double> detail;
  std::vector<double> textShown;
  std::vector<double> imageArrived;
  const auto hits = model.hits();
  for (std::size_t i = 0; i < 10 && i < hits.size(); ++i) {
    QElapsedTimer timer;
    timer.start();
    model.setOpenFrame(OpenFrame{hits[i].id, SearchQuery::parse("kingfisher")});
    bool loaded = false;
    QObject::connect(sheets.view(), &FrameDetailView::summaryLoaded,
                     [&] { textShown.push_back(double(timer.nsecsElapsed()) / 1e6); });
    QObject::connect(sheets.view(), &FrameDetailView::imageLoaded, [&] {
      imageArrived.push_back(double(timer.nsecsElapsed()) / 1e6);
      loaded = true;
    });
    spinUntil([&] { return loaded; });
    watch.arm();
    sheets.view()->canvas()->update();
    spinUntil([&] { return watch.painted(); });
    detail.push_back(double(timer.nsecsElapsed()) / 1e6);
    model.setOpenFrame(std::nullopt);
    QCoreApplication::processEvents();
  }
  std::printf(
      "detail open to image painted (%zu frames): p50 %.0f ms, p95 %.0f ms (text shown "
      "p50 %.0f ms, image decoded p50 %.0f ms)\n",
      detail.size(), percentile(detail, 0.5), percentile(detail, 0.95), percentile(textShown, 0.5),
      percentile(imageArrived, 0.5));
  std::printf("memory at the end: %.0f MB resident\n", double(residentKilobytes()) / 1024.0);
  std::size_t fewest =
      hitCounts.empty() ? 0 : *std::min_element(hitCounts.begin(), hitCounts.end());
  std::printf("hits per typed query: %zu to %zu\n", fewest,
              hitCounts.empty() ? 0 : *std::max_element(hitCounts.begin(), hitCounts.end()));
  model.shutdown();
  FrameLibrary::open(argv[1], *keys, false, Calendar::systemDefault())->remove(realistic);
  return 0;
}
