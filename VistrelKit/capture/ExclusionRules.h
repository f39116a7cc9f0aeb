#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "VistrelKit/base/Date.h"

namespace vistrel {

// An application the user never wants recorded. Identified by its bundle identifier (on Linux the
// application ID, see the platform layer); `name` is what messages and lists show.
struct ExcludedApp {
  std::string bundleID;
  std::string name;

  friend bool operator==(const ExcludedApp&, const ExcludedApp&) = default;
};

// The facts about one window on screen.
struct WindowInfo {
  std::optional<std::string> bundleID;
  std::string appName;
  std::optional<std::string> title;

  friend bool operator==(const WindowInfo&, const WindowInfo&) = default;
};

// The instant that stands for "paused until resumed": the first instant of the year 4001,
// 63,113,904,000 seconds after 2001-01-01 00:00 UTC.
inline constexpr Date distantFuture{Seconds(63113904000.0 + referenceDate2001)};

// Renders a time of day in the user's short time format, without a date part.
using ShortTimeFormatter = std::function<std::string(Date)>;

// The core's fallback formatter: "HH:mm" in local time.
std::string formatShortTime(Date date);

// Why a capture tick saved nothing. A tagged value: `kind` plus the payload of that kind
// (`until` for paused; `detail` = excluded app name, private window's app name or title word).
class SkipReason {
 public:
  enum class Kind {
    paused,
    excludedApp,
    privateWindow,
    titleWord,
    off,
    noPermission,
    locked,
    idle,
    secureInput,
    ownApp,
    unknown,
  };

  static SkipReason paused(std::optional<Date> until = std::nullopt);
  static SkipReason excludedApp(std::string name);
  static SkipReason privateWindow(std::string appName);
  static SkipReason titleWord(std::string word);
  static SkipReason off() { return SkipReason(Kind::off); }
  static SkipReason noPermission() { return SkipReason(Kind::noPermission); }
  static SkipReason locked() { return SkipReason(Kind::locked); }
  static SkipReason idle() { return SkipReason(Kind::idle); }
  static SkipReason secureInput() { return SkipReason(Kind::secureInput); }
  static SkipReason ownApp() { return SkipReason(Kind::ownApp); }
  // A check that could not be answered; `question` completes "can't tell …".
  static SkipReason unknown(std::string question);

  Kind kind() const { return kind_; }
  // The end of a pause; absent for other kinds and for a pause without an end.
  const std::optional<Date>& until() const { return until_; }
  // The excluded app's name, the private window's app name, the matched title word or the
  // unanswered question; empty
  // for the kinds without a text payload.
  const std::string& detail() const { return detail_; }

  // The one-line status text. `shortTime` formats the end of a timed pause (HH:mm when empty).
  std::string message(const ShortTimeFormatter& shortTime = {}) const;

  friend bool operator==(const SkipReason&, const SkipReason&) = default;

 private:
  explicit SkipReason(Kind kind) : kind_(kind) {}

  Kind kind_;
  std::optional<Date> until_;
  std::string detail_;
};

// What the user never wants recorded, built fresh from the settings on every capture tick.
// An immutable value: safe to use from any thread.
class ExclusionRules {
 public:
  ExclusionRules() = default;
  // Apps with an empty bundle ID are dropped; keys are lower-cased and a later duplicate wins.
  // Title words are trimmed of spaces and tabs and empty ones dropped; order and case are kept.
  ExclusionRules(const std::vector<ExcludedApp>& apps, const std::vector<std::string>& titleWords,
                 bool skipPrivate, bool skipSecureInput,
                 std::optional<std::string> ownBundleID = std::nullopt);

  // The reason the moment must not be recorded, or nothing when it may be. Secure keyboard entry
  // is checked first and needs no window.
  std::optional<SkipReason> evaluate(const std::optional<WindowInfo>& window,
                                     bool secureInputOn) const;

  // Whether a window must be blanked out of screenshots: own app, excluded app, private window
  // (when skipped) or excluded title word. Never looks at secure keyboard entry.
  bool isExcluded(const WindowInfo& window) const;

  // Lower-cased bundle ID -> display name. A key ending in "." excludes every ID starting with it.
  const std::map<std::string, std::string>& apps() const { return apps_; }
  const std::vector<std::string>& titleWords() const { return titleWords_; }
  bool skipPrivate() const { return skipPrivate_; }
  bool skipSecureInput() const { return skipSecureInput_; }
  const std::optional<std::string>& ownBundleID() const { return ownBundleID_; }

  friend bool operator==(const ExclusionRules&, const ExclusionRules&) = default;

 private:
  std::optional<SkipReason> windowReason(const WindowInfo& window) const;
  std::optional<std::string> excludedAppName(const std::optional<std::string>& bundleID) const;
  std::optional<std::string> matchedTitleWord(const std::optional<std::string>& title) const;

  std::map<std::string, std::string> apps_;
  std::vector<std::string> titleWords_;
  bool skipPrivate_ = false;
  bool skipSecureInput_ = false;
  std::optional<std::string> ownBundleID_;
  // Each title word's words as " w1 w2 ", parallel to titleWords_; empty when it has none.
  std::vector<std::string> titlePatterns_;
};

// Whether a window title carries a private or incognito browsing mark.
bool hasPrivateWindowMark(const std::optional<std::string>& title);

// The default excluded applications: the Mac password managers and Messages, then their Linux
// application IDs.
const std::vector<ExcludedApp>& defaultExcludedApps();

// "banking", "bank account", "credit union", "brokerage".
const std::vector<std::string>& defaultExcludedTitleWords();

}  // namespace vistrel

template <>
struct std::hash<vistrel::ExcludedApp> {
  std::size_t operator()(const vistrel::ExcludedApp& app) const noexcept {
    std::size_t h = std::hash<std::string>{}(app.bundleID);
    return h ^ (std::hash<std::string>{}(app.name) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  }
};
