#pragma once

#include <filesystem>
#include <optional>

#include "Vistrel/model/AppModel.h"

namespace vistrel {

struct LinuxEnvironmentOptions {
  std::filesystem::path dataFolder;              // empty: the default data folder
  std::optional<std::filesystem::path> keyFile;  // an explicit key file instead of the choice
  std::shared_ptr<KeyStore> keyStore;            // a key store already chosen; overrides keyFile
  std::filesystem::path executable;              // what Open at Login starts
  bool hotkeys = true;                           // false: never grab the pause shortcut
  std::shared_ptr<Clipboard> clipboard;          // the desktop's; none: unavailable (headless)
};

// The application model's platform on an X11 desktop: X11 probes and hot keys, the Secret
// Service or key file, the XDG autostart entry, the system clock and calendar. Without a
// clipboard in the options (no desktop toolkit) copying reports that it is unavailable. Raises
// KeyFileLocationError for a key file inside the data folder.
AppEnvironment makeLinuxEnvironment(const LinuxEnvironmentOptions& options);

// Grabs nothing: for runs that must not hold the desktop's keys (the command line).
class NoHotkeys final : public HotkeyGrabber {
 public:
  Result grab(Shortcut, std::function<void()>) override { return Result::unavailable; }
  void release() override {}
};

}  // namespace vistrel
