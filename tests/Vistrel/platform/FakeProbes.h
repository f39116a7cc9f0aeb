#pragma once

// Test support: probes whose answers the test sets, with a list of displays so that the choice
// of display can be tested without several monitors.

#include <array>
#include <exception>
#include <mutex>
#include <optional>
#include <vector>

#include "Vistrel/platform/Probes.h"

namespace vistrel::testing {

class FakeProbes final : public Probes {
 public:
  // What the probes answer. Change it under `lock()` while another thread may capture.
  struct State {
    std::optional<FrontWindow> front;
    bool lockedOrAsleep = false;
    double idle = 0;
    bool secureInput = false;
    bool permission = true;
    // Probes that cannot answer and throw ProbeUnknown instead.
    bool frontUnknown = false;
    bool lockUnknown = false;
    bool idleUnknown = false;
    bool secureInputUnknown = false;
    bool grantOnRequest = true;
    std::vector<DisplayFrame> displays{{0, 0, 1920, 1080}};
    // Thrown by captureScreen instead of taking a picture.
    std::exception_ptr captureFailure;
    // A blanked screen: the display's colour everywhere, without the white line across the
    // middle that every other fake screenshot has.
    bool blank = false;
  };

  // What the last capture was asked and chose.
  struct CaptureCall {
    ExclusionRules rules;
    std::optional<Point> center;
    int maxWidth = 0;
    std::size_t display = 0;
  };

  std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }
  State& state() { return state_; }
  std::vector<CaptureCall> captures() {
    std::lock_guard guard(mutex_);
    return captures_;
  }
  int permissionRequests() {
    std::lock_guard guard(mutex_);
    return permissionRequests_;
  }

  // The colour (red, green, blue) every pixel of display `index` has in a fake screenshot.
  static std::array<std::uint8_t, 3> colorOfDisplay(std::size_t index) {
    return {std::uint8_t(40 + 50 * index), std::uint8_t(200 - 30 * index), 90};
  }

  std::optional<FrontWindow> frontWindow() override {
    std::lock_guard guard(mutex_);
    if (state_.frontUnknown)
      throw ProbeUnknown::frontWindow();
    return state_.front;
  }
  bool isScreenLockedOrAsleep() override {
    std::lock_guard guard(mutex_);
    if (state_.lockUnknown)
      throw ProbeUnknown::lockState();
    return state_.lockedOrAsleep;
  }
  double idleSeconds() override {
    std::lock_guard guard(mutex_);
    if (state_.idleUnknown)
      throw ProbeUnknown::idleTime();
    return state_.idle;
  }
  bool isSecureInputOn() override {
    std::lock_guard guard(mutex_);
    if (state_.secureInputUnknown)
      throw ProbeUnknown::secureInput();
    return state_.secureInput;
  }
  bool hasScreenRecordingPermission() override {
    std::lock_guard guard(mutex_);
    return state_.permission;
  }
  bool requestScreenRecordingPermission() override {
    std::lock_guard guard(mutex_);
    ++permissionRequests_;
    state_.permission = state_.permission || state_.grantOnRequest;
    return state_.permission;
  }

  Screenshot captureScreen(const ExclusionRules& rules, std::optional<Point> center,
                           int maxWidth) override {
    std::lock_guard guard(mutex_);
    if (state_.captureFailure) {
      std::rethrow_exception(state_.captureFailure);
    }
    const auto chosen = chooseDisplay(state_.displays, center);
    if (!chosen) {
      throw CaptureError(CaptureError::Code::noDisplay);
    }
    captures_.push_back({rules, center, maxWidth, *chosen});
    const DisplayFrame& frame = state_.displays[*chosen];
    const PixelSize size = captureSize(frame.width, frame.height, maxWidth);
    Image image(size.width, size.height, PixelFormat::rgbx);
    const auto displayColor = colorOfDisplay(*chosen);
    const std::array<std::uint8_t, 3> white{255, 255, 255};
    for (int y = 0; y < image.height(); ++y) {
      const auto& color = !state_.blank && y == image.height() / 2 ? white : displayColor;
      std::uint8_t* pixel = image.row(y);
      for (int x = 0; x < image.width(); ++x, pixel += 4) {
        pixel[0] = color[0];
        pixel[1] = color[1];
        pixel[2] = color[2];
        pixel[3] = 255;
      }
    }
    return {std::move(image), {}};
  }

 private:
  std::mutex mutex_;
  State state_;
  std::vector<CaptureCall> captures_;
  int permissionRequests_ = 0;
};

}  // namespace vistrel::testing
