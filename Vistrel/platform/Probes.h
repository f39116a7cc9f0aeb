#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "VistrelKit/capture/ExclusionRules.h"
#include "VistrelKit/imaging/Image.h"
#include "VistrelKit/imaging/PixelBox.h"

namespace vistrel {

// A point in global display coordinates: the space that window geometry and the display
// frames share (on X11 the root window's pixels).
struct Point {
  double x = 0;
  double y = 0;

  friend bool operator==(const Point&, const Point&) = default;
};

// One display (monitor) of the desktop, in global display coordinates.
struct DisplayFrame {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool contains(Point point) const {
    return point.x >= x && point.x < double(x) + width && point.y >= y &&
           point.y < double(y) + height;
  }

  friend bool operator==(const DisplayFrame&, const DisplayFrame&) = default;
};

// What the front-window probe found: the owning application and the window's title, and the
// centre of the window when one of the application's windows is on screen.
struct FrontWindow {
  WindowInfo info;
  std::optional<Point> center;

  friend bool operator==(const FrontWindow&, const FrontWindow&) = default;
};

// The capture's own failure. Failures of the platform's screenshot service are reported with
// their own exception types; every one of them carries the user-facing text in what().
class CaptureError : public std::runtime_error {
 public:
  enum class Code { noDisplay };

  explicit CaptureError(Code code);

  Code code() const { return code_; }

 private:
  Code code_;
};

// A probe that cannot answer: the desktop did not say, or said something that cannot be read.
// The capture then records nothing rather than guess. what() completes "can't tell …".
class ProbeUnknown : public std::runtime_error {
 public:
  static ProbeUnknown frontWindow() { return ProbeUnknown("which window is in front"); }
  static ProbeUnknown lockState() { return ProbeUnknown("whether the screen is locked"); }
  static ProbeUnknown idleTime() { return ProbeUnknown("how long the computer has been idle"); }
  static ProbeUnknown secureInput() { return ProbeUnknown("whether a password field is active"); }

 private:
  using std::runtime_error::runtime_error;
};

// A screenshot and what the desktop knows of the windows in it.
struct Screenshot {
  Image image;
  // Each window's content as it shows in `image`, and the desktop behind them; empty when the
  // desktop cannot tell.
  std::vector<WindowArea> windows;
};

// The facts about screen and session that only the desktop knows. The capture loop asks for
// them and makes every decision itself.
//
// Thread safety: implementations are safe to call from several threads at once; the loop calls
// everything on the main thread except captureScreen, which it runs on a worker thread.
class Probes {
 public:
  virtual ~Probes() = default;

  // The application and window in front; absent when nothing is in front. These four throw
  // ProbeUnknown when the desktop cannot answer.
  virtual std::optional<FrontWindow> frontWindow() = 0;
  virtual bool isScreenLockedOrAsleep() = 0;
  // Seconds since the user last pressed a key or moved the pointer.
  virtual double idleSeconds() = 0;
  // True while a password prompt has the keyboard.
  virtual bool isSecureInputOn() = 0;
  // Reads the permission without asking the user.
  virtual bool hasScreenRecordingPermission() = 0;
  // Asks the user where the desktop has such a request; answers the permission afterwards.
  virtual bool requestScreenRecordingPermission() = 0;
  // One screenshot of the display under `center` (the first display when `center` is absent or
  // on no display), at most `maxWidth` pixels wide, with every window that `rules` excludes, and
  // every window of this application, painted black; an rgbx image, with the windows it shows
  // (excluded ones left out). Throws CaptureError or the platform's error.
  virtual Screenshot captureScreen(const ExclusionRules& rules, std::optional<Point> center,
                                   int maxWidth) = 0;
  // Why the screen cannot be read here, in the user's words (a desktop Vistrel does not support
  // yet); none when it can, or when nothing more than "not granted" is known.
  virtual std::optional<std::string> screenAccessProblem() { return std::nullopt; }
};

// The display a screenshot is taken of: the first (in the desktop's order) that contains
// `center`, else the first; absent when there is no display.
std::optional<std::size_t> chooseDisplay(const std::vector<DisplayFrame>& displays,
                                         std::optional<Point> center);

struct PixelSize {
  int width = 0;
  int height = 0;

  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The size a display of `width` × `height` pixels is captured at: no wider than `maxWidth`,
// in the display's aspect ratio, never smaller than one pixel each way.
PixelSize captureSize(int width, int height, int maxWidth);

}  // namespace vistrel
