// Host files as the simulated device holds them: an owner for every descriptor, the one
// reader of the image's own files (registry.reg, device.json) and a write that finishes.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace autorun::sim {

// A host file descriptor, closed when it goes.
class HostFd {
 public:
  explicit HostFd(int fd = -1) : fd_(fd) {}
  ~HostFd() { reset(); }
  HostFd(const HostFd&) = delete;
  HostFd& operator=(const HostFd&) = delete;
  HostFd(HostFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  HostFd& operator=(HostFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes the descriptor held (if any) and holds `fd` instead.
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and tells whether the close succeeded: for a file written to, where a late
  // write error shows only there. False when nothing was held.
  bool close() { return fd_ >= 0 && ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

// Writes all `size` bytes, going on after a short write or an interruption; `written` is
// how many were written. False on an error (or when the file takes no more).
bool writeFully(int fd, const void* data, std::size_t size, std::size_t& written);
inline bool writeFully(int fd, const std::string& bytes) {
  std::size_t written = 0;
  return writeFully(fd, bytes.data(), bytes.size(), written);
}

// The whole contents of a host file of at most `maxBytes` bytes, or nothing when there is
// no such file. Throws SimError naming the file when it is something else than a regular
// file (a folder, a FIFO, a device: opened without waiting for a writer), is larger than
// `maxBytes` (also when it grows while being read), or cannot be read.
std::optional<std::string> readHostFile(const std::filesystem::path& file, std::size_t maxBytes);

}  // namespace autorun::sim
