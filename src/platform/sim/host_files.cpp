#include "platform/sim/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

std::string sizeText(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

bool writeFully(int fd, const void* data, std::size_t size, std::size_t& written) {
  const auto* bytes = static_cast<const char*>(data);
  written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, bytes + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<std::string> readHostFile(const std::filesystem::path& file, std::size_t maxBytes) {
  const auto fail = [&](const std::string& why) { return SimError(file.string() + ": " + why); };
  const auto cannotRead = [&] {
    return fail(std::string("cannot be read: ") + std::strerror(errno));
  };
  // Not blocking: a FIFO would otherwise wait here for a writer that never comes.
  HostFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return std::nullopt;
    throw cannotRead();
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throw cannotRead();
  if (!S_ISREG(info.st_mode)) throw fail("not a regular file");
  const std::string tooLarge = "larger than " + sizeText(maxBytes) + " (the most it may be)";
  if (static_cast<std::uint64_t>(info.st_size) > maxBytes) throw fail(tooLarge);
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) throw cannotRead();
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw cannotRead();
    if (n == 0) return bytes;
    // The size was looked at before; the cap holds also for a file that grows meanwhile.
    if (static_cast<std::size_t>(n) > maxBytes - bytes.size()) throw fail(tooLarge);
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace autorun::sim
