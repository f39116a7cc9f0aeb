#pragma once

#include <QString>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Vistrel/platform/Probes.h"
#include "Vistrel/platform/RunningApps.h"

namespace vistrel {

// A request to the X server that failed; what() says which.
class X11Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The probes of an X11 desktop, over xcb: the active window (EWMH, else the input focus), RandR
// monitors, MIT-SHM or GetImage screenshots, MIT-SCREEN-SAVER idle time, DPMS, and the session
// lock over D-Bus. The display is opened on first use and again after the server went away;
// without one every probe answers "nothing there" and captureScreen throws CaptureError.
//
// Thread safety: every operation may be called from any thread, also concurrently.
// True for a Wayland session, from the session's environment ($XDG_SESSION_TYPE,
// $WAYLAND_DISPLAY; either may be null). There the X display is XWayland, whose root window does
// not show the native windows.
bool isWaylandSession(const char* sessionType, const char* waylandDisplay);

class X11Probes final : public Probes, public RunningApps {
 public:
  struct Options {
    std::string display;  // empty: $DISPLAY
    // Where desktop entries are looked up; empty: the XDG data folders.
    std::vector<std::filesystem::path> applicationFolders;
    std::optional<QString> sessionBusAddress;  // default: the session bus
    std::optional<QString> systemBusAddress;   // default: the system bus
    std::chrono::milliseconds busTimeout{250};
  };

  X11Probes();
  explicit X11Probes(Options options);
  ~X11Probes() override;
  X11Probes(const X11Probes&) = delete;
  X11Probes& operator=(const X11Probes&) = delete;

  std::optional<FrontWindow> frontWindow() override;
  bool isScreenLockedOrAsleep() override;
  double idleSeconds() override;
  bool isSecureInputOn() override;
  bool hasScreenRecordingPermission() override;
  bool requestScreenRecordingPermission() override;
  Screenshot captureScreen(const ExclusionRules& rules, std::optional<Point> center,
                           int maxWidth) override;
  std::optional<std::string> screenAccessProblem() override;
  // The applications behind the windows the window manager lists (_NET_CLIENT_LIST), else behind
  // the viewable top-level windows. Regular: a normal or dialog window that is not kept out of the
  // task bar. Windows without an application ID and this application's own are left out.
  std::vector<RunningApp> runningApps() override;

  // The monitors, in the server's order; the whole screen when RandR names none.
  std::vector<DisplayFrame> displays();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The application ID of Vistrel itself: its windows are never captured.
inline constexpr const char* ownApplicationID = "com.tevrin77.Vistrel";

}  // namespace vistrel
