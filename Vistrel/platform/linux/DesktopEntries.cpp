#include "Vistrel/platform/linux/DesktopEntries.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vistrel {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t largestEntryBytes = 1 << 20;

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string unescape(std::string_view value) {
  std::string result;
  result.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      result += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
        result += ' ';
        break;
      case 'n':
        result += '\n';
        break;
      case 't':
        result += '\t';
        break;
      case 'r':
        result += '\r';
        break;
      default:
        result += value[i];
        break;
    }
  }
  return result;
}

char lowerASCII(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerASCII(x) == lowerASCII(y);
         });
}

// The locale keys a localized value may carry, best match first: lang_COUNTRY@MODIFIER,
// lang_COUNTRY, lang@MODIFIER, lang.
std::vector<std::string> localeKeys(std::string_view locale) {
  std::string_view rest = locale;
  std::string modifier;
  if (const auto at = rest.find('@'); at != std::string_view::npos) {
    modifier = std::string(rest.substr(at + 1));
    rest = rest.substr(0, at);
  }
  if (const auto dot = rest.find('.'); dot != std::string_view::npos) {
    rest = rest.substr(0, dot);
  }
  std::string lang(rest);
  std::string country;
  if (const auto underscore = rest.find('_'); underscore != std::string_view::npos) {
    lang = std::string(rest.substr(0, underscore));
    country = std::string(rest.substr(underscore + 1));
  }
  std::vector<std::string> keys;
  if (lang.empty() || lang == "C" || lang == "POSIX") {
    return keys;
  }
  if (!country.empty() && !modifier.empty()) {
    keys.push_back(lang + "_" + country + "@" + modifier);
  }
  if (!country.empty()) {
    keys.push_back(lang + "_" + country);
  }
  if (!modifier.empty()) {
    keys.push_back(lang + "@" + modifier);
  }
  keys.push_back(lang);
  return keys;
}

std::optional<std::string> readSmallFile(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size > largestEntryBytes) {
    return std::nullopt;
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    return std::nullopt;
  }
  std::ostringstream text;
  text << stream.rdbuf();
  return std::move(text).str();
}

std::string desktopID(const fs::path& relative) {
  std::string id = relative.generic_string();
  id.resize(id.size() - std::string_view(".desktop").size());
  std::replace(id.begin(), id.end(), '/', '-');
  return id;
}

}  // namespace

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string_view id,
                                              std::string_view locale) {
  const std::vector<std::string> wantedKeys = localeKeys(locale);
  std::optional<std::string> name;
  std::optional<std::string> localizedName;
  std::size_t localizedRank = wantedKeys.size();
  std::string type;
  std::string startupWMClass;
  std::string icon;
  bool hidden = false;
  bool inMainGroup = false;

  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == '#') {
      continue;
    }
    if (line.front() == '[') {
      if (inMainGroup) {
        break;
      }
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) {
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      continue;
    }
    const std::string_view key = trim(line.substr(0, equals));
    const std::string value = unescape(trim(line.substr(equals + 1)));
    if (key == "Name") {
      name = value;
    } else if (key.starts_with("Name[") && key.ends_with("]")) {
      const std::string_view keyLocale = key.substr(5, key.size() - 6);
      for (std::size_t rank = 0; rank < localizedRank; ++rank) {
        if (wantedKeys[rank] == keyLocale) {
          localizedName = value;
          localizedRank = rank;
          break;
        }
      }
    } else if (key == "Type") {
      type = value;
    } else if (key == "StartupWMClass") {
      startupWMClass = value;
    } else if (key == "Icon") {
      icon = value;
    } else if (key == "Hidden") {
      hidden = value == "true";
    }
  }
  if (type != "Application" || hidden || !name || name->empty()) {
    return std::nullopt;
  }
  const bool useLocalized = localizedName && !localizedName->empty();
  return DesktopEntry{std::string(id), useLocalized ? *localizedName : *name, startupWMClass, icon};
}

DesktopEntries::DesktopEntries(std::vector<std::filesystem::path> applicationFolders,
                               std::string locale)
    : folders_(std::move(applicationFolders)), locale_(std::move(locale)) {}

std::vector<std::filesystem::path> DesktopEntries::standardFolders() {
  std::vector<fs::path> folders;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (dataHome && *dataHome) {
    folders.push_back(fs::path(dataHome) / "applications");
  } else if (home && *home) {
    folders.push_back(fs::path(home) / ".local/share/applications");
  }
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs = (dataDirs && *dataDirs) ? dataDirs : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    const auto colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty()) {
      folders.push_back(fs::path(dir) / "applications");
    }
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
  }
  return folders;
}

std::string DesktopEntries::standardLocale() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = std::getenv(variable); value && *value) {
      return value;
    }
  }
  return {};
}

DesktopEntries::Stamps DesktopEntries::currentStamps() const {
  Stamps stamps;
  for (const auto& folder : folders_) {
    std::error_code error;
    const auto stamp = fs::last_write_time(folder, error);
    stamps.push_back(error ? std::nullopt : std::optional(stamp));
  }
  return stamps;
}

void DesktopEntries::refreshLocked() {
  Stamps stamps = currentStamps();
  if (stamps_ == stamps) {
    return;
  }
  stamps_ = std::move(stamps);
  entries_.clear();
  byID_.clear();
  for (const auto& folder : folders_) {
    std::error_code error;
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                             error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (it->path().extension() == ".desktop" && it->is_regular_file(error)) {
        files.push_back(it->path());
      }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      const std::string id = desktopID(file.lexically_relative(folder));
      if (byID_.contains(id)) {
        continue;
      }
      const auto text = readSmallFile(file);
      if (!text) {
        continue;
      }
      // A hidden or broken entry still shadows the same ID further down the path.
      auto entry = parseDesktopEntry(*text, id, locale_);
      byID_.emplace(id, entry ? entries_.size() : SIZE_MAX);
      if (entry) {
        entries_.push_back(std::move(*entry));
      }
    }
  }
}

std::optional<DesktopEntry> DesktopEntries::find(std::string_view id) {
  std::lock_guard lock(mutex_);
  refreshLocked();
  const auto it = byID_.find(std::string(id));
  if (it == byID_.end() || it->second == SIZE_MAX) {
    return std::nullopt;
  }
  return entries_[it->second];
}

std::vector<DesktopEntry> DesktopEntries::all() {
  std::lock_guard lock(mutex_);
  refreshLocked();
  return entries_;
}

std::optional<DesktopEntry> DesktopEntries::findForWindowClass(std::string_view wmClass,
                                                               std::string_view wmInstance) {
  std::lock_guard lock(mutex_);
  refreshLocked();
  const auto matchesWindow = [&](std::string_view text) {
    return !text.empty() && ((!wmClass.empty() && equalsIgnoringCase(text, wmClass)) ||
                             (!wmInstance.empty() && equalsIgnoringCase(text, wmInstance)));
  };
  const auto lastComponent = [](std::string_view id) {
    const auto dot = id.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : id.substr(dot + 1);
  };
  for (const auto& entry : entries_) {
    if (matchesWindow(entry.startupWMClass)) {
      return entry;
    }
  }
  for (const auto& entry : entries_) {
    if (matchesWindow(entry.id)) {
      return entry;
    }
  }
  for (const auto& entry : entries_) {
    if (matchesWindow(lastComponent(entry.id))) {
      return entry;
    }
  }
  return std::nullopt;
}

}  // namespace vistrel
