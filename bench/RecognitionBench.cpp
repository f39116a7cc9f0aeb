// Text recognition of text-heavy 1600x1000 screens: what each way of reading costs and reads.
//
// Screens: a document editor with a sidebar, a code editor with file tree and terminal, a mail
// client, a three-column news page and a spreadsheet, each light and dark, with 11 to 16 pixel
// text (ten screens, rendered at start). Every configuration reads all of them; the counters give
// the CPU seconds per screen (all threads), the wall-clock seconds, and the recall (share of the visible words, two characters or
// longer, found among the words read) as mean, minimum, and mean over the 11-pixel screens.
// Target for the default: under 1.0 s per screen, recall >= 96 % (>= 90 % at 11 px).
// engine_columns is the width of all line images handed to the LSTM engine, which its time is
// proportional to; it does not depend on how busy the machine is.
//
// TesseractPage: Tesseract's own page layout (psm 3 automatic, 11 sparse text, 3 on the doubled
// image). ScreenLines: the default way, at several ink heights, and once with the OpenMP regions
// left to libgomp (one thread) instead of running inline; one engine, then two reading at once.
// ChangedScreen and ScrolledScreen read a screen after a partly changed or scrolled one, as the
// recorder does for consecutive frames: lines whose pixels did not change are taken over.

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include "VistrelKit/ocr/SerialOpenMP.h"
#include "VistrelKit/ocr/TextRecognizer.h"
#include "tests/support/ScreenFixtures.h"

namespace vistrel {
namespace {

struct Sample {
  std::string name;
  int px;
  Image image;
  std::vector<std::string> words;
};

const std::vector<Sample>& samples() {
  static const std::vector<Sample> all = [] {
    using namespace fixtures;
    const Screen screens[] = {
        documentScreen(light, 13, 101),    documentScreen(dark, 16, 102),
        codeEditorScreen(light, 11, 103),  codeEditorScreen(dark, 13, 104),
        mailScreen(light, 16, 105),        mailScreen(dark, 11, 106),
        columnsScreen(light, 11, 107),     columnsScreen(dark, 13, 108),
        spreadsheetScreen(light, 13, 109), spreadsheetScreen(dark, 11, 110),
    };
    const int sizes[] = {13, 16, 11, 13, 16, 11, 11, 13, 13, 11};
    std::vector<Sample> result;
    for (std::size_t i = 0; i < std::size(screens); ++i) {
      if (std::optional<Image> image = render(screens[i])) {
        result.push_back({screens[i].name(), sizes[i], std::move(*image), screens[i].words()});
      }
    }
    return result;
  }();
  return all;
}

double secondsOf(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Processor time of every thread of the process: all the engines' work.
double cpuSeconds() {
  return secondsOf(CLOCK_PROCESS_CPUTIME_ID);
}

double wallSeconds() {
  return secondsOf(CLOCK_MONOTONIC);
}

std::vector<std::string> readTokens(const std::vector<TextLine>& lines) {
  std::vector<std::string> tokens;
  for (const TextLine& line : lines) {
    for (std::string& token : fixtures::tokens(line.text)) {
      tokens.push_back(std::move(token));
    }
  }
  return tokens;
}

// Leaves Tesseract's OpenMP regions to libgomp, limited to one thread as OMP_THREAD_LIMIT=1
// would (that variable is read only when libgomp loads); or runs them inline again.
void useLibgomp(bool libgomp) {
  setSerialOpenMPRegions(!libgomp);
  using SetLevels = void (*)(int);
  if (const auto setLevels =
          reinterpret_cast<SetLevels>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))) {
    setLevels(libgomp ? 0 : 1);
  }
}

void readAll(benchmark::State& state, TextRecognizer::Options options, bool inlineOpenMP = true) {
  const std::vector<Sample>& screens = samples();
  if (screens.empty()) {
    state.SkipWithError("could not render the screens (is ImageMagick installed?)");
    return;
  }
  useLibgomp(!inlineOpenMP);
  options.reuseUnchangedLines = false;
  TextRecognizer recognizer(options);
  double recallSum = 0;
  double recallMin = 1;
  double smallSum = 0;
  int smallCount = 0;
  double columns = 0;
  double seconds = 0;
  double wall = 0;
  for (auto _ : state) {
    recallSum = smallSum = columns = seconds = wall = 0;
    recallMin = 1;
    smallCount = 0;
    for (const Sample& sample : screens) {
      const double start = cpuSeconds();
      const double wallStart = wallSeconds();
      const std::vector<TextLine> lines = recognizer.recognize(sample.image);
      seconds += cpuSeconds() - start;
      wall += wallSeconds() - wallStart;
      columns += static_cast<double>(recognizer.lastStatistics().engineColumns);
      const double recall = fixtures::recall(sample.words, readTokens(lines));
      recallSum += recall;
      recallMin = std::min(recallMin, recall);
      if (sample.px == 11) {
        smallSum += recall;
        ++smallCount;
      }
    }
  }
  useLibgomp(false);
  const double count = static_cast<double>(screens.size());
  state.counters["cpu_s_per_screen"] = seconds / count;
  state.counters["wall_s_per_screen"] = wall / count;
  state.counters["recall_mean"] = recallSum / count;
  state.counters["recall_min"] = recallMin;
  state.counters["recall_11px"] = smallCount ? smallSum / smallCount : 0;
  state.counters["engine_columns"] = columns / count;
}

using Layout = TextRecognizer::Options::Layout;

void TesseractPage(benchmark::State& state) {
  TextRecognizer::Options options;
  options.layout = Layout::tesseractPage;
  options.engines = 1;
  options.pageSegmentation = static_cast<int>(state.range(0));
  options.pageScale = static_cast<double>(state.range(1));
  readAll(state, options);
}
// psm 3 (automatic) and 11 (sparse text) at native size, psm 3 on the doubled image.
BENCHMARK(TesseractPage)
    ->Args({3, 1})
    ->Args({11, 1})
    ->Args({3, 2})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

void ScreenLines(benchmark::State& state) {
  TextRecognizer::Options options;
  options.inkHeight = static_cast<int>(state.range(0));
  options.engines = static_cast<int>(state.range(2));
  readAll(state, options, state.range(1) != 0);
}
// Ink heights in the engine's 36-row input (18 is the default); the second argument 0 leaves
// the OpenMP regions to libgomp with one thread instead of running them inline; the third is the
// number of engines reading at once (2 is the default on two or more cores).
BENCHMARK(ScreenLines)
    ->Args({26, 1, 1})
    ->Args({22, 1, 1})
    ->Args({20, 1, 1})
    ->Args({18, 1, 1})
    ->Args({16, 1, 1})
    ->Args({15, 1, 1})
    ->Args({14, 1, 1})
    ->Args({18, 0, 1})
    ->Args({18, 1, 2})
    ->Args({16, 1, 2})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Reads `before`, then times reading `after` alone: with line reuse (argument 1) the lines
// unchanged between the two are taken over.
void readSecondScreen(benchmark::State& state, const Image& before, const Image& after) {
  TextRecognizer::Options options;
  options.reuseUnchangedLines = state.range(0) != 0;
  TextRecognizer recognizer(options);
  double seconds = 0;
  double wall = 0;
  for (auto _ : state) {
    recognizer.recognize(before);
    const double start = cpuSeconds();
    const double wallStart = wallSeconds();
    recognizer.recognize(after);
    seconds = cpuSeconds() - start;
    wall = wallSeconds() - wallStart;
  }
  state.counters["cpu_s_per_screen"] = seconds;
  state.counters["wall_s_per_screen"] = wall;
  state.counters["lines_found"] = recognizer.lastStatistics().linesFound;
  state.counters["lines_read"] = recognizer.lastStatistics().linesRead;
}

// The mail screen after the same mail screen with another message open: only the reading pane
// (right of x = 700) differs.
void ChangedScreen(benchmark::State& state) {
  using namespace fixtures;
  const std::optional<Image> before = render(mailScreen(light, 13, 301));
  const std::optional<Image> other = render(mailScreen(light, 13, 302));
  if (!before || !other) {
    state.SkipWithError("could not render the screens (is ImageMagick installed?)");
    return;
  }
  Image after(before->width(), before->height(), PixelFormat::rgbx);
  for (int y = 0; y < after.height(); ++y) {
    std::memcpy(after.row(y), before->row(y), 700 * 4);
    std::memcpy(after.row(y) + 700 * 4, other->row(y) + 700 * 4,
                static_cast<std::size_t>(after.width() - 700) * 4);
  }
  readSecondScreen(state, *before, after);
}
BENCHMARK(ChangedScreen)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// The document screen after the same screen scrolled by 75 pixels: lines that stay in view keep
// their pixels and are taken over.
void ScrolledScreen(benchmark::State& state) {
  using namespace fixtures;
  const std::optional<Image> before = render(documentScreen(light, 13, 401));
  if (!before) {
    state.SkipWithError("could not render the screen (is ImageMagick installed?)");
    return;
  }
  constexpr int scrolled = 75;
  Image after(before->width(), before->height(), PixelFormat::rgbx);
  for (int y = 0; y < after.height(); ++y) {
    const int from = std::min(y + scrolled, before->height() - 1);
    std::memcpy(after.row(y), before->row(from), static_cast<std::size_t>(after.width()) * 4);
  }
  readSecondScreen(state, *before, after);
}
BENCHMARK(ScrolledScreen)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace vistrel
