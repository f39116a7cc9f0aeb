#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "VistrelKit/base/Date.h"
#include "VistrelKit/capture/ExclusionRules.h"
#include "VistrelKit/library/RetentionPolicy.h"
#include "VistrelKit/settings/Shortcut.h"

namespace vistrel {

// Every user setting, as one plain value. Stored values are kept as the user set them; the
// limits are applied by the derived values below, where they are used.
struct VistrelConfig {
  int version = 1;
  bool captureEnabled = false;
  double interval = 5.0;  // seconds between capture ticks
  Shortcut pauseShortcut = Shortcut::defaultPause;
  std::optional<Date> pausedUntil;
  int retentionDays = 30;
  double capGB = 5.0;
  std::vector<ExcludedApp> excludedApps = defaultExcludedApps();
  std::vector<std::string> excludedTitleWords = defaultExcludedTitleWords();
  bool skipPrivateWindows = true;
  bool skipSecureInput = true;
  bool stopWhenIdle = true;
  double idleMinutes = 3.0;
  int maxWidth = 1600;  // pixels
  bool onboardingDone = false;

  // `interval` limited to 2...60 seconds.
  double captureInterval() const;
  // The disk cap in bytes, at least a quarter gigabyte (1 GB = 2^30 bytes).
  std::int64_t capBytes() const;
  // At least one day, and the byte cap above.
  RetentionPolicy retention() const;
  ExclusionRules exclusionRules(std::optional<std::string> ownBundleID = std::nullopt) const;
  // Whether a pause is still running at `moment`.
  bool isPaused(Date moment) const;

  friend bool operator==(const VistrelConfig&, const VistrelConfig&) = default;
};

}  // namespace vistrel
