#include "tool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/config_text.h"

namespace autorun::config_tool {

namespace {

std::string systemError(int error) {
  return std::strerror(error);
}

// Writes all of `bytes`, going on after short writes. False, with errno set, on an error.
bool writeAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void replaceAtomically(const std::string& path, std::string_view bytes) {
  const std::filesystem::path target(path);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string pattern = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');

  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) throw ToolError(path + ": cannot write: " + systemError(errno));
  const std::string temporary(name.data());
  auto fail = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    throw ToolError(path + ": cannot write: " + systemError(error));
  };

  // mkstemp makes the file private; give it the permissions a new file would get, or
  // those of the file it replaces.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  mode_t mode = 0666 & ~mask;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
  if (::fchmod(fd, mode) != 0) fail(errno);
  if (!writeAll(fd, bytes) || ::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw ToolError(path + ": cannot write: " + systemError(error));
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw ToolError(path + ": cannot write: " + systemError(error));
  }
}

// Opens the path (following links) and writes the bytes into what it names.
void writeThrough(const std::string& path, std::string_view bytes, int flags) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0666);
  if (fd < 0) throw ToolError(path + ": cannot write: " + systemError(errno));
  if (!writeAll(fd, bytes)) {
    const int error = errno;
    ::close(fd);
    throw ToolError(path + ": cannot write: " + systemError(error));
  }
  if (::close(fd) != 0) throw ToolError(path + ": cannot write: " + systemError(errno));
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw ToolError(path + ": cannot open: " + systemError(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    throw ToolError(path + ": cannot read: " + systemError(error));
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw ToolError(path + " is a folder, not a file");
  }
  // Opened without waiting for a FIFO's writer; reading waits from here on.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw ToolError(path + ": cannot read: " + systemError(error));
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxInputSize) {
      ::close(fd);
      throw ToolError(path + ": larger than " + std::to_string(kMaxInputSize >> 20) +
                      " MiB, which no configuration is");
    }
  }
  ::close(fd);
  return bytes;
}

void refuseSource(const std::string& name, std::string_view bytes) {
  if (const std::optional<host::BadByte> bad = host::findBadUtf8(bytes)) {
    throw ToolError(name + ":" + std::to_string(bad->line) + ":" + std::to_string(bad->column) +
                    ": " + host::describeBadByte(*bad));
  }
  if (bytes.find('\0') != std::string_view::npos) {
    throw ToolError(name +
                    ": holds NUL bytes, but not as UTF-16 text does: not plain configuration "
                    "text (UTF-8, or UTF-16)");
  }
  throw ToolError(name + ": not plain configuration text (UTF-8, or UTF-16)");
}

void writeOutput(const std::string& path, std::string_view bytes) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) throw ToolError(path + ": cannot write: " + systemError(errno));
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0) {
      // A link to nothing: the file is made where it points.
      writeThrough(path, bytes, O_CREAT | O_TRUNC);
      return;
    }
    replaceAtomically(path, bytes);
    return;
  }
  if (S_ISDIR(info.st_mode)) throw ToolError(path + " is a folder: give a file name");
  if (S_ISREG(info.st_mode)) {
    // Behind a link, the file it points to is replaced and the link stays.
    char* resolved = ::realpath(path.c_str(), nullptr);
    const std::string target = resolved != nullptr ? resolved : path;
    std::free(resolved);
    replaceAtomically(target, bytes);
    return;
  }
  // A device, a FIFO or a socket: written through, never replaced.
  writeThrough(path, bytes, 0);
}

}  // namespace autorun::config_tool
