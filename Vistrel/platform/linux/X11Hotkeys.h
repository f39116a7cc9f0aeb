#pragma once

#include <memory>
#include <string>

#include "Vistrel/model/Hotkeys.h"

namespace vistrel {

// Global hot keys on X11: passive key grabs on the root window over a connection of its own,
// with the Caps Lock and Num Lock variants, whose events a socket notifier feeds into the Qt
// event loop of the thread that created it. A grab that another client holds fails with
// BadAccess, which is reported as `taken`.
class X11Hotkeys final : public HotkeyGrabber {
 public:
  // `display` empty: $DISPLAY.
  explicit X11Hotkeys(const std::string& display = {});
  ~X11Hotkeys() override;
  X11Hotkeys(const X11Hotkeys&) = delete;
  X11Hotkeys& operator=(const X11Hotkeys&) = delete;

  Result grab(Shortcut shortcut, std::function<void()> pressed) override;
  void release() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vistrel
