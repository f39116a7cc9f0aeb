#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Vistrel/platform/linux/DesktopEntries.h"

namespace vistrel {

// What a window says, or lets us find out, about the application that owns it. Empty when
// unknown.
struct WindowClaims {
  std::string wmInstance;        // first part of WM_CLASS
  std::string wmClass;           // second part of WM_CLASS
  std::string gtkApplicationID;  // _GTK_APPLICATION_ID
  std::string kdeDesktopFile;    // _KDE_NET_WM_DESKTOP_FILE, a desktop ID or a path
  std::string sandboxAppID;      // Flatpak or Snap desktop ID of the owning process
};

// The application's stable ID (its desktop-entry ID where one can be told, else its window
// class) and display name (the desktop entry's Name, else the window class). Both empty or
// absent when nothing is known.
struct ApplicationIdentity {
  std::optional<std::string> bundleID;
  std::string name;

  friend bool operator==(const ApplicationIdentity&, const ApplicationIdentity&) = default;
};

ApplicationIdentity identifyApplication(const WindowClaims& claims, DesktopEntries& entries);

// The desktop ID of a Flatpak or Snap application from the text of /proc/<pid>/cgroup.
std::optional<std::string> sandboxAppIDFromCgroup(std::string_view cgroupText);

}  // namespace vistrel
