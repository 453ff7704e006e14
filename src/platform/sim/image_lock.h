// One run at a time on a device image. Each run reads the registry at its start and writes
// the whole of it back at every change, so two runs at once would lose each other's
// changes. The hold is flock(2) on the image's folder itself: it needs no file of its own
// and goes with the process, however that ends.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>

#include "platform/sim/host_files.h"

namespace autorun::sim {

class ImageLock {
 public:
  // With `wait`, holds the image from here on, waiting at most that long while another
  // run holds it; throws SimBusyError when it is not let go in time and SimError when the
  // folder cannot be opened. Without, holds nothing.
  ImageLock(const std::filesystem::path& deviceDir, std::optional<std::chrono::milliseconds> wait);

 private:
  HostFd folder_;
};

}  // namespace autorun::sim
