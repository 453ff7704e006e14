// The record of what a simulated run did: in memory, and as JSON Lines in a file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace autorun::sim {

class TraceLog {
 public:
  // Opens (truncates) the file when one is given. Throws SimError when it cannot. With
  // `keep` the entries are also kept in memory.
  TraceLog(const std::optional<std::filesystem::path>& file, bool keep);
  ~TraceLog();
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  // Whether entries go anywhere; callers skip making them when not.
  bool active() const { return keep_ || file_ != nullptr; }
  // Appends one entry; the file gets it at once, so a killed run keeps what it did.
  void record(nlohmann::json entry);
  const std::vector<nlohmann::json>& entries() const { return entries_; }

 private:
  std::vector<nlohmann::json> entries_;
  std::FILE* file_ = nullptr;
  bool keep_;
};

}  // namespace autorun::sim
