#include "VistrelKit/library/LibraryOwnership.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace vistrel {
namespace fs = std::filesystem;
namespace {

// An open descriptor that closes itself.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

struct Claimed {
  fs::path path;
  Descriptor fd;
  mode_t tightMode;
  mode_t mode;
};

[[noreturn]] void refuse(const fs::path& path, const std::string& why) {
  throw LibraryOwnershipError(path.string() + " " + why +
                              ". Vistrel leaves it untouched and does not use it.");
}

[[noreturn]] void failSystem(const fs::path& path, int error) {
  throw fs::filesystem_error("Couldn't check", path,
                             std::error_code(error, std::generic_category()));
}

// Opens without following a link and checks what was opened; nothing when it does not exist.
std::optional<Claimed> inspect(const fs::path& path, bool folder) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0);
  Descriptor fd(::open(path.c_str(), flags));
  if (fd.get() < 0) {
    const int error = errno;
    if (error == ENOENT)
      return std::nullopt;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
      refuse(path, "is a symbolic link");
    failSystem(path, error);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0)
    failSystem(path, errno);
  if (info.st_uid != ::geteuid())
    refuse(path, "belongs to another user (uid " + std::to_string(info.st_uid) + ")");
  // Something of the user's own that is not a file is left for the database to report as it
  // always has.
  if (!folder && !S_ISREG(info.st_mode))
    return std::nullopt;
  if (!folder && info.st_nlink > 1)
    refuse(path, "has another name (a hard link), through which others could read it");
  return Claimed{path, std::move(fd), static_cast<mode_t>(folder ? 0700 : 0600),
                 static_cast<mode_t>(info.st_mode & 07777)};
}

}  // namespace

void claimLibraryFiles(const fs::path& folder) {
  std::vector<Claimed> claimed;
  auto folderClaim = inspect(folder, true);
  if (!folderClaim)
    return;
  claimed.push_back(std::move(*folderClaim));
  for (const char* name : {"history.sqlite", "history.sqlite-wal", "history.sqlite-shm"}) {
    if (auto file = inspect(folder / name, false))
      claimed.push_back(std::move(*file));
  }
  for (const Claimed& item : claimed) {
    if ((item.mode & 077) == 0)
      continue;
    if (::fchmod(item.fd.get(), item.mode & item.tightMode) != 0)
      throw fs::filesystem_error("Couldn't make it private", item.path,
                                 std::error_code(errno, std::generic_category()));
  }
}

}  // namespace vistrel
