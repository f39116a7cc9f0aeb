// Speed of the X11 probes on a private Xvfb with openbox and a private D-Bus bus with a screen
// saver on it, eight windows on a 1920x1080 display:
//   CaptureScreen1600WithTwoExcludedWindows: one screenshot scaled to 1600 pixels wide with two
//       excluded windows blanked (target below 30 ms).
//   FrontWindow: the front-window probe (target below 2 ms).
//   PreCaptureChecks: everything a capture tick asks before its screenshot: permission, lock
//       state, idle time, front window, secure input, and the exclusion rules of the default
//       settings built and evaluated.
//   ScaleToRGBX / ScaleThroughCoreImaging: the capture's own area-averaging scaler against the
//       core's general resampler for the same job, from the server's blue-green-red pixels.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "Vistrel/platform/linux/PixelScaling.h"
#include "Vistrel/platform/linux/X11Probes.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/settings/VistrelConfig.h"
#include "tests/support/FakeSessionBus.h"
#include "tests/support/XvfbSession.h"

namespace vistrel {
namespace {

using testing::TestWindow;

struct Desktop {
  Desktop() {
    testing::qtApplication();
    screenSaver = testing::fakeScreenSaver(bus.address(), screenSaverActive);
    for (int i = 0; i < 6; ++i) {
      windows.push_back(std::make_unique<TestWindow>(
          TestWindow::Spec{.instance = "app" + std::to_string(i),
                           .className = "App" + std::to_string(i),
                           .title = "Document " + std::to_string(i),
                           .area = {60 + 200 * i, 80 + 90 * i, 700, 500},
                           .color = 0x204060u + 0x101010u * i}));
    }
    windows.push_back(std::make_unique<TestWindow>(TestWindow::Spec{.instance = "keepassxc",
                                                                    .className = "KeePassXC",
                                                                    .title = "Passwords",
                                                                    .area = {300, 300, 600, 400},
                                                                    .color = 0xCC2222}));
    windows.push_back(
        std::make_unique<TestWindow>(TestWindow::Spec{.instance = "Navigator",
                                                      .className = "firefox",
                                                      .title = "Bank account — Firefox",
                                                      .area = {1000, 200, 800, 600},
                                                      .color = 0x22AA44}));
    windows.back()->activate();
    X11Probes::Options options;
    options.display = session.display();
    options.sessionBusAddress = bus.address();
    options.systemBusAddress = bus.address();
    probes = std::make_unique<X11Probes>(options);
  }

  testing::XvfbSession session;
  testing::PrivateBus bus;
  std::atomic<bool> screenSaverActive{false};
  std::unique_ptr<testing::FakeService> screenSaver;
  std::vector<std::unique_ptr<TestWindow>> windows;
  std::unique_ptr<X11Probes> probes;
};

// Made on first use and ended at exit, so that no X server or bus outlives the program.
Desktop& desktop() {
  static Desktop instance;
  return instance;
}

void CaptureScreen1600WithTwoExcludedWindows(benchmark::State& state) {
  Desktop& d = desktop();
  const ExclusionRules rules({{"keepassxc", "KeePassXC"}}, {"bank account"}, true, true,
                             ownApplicationID);
  for (auto _ : state) {
    Image image = d.probes->captureScreen(rules, std::nullopt, 1600).image;
    benchmark::DoNotOptimize(image.row(0));
  }
}
BENCHMARK(CaptureScreen1600WithTwoExcludedWindows)->Unit(benchmark::kMillisecond);

void FrontWindow(benchmark::State& state) {
  Desktop& d = desktop();
  for (auto _ : state) {
    auto front = d.probes->frontWindow();
    benchmark::DoNotOptimize(front);
  }
}
BENCHMARK(FrontWindow)->Unit(benchmark::kMicrosecond);

void PreCaptureChecks(benchmark::State& state) {
  Desktop& d = desktop();
  const VistrelConfig config;
  bool mayCapture = false;
  for (auto _ : state) {
    Probes& probes = *d.probes;
    const bool permitted = probes.hasScreenRecordingPermission();
    const bool locked = probes.isScreenLockedOrAsleep();
    const double idle = probes.idleSeconds();
    const auto front = probes.frontWindow();
    const bool secure = probes.isSecureInputOn();
    const ExclusionRules rules = config.exclusionRules(ownApplicationID);
    const auto skip = rules.evaluate(front ? std::optional(front->info) : std::nullopt, secure);
    mayCapture = permitted && !locked && idle < config.idleMinutes * 60 && !skip;
    benchmark::DoNotOptimize(mayCapture);
  }
  // The front window is a browser on a banking page: the default rules skip it.
  state.counters["mayCapture"] = mayCapture;
}
BENCHMARK(PreCaptureChecks)->Unit(benchmark::kMicrosecond);

void IsScreenLockedOrAsleep(benchmark::State& state) {
  Desktop& d = desktop();
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.probes->isScreenLockedOrAsleep());
  }
}
BENCHMARK(IsScreenLockedOrAsleep)->Unit(benchmark::kMicrosecond);

// A 1920x1080 screen as the server sends it: blue, green, red, unused, with some detail.
const std::vector<std::uint8_t>& serverPixels() {
  static const std::vector<std::uint8_t> pixels = [] {
    std::vector<std::uint8_t> bytes(std::size_t(1920) * 1080 * 4);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = std::uint8_t((i * 2654435761u) >> 24);
    }
    return bytes;
  }();
  return pixels;
}

void ScaleToRGBX(benchmark::State& state) {
  const auto& pixels = serverPixels();
  for (auto _ : state) {
    Image image = scaleToRGBX(pixels.data(), 1920, 1080, 1920 * 4, {2, 1, 0}, 1600, 900);
    benchmark::DoNotOptimize(image.row(0));
  }
}
BENCHMARK(ScaleToRGBX)->Unit(benchmark::kMillisecond);

void ScaleThroughCoreImaging(benchmark::State& state) {
  const auto& pixels = serverPixels();
  for (auto _ : state) {
    Image full = Image::forOverwrite(1920, 1080, PixelFormat::rgbx);
    for (int y = 0; y < 1080; ++y) {
      const std::uint8_t* source = pixels.data() + std::size_t(y) * 1920 * 4;
      std::uint8_t* target = full.row(y);
      for (int x = 0; x < 1920 * 4; x += 4) {
        target[x] = source[x + 2];
        target[x + 1] = source[x + 1];
        target[x + 2] = source[x];
        target[x + 3] = 255;
      }
    }
    auto image = Imaging::scale(full, 1600, false);
    benchmark::DoNotOptimize(image->row(0));
  }
}
BENCHMARK(ScaleThroughCoreImaging)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vistrel
