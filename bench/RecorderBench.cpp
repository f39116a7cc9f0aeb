// The recorder's two paths on a realistic 1600x1000 screen, through Recorder::record itself.
//   UnchangedTick: a screen identical to the last kept one: signature, difference, "unchanged"
//                  (target < 5 ms).
//   ChangedFrame:  two different screens in turn, so every call keeps its frame: signature,
//                  scaling, JPEG, thumbnail and the library's store (sealing, frame file, rows,
//                  index), with text recognition left out (RecognitionBench measures it). The
//                  encoding alone is ImagingBench's ChangedFrame (target < 30 ms).
//   UnchangedTick1080 and FreshScreen1080: the same on 1920x1080 screens, taken at full size as
//                  the capture takes them; a fresh screen is read by the real recognizer before
//                  it is scaled to the 1600 pixels kept (target: a text-heavy screen in 1.0 s
//                  wall and 1.5 s processor time, all threads).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <variant>

#include "VistrelKit/capture/Recorder.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "tests/support/ScreenFixtures.h"

namespace vistrel {
namespace {

const std::optional<Image>& screen(int which) {
  static const std::optional<Image> screens[] = {
      fixtures::render(fixtures::mailScreen(fixtures::light, 13, 7)),
      fixtures::render(fixtures::documentScreen(fixtures::dark, 13, 8)),
  };
  return screens[which];
}

// A library in a fresh temporary folder, removed with the value.
struct ScratchLibrary {
  ScratchLibrary() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vistrel-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      folder = pattern;
      library = FrameLibrary::open(folder, keys, true, Calendar::utc());
    }
  }
  ~ScratchLibrary() {
    library.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  MemoryKeyStore keys;
  std::filesystem::path folder;
  std::shared_ptr<FrameLibrary> library;
};

// Text-heavy screens of a 1080p desktop: a code editor with terminal, a mail client.
const std::optional<Image>& screen1080(int which) {
  static const std::optional<Image> screens[] = {
      fixtures::render(fixtures::codeEditorScreen(fixtures::dark, 12, 21, 1920, 1080)),
      fixtures::render(fixtures::mailScreen(fixtures::light, 13, 22, 1920, 1080)),
  };
  return screens[which];
}

std::vector<TextLine> noText(const Image&, const std::vector<WindowArea>&) {
  return {};
}

void UnchangedTick(benchmark::State& state) {
  if (!screen(0)) {
    state.SkipWithError("could not render the screen (is ImageMagick installed?)");
    return;
  }
  ScratchLibrary scratch;
  Recorder recorder(scratch.library, 1600, noText);
  recorder.record(*screen(0), "Mail", std::nullopt, std::nullopt, now());
  for (auto _ : state) {
    const Recorder::Outcome outcome =
        recorder.record(*screen(0), "Mail", std::nullopt, std::nullopt, now());
    if (!std::holds_alternative<Recorder::Unchanged>(outcome)) {
      state.SkipWithError("the identical screen was not unchanged");
      return;
    }
  }
}
BENCHMARK(UnchangedTick)->Unit(benchmark::kMillisecond);

void ChangedFrame(benchmark::State& state) {
  if (!screen(0) || !screen(1)) {
    state.SkipWithError("could not render the screens (is ImageMagick installed?)");
    return;
  }
  ScratchLibrary scratch;
  Recorder recorder(scratch.library, 1600, noText);
  int which = 0;
  for (auto _ : state) {
    const Recorder::Outcome outcome =
        recorder.record(*screen(which), "Mail", std::nullopt, std::nullopt, now());
    if (!std::holds_alternative<Recorder::Stored>(outcome)) {
      state.SkipWithError("a changed screen was not stored");
      return;
    }
    which = 1 - which;
  }
  const LibraryStats stats = scratch.library->stats(now());
  if (stats.frames > 0)
    state.counters["storedKB"] = static_cast<double>(stats.bytes) / 1024.0 / stats.frames;
}
BENCHMARK(ChangedFrame)->Unit(benchmark::kMillisecond);

void UnchangedTick1080(benchmark::State& state) {
  if (!screen1080(0)) {
    state.SkipWithError("could not render the screen (is ImageMagick installed?)");
    return;
  }
  ScratchLibrary scratch;
  Recorder recorder(scratch.library, 1600, noText);
  recorder.record(*screen1080(0), "Code", std::nullopt, std::nullopt, now());
  for (auto _ : state) {
    if (!std::holds_alternative<Recorder::Unchanged>(
            recorder.record(*screen1080(0), "Code", std::nullopt, std::nullopt, now()))) {
      state.SkipWithError("the identical screen was not unchanged");
      return;
    }
  }
}
BENCHMARK(UnchangedTick1080)->Unit(benchmark::kMillisecond);

void FreshScreen1080(benchmark::State& state) {
  if (!screen1080(0) || !screen1080(1)) {
    state.SkipWithError("could not render the screens (is ImageMagick installed?)");
    return;
  }
  ScratchLibrary scratch;
  Recorder recorder(scratch.library, 1600);
  // The first record loads the language data, which a running capture has long done.
  recorder.record(*screen1080(1), "Code", std::nullopt, std::nullopt, now());
  int which = 0;
  std::int64_t lines = 0;
  for (auto _ : state) {
    const Recorder::Outcome outcome =
        recorder.record(*screen1080(which), "Code", std::nullopt, std::nullopt, now());
    const auto* stored = std::get_if<Recorder::Stored>(&outcome);
    if (!stored) {
      state.SkipWithError("a changed screen was not stored");
      return;
    }
    lines += stored->lines;
    which = 1 - which;
  }
  state.counters["lines"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kAvgIterations);
}
BENCHMARK(FreshScreen1080)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(6);

}  // namespace
}  // namespace vistrel
