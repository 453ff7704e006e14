#include "platform/sim/image_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

// How often a waiting run asks again: flock cannot wait for a bounded time itself.
constexpr auto kPoll = std::chrono::milliseconds(10);

std::string seconds(std::chrono::milliseconds wait) {
  const auto tenths = (wait.count() + 50) / 100;
  return std::to_string(tenths / 10) + (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") +
         " s";
}

}  // namespace

ImageLock::ImageLock(const std::filesystem::path& deviceDir,
                     std::optional<std::chrono::milliseconds> wait) {
  if (!wait) return;
  folder_.reset(::open(deviceDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_) {
    throw SimError(deviceDir.string() + ": cannot be opened to hold it: " + std::strerror(errno));
  }
  const auto deadline = std::chrono::steady_clock::now() + *wait;
  for (;;) {
    if (::flock(folder_.get(), LOCK_EX | LOCK_NB) == 0) return;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      throw SimError(deviceDir.string() + ": cannot be held: " + std::strerror(errno));
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      throw SimBusyError(deviceDir.string() + ": another run holds this device image (waited " +
                         seconds(*wait) + "); nothing was changed");
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kPoll, deadline - now));
  }
}

}  // namespace autorun::sim
