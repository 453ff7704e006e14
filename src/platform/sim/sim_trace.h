// The record of what a simulated run did: in memory, and as JSON Lines in a file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
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

  // Whether entries go anywhere; callers skip making them when not.
  bool active() const { return keep_ || file_ != nullptr; }
  // Appends one entry; the file gets it at once, so a killed run keeps what it did.
  void record(nlohmann::json entry);
  const std::vector<nlohmann::json>& entries() const { return entries_; }

 private:
  std::vector<nlohmann::json> entries_;
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  bool keep_;
};

}  // namespace autorun::sim
