// The recorder's two paths on a realistic 1600x1000 screen, through Recorder::record itself.
//   UnchangedTick: a screen identical to the last kept one: signature, difference, "unchanged"
//                  (target < 5 ms).
//   ChangedFrame:  two different screens in turn, so every call keeps its frame: signature,
//                  scaling, JPEG, thumbnail and the library's store (sealing, frame file, rows,
//                  index), with text recognition left out (RecognitionBench measures it). The
//                  encoding alone is ImagingBench's ChangedFrame (target < 30 ms).

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

}  // namespace
}  // namespace vistrel
