#include "VistrelKit/keys/KeyFileStore.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "VistrelKit/base/DataFolder.h"
#include "VistrelKit/base/FileDescriptor.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {
namespace {

[[noreturn]] void failWithErrno(int error) {
  throw VistrelCryptoError::keychain(-error);
}

// The temporary file beside the key file; removed again unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target)
      : name_(patternFor(target)), fd_(::mkostemp(name_.data(), O_CLOEXEC)) {
    if (!fd_.valid())
      failWithErrno(errno);
    created_ = true;
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (created_)
      ::unlink(name_.data());
  }

  FileDescriptor& fd() { return fd_; }
  const char* name() const { return name_.data(); }
  void renamedTo() { created_ = false; }

 private:
  static std::vector<char> patternFor(const std::filesystem::path& target) {
    std::string pattern = target.string() + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return name;
  }

  std::vector<char> name_;
  FileDescriptor fd_;
  bool created_ = false;
};

void writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      failWithErrno(errno);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// Reads up to buffer.size() bytes; returns how many there were.
std::size_t readUpTo(int fd, std::uint8_t* buffer, std::size_t capacity) {
  std::size_t total = 0;
  while (total < capacity) {
    ssize_t got = ::read(fd, buffer + total, capacity - total);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      failWithErrno(errno);
    }
    if (got == 0)
      break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

// Creates the folder and any missing parents, each owner-only; existing folders are left as
// they are.
void makeFolders(const std::filesystem::path& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode))
      failWithErrno(ENOTDIR);
    return;
  }
  if (errno != ENOENT)
    failWithErrno(errno);
  std::filesystem::path parent = folder.parent_path();
  if (!parent.empty() && parent != folder)
    makeFolders(parent);
  if (::mkdir(folder.c_str(), 0700) != 0) {
    if (errno == EEXIST)
      return;  // made by a concurrent save
    failWithErrno(errno);
  }
  // mkdir's mode passes through the umask, which may be stricter than 0700 and lock us out.
  if (::chmod(folder.c_str(), 0700) != 0)
    failWithErrno(errno);
}

void syncFolder(const std::filesystem::path& folder) {
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid())
    failWithErrno(errno);
  if (::fsync(fd.get()) != 0)
    failWithErrno(errno);
}

}  // namespace

KeyFileStore::KeyFileStore(std::filesystem::path path) : path_(std::move(path)) {}

std::filesystem::path KeyFileStore::defaultPath() {
  const std::filesystem::path relative = std::filesystem::path("Vistrel") / "history-key";
  // Relative values are invalid for XDG base directories and are ignored.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/')
    return std::filesystem::path(config) / relative;
  std::filesystem::path home = homeFolder();
  if (home.empty())
    return {};
  return home / ".config" / relative;
}

std::optional<MasterKey> KeyFileStore::load() {
  if (path_.empty())
    failWithErrno(ENOENT);
  // O_NONBLOCK: a FIFO placed at the path must not hang the caller. O_NOFOLLOW: a link could
  // lead to a key someone else placed.
  FileDescriptor fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!fd.valid()) {
    if (errno == ENOENT)
      return std::nullopt;
    failWithErrno(errno);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0)
    failWithErrno(errno);
  if (S_ISDIR(info.st_mode))
    failWithErrno(EISDIR);
  if (!S_ISREG(info.st_mode))
    throw VistrelCryptoError::keychain(0);
  // Another user's file could hold a key they know; a second name lets others read it.
  if (info.st_uid != ::geteuid())
    failWithErrno(EPERM);
  if (info.st_nlink > 1)
    failWithErrno(EMLINK);
  if ((info.st_mode & 077) != 0 && ::fchmod(fd.get(), 0600) != 0)
    failWithErrno(errno);

  // One byte more than a key, to tell an exact key from a longer file.
  std::array<std::uint8_t, MasterKey::size + 1> buffer{};
  std::size_t length = readUpTo(fd.get(), buffer.data(), buffer.size());
  if (length != MasterKey::size) {
    OPENSSL_cleanse(buffer.data(), buffer.size());
    throw VistrelCryptoError::keychain(0);
  }
  MasterKey::Storage bytes;
  std::memcpy(bytes.data(), buffer.data(), bytes.size());
  MasterKey key(bytes);
  OPENSSL_cleanse(buffer.data(), buffer.size());
  OPENSSL_cleanse(bytes.data(), bytes.size());
  return key;
}

namespace {

// Writes the key to a flushed 0600 temporary file beside the key file, in made folders, and hands
// it to `place`, which puts it at the key file's name.
template <typename Place>
void writeKeyFile(const std::filesystem::path& path, const MasterKey& key, Place place) {
  if (path.empty())
    failWithErrno(ENOENT);
  std::filesystem::path folder = path.parent_path();
  if (folder.empty())
    folder = ".";
  makeFolders(folder);

  TemporaryFile temporary(path);
  if (::fchmod(temporary.fd().get(), 0600) != 0)
    failWithErrno(errno);
  writeAll(temporary.fd().get(), key.bytes().data(), key.bytes().size());
  if (::fsync(temporary.fd().get()) != 0)
    failWithErrno(errno);
  // A late write error shows only at close.
  if (temporary.fd().close() != 0 && errno != EINTR)
    failWithErrno(errno);
  place(temporary);
  syncFolder(folder);
}

}  // namespace

void KeyFileStore::save(const MasterKey& key) {
  writeKeyFile(path_, key, [&](TemporaryFile& temporary) {
    if (::rename(temporary.name(), path_.c_str()) != 0)
      failWithErrno(errno);
    temporary.renamedTo();
  });
}

MasterKey KeyFileStore::create(const MasterKey& candidate) {
  if (auto existing = load())
    return *existing;
  bool placed = false;
  writeKeyFile(path_, candidate, [&](TemporaryFile& temporary) {
    // link() never replaces: the key file appears whole, and only once. The temporary name is
    // removed by TemporaryFile either way.
    if (::link(temporary.name(), path_.c_str()) == 0)
      placed = true;
    else if (errno != EEXIST)
      failWithErrno(errno);
  });
  if (placed)
    return candidate;
  if (auto winner = load())
    return *winner;
  failWithErrno(ENOENT);
}

void KeyFileStore::remove() {
  if (path_.empty())
    failWithErrno(ENOENT);
  if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
    failWithErrno(errno);
}

std::string KeyFileStore::description() const {
  return "Key file " + path_.string();
}

}  // namespace vistrel
