#pragma once

#include <string>
#include <vector>

namespace vistrel {

// An application with a window open on the desktop.
struct RunningApp {
  std::string bundleID;  // its stable application ID; never empty
  std::string name;      // what the user calls it
  // Shows windows of its own in the task bar, as opposed to a tray-only helper or a desktop
  // component (panels, docks, the desktop itself).
  bool regular = true;

  friend bool operator==(const RunningApp&, const RunningApp&) = default;
};

// The applications running on the desktop, as far as their windows tell. Main thread only.
class RunningApps {
 public:
  virtual ~RunningApps() = default;

  // In the desktop's order (oldest window first); an application with several windows may
  // appear more than once. Empty without a desktop.
  virtual std::vector<RunningApp> runningApps() = 0;
};

}  // namespace vistrel
