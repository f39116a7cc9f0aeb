#include "VistrelKit/capture/ExclusionRules.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <string_view>
#include <utility>

#include "VistrelKit/base/Texts.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel {

namespace {

std::string lowercased(std::string_view text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    std::string lower(text);
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
  }
  std::string lower;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
      .toLower(icu::Locale::getRoot())
      .toUTF8String(lower);
  return lower;
}

std::string_view trimmedSpacesAndTabs(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The words of a text joined by single spaces with one space before and after,
// so that a plain substring test matches whole words and whole phrases only.
// Empty when the text has no words.
std::string wordPattern(std::string_view text) {
  const auto words = TextIndex::splitWords(text);
  if (words.empty())
    return {};
  std::string pattern = " ";
  for (const auto& word : words) {
    pattern += word;
    pattern += ' ';
  }
  return pattern;
}

constexpr std::array<std::string_view, 7> privateMarks{
    "private browsing", "incognito",      "inprivate", "private window",
    "(private)",        "\u2014 private", "- private",
};

}  // namespace

std::string formatShortTime(Date date) {
  const double seconds = std::floor(secondsSince1970(date));
  // Far beyond any calendar the C library can express; refuse rather than
  // overflow time_t.
  constexpr double limit = 1e15;
  if (!(seconds > -limit && seconds < limit))
    return "--:--";
  const auto time = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&time, &local) == nullptr)
    return "--:--";
  char text[8];
  if (std::strftime(text, sizeof text, "%H:%M", &local) == 0)
    return "--:--";
  return text;
}

SkipReason SkipReason::paused(std::optional<Date> until) {
  SkipReason reason(Kind::paused);
  reason.until_ = until;
  return reason;
}

SkipReason SkipReason::excludedApp(std::string name) {
  SkipReason reason(Kind::excludedApp);
  reason.detail_ = std::move(name);
  return reason;
}

SkipReason SkipReason::privateWindow(std::string appName) {
  SkipReason reason(Kind::privateWindow);
  reason.detail_ = std::move(appName);
  return reason;
}

SkipReason SkipReason::titleWord(std::string word) {
  SkipReason reason(Kind::titleWord);
  reason.detail_ = std::move(word);
  return reason;
}

SkipReason SkipReason::unknown(std::string question) {
  SkipReason reason(Kind::unknown);
  reason.detail_ = std::move(question);
  return reason;
}

std::string SkipReason::message(const ShortTimeFormatter& shortTime) const {
  switch (kind_) {
    case Kind::paused:
      if (!until_ || *until_ >= distantFuture)
        return "Paused until you resume";
      return "Paused until " + (shortTime ? shortTime(*until_) : formatShortTime(*until_));
    case Kind::excludedApp:
      return "Skipped: " + detail_ + " is excluded";
    case Kind::privateWindow:
      return "Skipped: a private " + detail_ + " window";
    case Kind::titleWord:
      return "Skipped: the window title has \u201C" + detail_ + "\u201D";
    case Kind::off:
      return "Capture is off";
    case Kind::noPermission:
      return std::string(texts::noScreenAccessSkip);
    case Kind::locked:
      return "Skipped: the screen is locked or asleep";
    case Kind::idle:
      return std::string(texts::idleSkip);
    case Kind::secureInput:
      return "Skipped: a password field is active";
    case Kind::ownApp:
      return "Skipped: Vistrel is in front";
    case Kind::unknown:
      return "Skipped: can't tell " + detail_;
  }
  return {};
}

ExclusionRules::ExclusionRules(const std::vector<ExcludedApp>& apps,
                               const std::vector<std::string>& titleWords, bool skipPrivate,
                               bool skipSecureInput, std::optional<std::string> ownBundleID)
    : skipPrivate_(skipPrivate),
      skipSecureInput_(skipSecureInput),
      ownBundleID_(std::move(ownBundleID)) {
  for (const auto& app : apps) {
    if (app.bundleID.empty())
      continue;
    apps_.insert_or_assign(lowercased(app.bundleID), app.name);
  }
  for (const auto& word : titleWords) {
    const auto trimmed = trimmedSpacesAndTabs(word);
    if (trimmed.empty())
      continue;
    titleWords_.emplace_back(trimmed);
    titlePatterns_.push_back(wordPattern(trimmed));
  }
}

std::optional<SkipReason> ExclusionRules::evaluate(const std::optional<WindowInfo>& window,
                                                   bool secureInputOn) const {
  if (skipSecureInput_ && secureInputOn)
    return SkipReason::secureInput();
  if (!window)
    return std::nullopt;
  return windowReason(*window);
}

bool ExclusionRules::isExcluded(const WindowInfo& window) const {
  return windowReason(window).has_value();
}

std::optional<SkipReason> ExclusionRules::windowReason(const WindowInfo& window) const {
  if (ownBundleID_ && window.bundleID && *ownBundleID_ == *window.bundleID) {
    return SkipReason::ownApp();
  }
  if (auto name = excludedAppName(window.bundleID))
    return SkipReason::excludedApp(std::move(*name));
  if (skipPrivate_ && hasPrivateWindowMark(window.title)) {
    return SkipReason::privateWindow(window.appName);
  }
  if (auto word = matchedTitleWord(window.title))
    return SkipReason::titleWord(std::move(*word));
  return std::nullopt;
}

std::optional<std::string> ExclusionRules::excludedAppName(
    const std::optional<std::string>& bundleID) const {
  if (!bundleID)
    return std::nullopt;
  const std::string key = lowercased(*bundleID);
  if (key.empty())
    return std::nullopt;
  if (const auto exact = apps_.find(key); exact != apps_.end())
    return exact->second;
  for (const auto& [prefix, name] : apps_) {
    if (prefix.ends_with('.') && key.starts_with(prefix))
      return name;
  }
  return std::nullopt;
}

std::optional<std::string> ExclusionRules::matchedTitleWord(
    const std::optional<std::string>& title) const {
  if (!title || title->empty() || titleWords_.empty())
    return std::nullopt;
  const std::string titlePattern = wordPattern(*title);
  if (titlePattern.empty())
    return std::nullopt;
  for (std::size_t i = 0; i < titleWords_.size(); ++i) {
    const auto& pattern = titlePatterns_[i];
    if (!pattern.empty() && titlePattern.find(pattern) != std::string::npos)
      return titleWords_[i];
  }
  return std::nullopt;
}

bool hasPrivateWindowMark(const std::optional<std::string>& title) {
  if (!title || title->empty())
    return false;
  const std::string lower = lowercased(*title);
  return std::any_of(privateMarks.begin(), privateMarks.end(),
                     [&](std::string_view mark) { return lower.find(mark) != std::string::npos; });
}

const std::vector<ExcludedApp>& defaultExcludedApps() {
  static const std::vector<ExcludedApp> apps{
      {"com.apple.Passwords", "Passwords"},
      {"com.apple.keychainaccess", "Keychain Access"},
      {"com.1password.1password", "1Password"},
      {"com.agilebits.onepassword7", "1Password 7"},
      {"com.bitwarden.desktop", "Bitwarden"},
      {"org.keepassxc.keepassxc", "KeePassXC"},
      {"com.lastpass.LastPass", "LastPass"},
      {"in.sinew.Enpass-Desktop", "Enpass"},
      {"com.apple.MobileSMS", "Messages"},
      {"keepassxc", "KeePassXC"},
      {"bitwarden", "Bitwarden"},
      {"1password", "1Password"},
      {"org.gnome.seahorse.application", "Passwords and Keys"},
      {"org.gnome.world.secrets", "Secrets"},
      {"org.kde.kwalletmanager5", "KWalletManager"},
      {"enpass", "Enpass"},
  };
  return apps;
}

const std::vector<std::string>& defaultExcludedTitleWords() {
  static const std::vector<std::string> words{"banking", "bank account", "credit union",
                                              "brokerage"};
  return words;
}

}  // namespace vistrel
