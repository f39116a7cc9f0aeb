#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

// The parts of an application's desktop entry that name it.
struct DesktopEntry {
  std::string id;              // file name without ".desktop"; subfolders joined with "-"
  std::string name;            // Name, localized when the entry has the user's language
  std::string startupWMClass;  // StartupWMClass, empty when absent
  std::string icon;            // Icon: a theme icon name or an absolute path, empty when absent

  friend bool operator==(const DesktopEntry&, const DesktopEntry&) = default;
};

// Parses the text of one desktop entry; absent unless it is an application entry with a name
// that is not hidden. `locale` is a POSIX locale name such as "de_CH.UTF-8@euro".
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string_view id,
                                              std::string_view locale);

// The desktop entries installed on this machine, read from the "applications" folders and read
// again when one of those folders changes. Safe to use from several threads.
class DesktopEntries {
 public:
  // `applicationFolders` in order of precedence: the first entry of an ID wins.
  DesktopEntries(std::vector<std::filesystem::path> applicationFolders, std::string locale);

  // $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS/applications.
  static std::vector<std::filesystem::path> standardFolders();
  // The user's locale for messages: $LC_ALL, $LC_MESSAGES or $LANG.
  static std::string standardLocale();

  std::optional<DesktopEntry> find(std::string_view id);
  // Every visible application entry, one per ID, in precedence order of their folders.
  std::vector<DesktopEntry> all();
  // The entry for a window of class `wmClass` and instance `wmInstance`: the first whose
  // StartupWMClass is the class or instance, else whose ID is, else whose ID ends with
  // "." and the class or instance; all compared without regard to case.
  std::optional<DesktopEntry> findForWindowClass(std::string_view wmClass,
                                                 std::string_view wmInstance);

 private:
  using Stamps = std::vector<std::optional<std::filesystem::file_time_type>>;

  void refreshLocked();
  Stamps currentStamps() const;

  const std::vector<std::filesystem::path> folders_;
  const std::string locale_;
  std::mutex mutex_;
  std::optional<Stamps> stamps_;             // GUARDED_BY(mutex_)
  std::vector<DesktopEntry> entries_;        // GUARDED_BY(mutex_), in precedence order
  std::map<std::string, std::size_t> byID_;  // GUARDED_BY(mutex_)
};

}  // namespace vistrel
