#include "VistrelKit/base/DataFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace vistrel {

std::filesystem::path homeFolder() {
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
    return found->pw_dir;
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0')
    return home;
  return {};
}

std::filesystem::path defaultDataFolder() {
  const char* explicitFolder = std::getenv("VISTREL_DATA_DIR");
  if (explicitFolder != nullptr && explicitFolder[0] != '\0') {
    return std::filesystem::absolute(explicitFolder);
  }
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/')
    return std::filesystem::path(dataHome) / "Vistrel";
  const std::filesystem::path home = homeFolder();
  if (home.empty())
    return {};
  return home / ".local" / "share" / "Vistrel";
}

}  // namespace vistrel
