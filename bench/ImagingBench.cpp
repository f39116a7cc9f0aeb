// The recorder's per-tick imaging costs on realistic screens.
//   UnchangedTick: signature of a 1600x1000 screen and its difference from the last kept one,
//                  the whole cost of a tick where nothing changed (target < 5 ms).
//   ChangedFrame:  scaling to the stored width, JPEG at 0.6, the 360-wide thumbnail and its JPEG
//                  (target < 30 ms), for captures already 1600 wide and for wider ones.

#include <benchmark/benchmark.h>

#include <map>

#include "VistrelKit/imaging/FrameSignature.h"
#include "VistrelKit/imaging/Imaging.h"
#include "tests/support/ScreenFixtures.h"

namespace vistrel {
namespace {

const Image* screen(int width, int height) {
  static std::map<std::pair<int, int>, std::optional<Image>> cache;
  auto& slot = cache[{width, height}];
  if (!slot) {
    const int px = 13 * width / 1600;
    slot = fixtures::render(fixtures::mailScreen(fixtures::light, px, 7, width, height));
  }
  return slot ? &*slot : nullptr;
}

void UnchangedTick(benchmark::State& state) {
  const Image* image = screen(1600, 1000);
  if (!image) {
    state.SkipWithError("could not render the screen (is ImageMagick installed?)");
    return;
  }
  const FrameSignature last = *FrameSignature::from(*image);
  for (auto _ : state) {
    const auto signature = FrameSignature::from(*image);
    benchmark::DoNotOptimize(signature->difference(last, 8));
  }
}
BENCHMARK(UnchangedTick)->Unit(benchmark::kMillisecond);

void ChangedFrame(benchmark::State& state) {
  const Image* image = screen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  if (!image) {
    state.SkipWithError("could not render the screen (is ImageMagick installed?)");
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto scaled = Imaging::scale(*image, 1600, false);
    const auto jpeg = Imaging::jpeg(*scaled, 0.6);
    const auto thumbnail = Imaging::scale(*scaled, 360, false);
    const auto thumbnailJPEG = Imaging::jpeg(*thumbnail, 0.6);
    bytes = jpeg->size() + thumbnailJPEG->size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["jpegKB"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(ChangedFrame)
    ->Args({1600, 1000})
    ->Args({1920, 1080})
    ->Args({2880, 1800})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vistrel
