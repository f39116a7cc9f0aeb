#pragma once

#include <unistd.h>

#include <utility>

namespace vistrel {

// An open file descriptor, closed when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }

  // Closes now and returns what close() returned: a write the kernel deferred may only report
  // its error here, and a file that was written must not be trusted without looking.
  int close() noexcept { return ::close(std::exchange(fd_, -1)); }

 private:
  void reset() noexcept {
    if (fd_ >= 0)
      ::close(std::exchange(fd_, -1));
  }

  int fd_;
};

}  // namespace vistrel
