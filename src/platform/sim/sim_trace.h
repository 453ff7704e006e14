// The record of what a simulated run did: in memory, and as JSON Lines in a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/host_files.h"

namespace autorun::sim {

class TraceLog {
 public:
  // Opens (truncates) the file when one is given. Throws SimOutputError when it cannot.
  // With `keep` the entries are also kept in memory.
  TraceLog(const std::optional<std::filesystem::path>& file, bool keep);

  // Throws SimOutputError when the trace file would be a file of the device image at
  // `deviceDir` (its registry, its description, anything below fs/), whatever the
  // spelling of either path and through links: writing it would destroy the image.
  static void refuseInsideImage(const std::filesystem::path& file,
                                const std::filesystem::path& deviceDir);

  // Whether entries go anywhere; callers skip making them when not.
  bool active() const { return keep_ || file_; }
  // Appends one entry; the file gets it at once, so a killed run keeps what it did.
  void record(nlohmann::json entry);
  const std::vector<nlohmann::json>& entries() const { return entries_; }
  // Why the file stopped taking lines (a full disk, a closed pipe), or nothing while it
  // holds every one. The file then ends with the last line written whole.
  const std::optional<std::string>& writeError() const { return writeError_; }

 private:
  std::vector<nlohmann::json> entries_;
  std::filesystem::path name_;
  HostFd file_;
  std::uint64_t whole_ = 0;  // bytes of whole lines in the file
  std::optional<std::string> writeError_;
  bool keep_;
};

}  // namespace autorun::sim
