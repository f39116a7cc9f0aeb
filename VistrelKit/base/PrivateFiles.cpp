#include "VistrelKit/base/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

#include "VistrelKit/base/FileDescriptor.h"

namespace vistrel {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Removes the temporary file unless the rename went through.
struct TemporaryFile {
  fs::path path;
  bool committed = false;
  ~TemporaryFile() {
    if (!committed) {
      ::unlink(path.c_str());
    }
  }
};

// Makes a new or renamed entry of the folder survive a power loss, not only a crash.
void syncFolder(const fs::path& folder) {
  FileDescriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!descriptor.valid() || ::fsync(descriptor.get()) != 0) {
    fail("cannot write folder", folder, errno);
  }
}

fs::path folderOf(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

}  // namespace

void createPrivateFolders(const fs::path& folder) {
  fs::path current;
  for (const auto& part : folder) {
    current /= part;
    if (::mkdir(current.c_str(), 0700) == 0) {
      // mkdir applies the umask; an owner-only folder must not depend on it.
      ::chmod(current.c_str(), 0700);
      syncFolder(folderOf(current));
      continue;
    }
    const int error = errno;
    struct stat info {};
    if (error == EEXIST && ::stat(current.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      continue;
    }
    fail("cannot create folder", current, error == EEXIST ? ENOTDIR : error);
  }
}

void writeFileAtomically(const fs::path& file, const Bytes& content) {
  fs::path pattern = file;
  pattern += ".XXXXXX";
  std::string name = pattern.string();
  FileDescriptor descriptor(::mkstemp(name.data()));
  if (!descriptor.valid()) {
    fail("cannot create temporary file", pattern, errno);
  }
  // mkstemp creates the file with permissions 0600.
  TemporaryFile temporary{name};
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t written = ::write(descriptor.get(), content.data() + done, content.size() - done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail("cannot write file", temporary.path, errno);
    }
    done += static_cast<std::size_t>(written);
  }
  if (::fsync(descriptor.get()) != 0) {
    fail("cannot write file", temporary.path, errno);
  }
  if (::rename(temporary.path.c_str(), file.c_str()) != 0) {
    fail("cannot replace file", file, errno);
  }
  temporary.committed = true;
  syncFolder(folderOf(file));
}

Bytes readFile(const fs::path& file) {
  // Not through a link, nor from a FIFO or device, nor another user's file: what is read here was
  // written by this user's Vistrel, and anything else is someone's attempt to feed it.
  FileDescriptor descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!descriptor.valid()) {
    fail("cannot read file", file, errno);
  }
  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0) {
    fail("cannot read file", file, errno);
  }
  if (!S_ISREG(status.st_mode)) {
    fail("cannot read file", file, EINVAL);
  }
  if (status.st_uid != ::geteuid()) {
    fail("cannot read file", file, EPERM);
  }
  Bytes content;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t count = ::read(descriptor.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail("cannot read file", file, errno);
    }
    if (count == 0) {
      return content;
    }
    content.insert(content.end(), buffer, buffer + count);
  }
}

}  // namespace vistrel
