#include "Vistrel/platform/linux/XdgAutostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "VistrelKit/base/DataFolder.h"

namespace vistrel {
namespace {

constexpr const char* entryName = "com.tevrin77.Vistrel.desktop";

[[noreturn]] void fail(const std::error_code& code) {
  throw LoginItemError(code.message());
}

// An Exec argument: quoted when it holds anything the desktop entry format treats specially,
// with the characters that quoting does not neutralise escaped, then every backslash doubled
// once more because the whole value is itself an escaped string.
std::string execArgument(const std::string& argument) {
  const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string quoted;
  bool needsQuotes = argument.empty();
  for (const char c : argument) {
    if (reserved.find(c) != std::string::npos)
      needsQuotes = true;
    if (c == '"' || c == '`' || c == '$' || c == '\\')
      quoted += '\\';
    quoted += c;
  }
  if (needsQuotes)
    quoted = '"' + quoted + '"';
  std::string escaped;
  for (const char c : quoted) {
    if (c == '\\')
      escaped += '\\';
    // A literal "%" would be read as a field code.
    if (c == '%')
      escaped += '%';
    escaped += c;
  }
  return escaped;
}

void writeAtomically(const std::filesystem::path& file, const std::string& text) {
  std::error_code error;
  const std::filesystem::path folder = file.parent_path();
  if (!std::filesystem::exists(folder, error)) {
    std::filesystem::create_directories(folder, error);
    if (error)
      fail(error);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
  }
  std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0)
    fail(std::error_code(errno, std::generic_category()));
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      const std::error_code code(errno ? errno : EIO, std::generic_category());
      ::close(fd);
      ::unlink(temporary.c_str());
      fail(code);
    }
    data += written;
    left -= std::size_t(written);
  }
  ::fchmod(fd, 0644);
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const std::error_code code(errno, std::generic_category());
    ::unlink(temporary.c_str());
    fail(code);
  }
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const std::error_code code(errno, std::generic_category());
    ::unlink(temporary.c_str());
    fail(code);
  }
}

}  // namespace

XdgAutostart::XdgAutostart(std::filesystem::path executable, std::filesystem::path file)
    : executable_(std::move(executable)), file_(file.empty() ? defaultFile() : std::move(file)) {}

std::filesystem::path XdgAutostart::defaultFile() {
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
    config = xdg;
  else if (const auto home = homeFolder(); !home.empty())
    config = home / ".config";
  else
    return {};
  return config / "autostart" / entryName;
}

std::string XdgAutostart::entryText(const std::filesystem::path& executable) {
  std::ostringstream text;
  text << "[Desktop Entry]\n"
       << "Type=Application\n"
       << "Name=Vistrel\n"
       << "Comment=A private, searchable history of your screen\n"
       << "Exec=" << execArgument(executable.string()) << "\n"
       << "Terminal=false\n"
       << "X-GNOME-Autostart-enabled=true\n";
  return text.str();
}

bool XdgAutostart::isEnabled() {
  std::ifstream in(file_);
  if (!in)
    return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
      return false;
  }
  return true;
}

void XdgAutostart::setEnabled(bool enabled) {
  if (file_.empty())
    fail(std::make_error_code(std::errc::no_such_file_or_directory));
  if (enabled) {
    writeAtomically(file_, entryText(executable_));
    return;
  }
  std::error_code error;
  std::filesystem::remove(file_, error);
  if (error)
    fail(error);
}

}  // namespace vistrel
