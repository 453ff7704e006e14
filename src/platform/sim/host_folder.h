// Small helpers for reading host folders.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace autorun::sim {

// Calls `visit(name, type)` for each entry of an open folder but "." and "..", reading
// the directory entries straight into a buffer. Names end in a zero byte. False when the
// folder cannot be read.
template <class Visit>
bool forEachEntry(int dirFd, Visit&& visit) {
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t got = ::getdents64(dirFd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      visit(name, entry->d_type);
    }
  }
}

// A host file descriptor, closed when it goes.
class HostFd {
 public:
  explicit HostFd(int fd = -1) : fd_(fd) {}
  ~HostFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  HostFd(const HostFd&) = delete;
  HostFd& operator=(const HostFd&) = delete;
  HostFd(HostFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  HostFd& operator=(HostFd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace autorun::sim
