#include "platform/sim/sim_trace.h"

#include <cerrno>
#include <cstring>

#include "platform/sim/sim_platform.h"

namespace autorun::sim {

TraceLog::TraceLog(const std::optional<std::filesystem::path>& file) {
  if (!file) return;
  file_ = std::fopen(file->c_str(), "w");
  if (file_ == nullptr) {
    throw SimError(file->string() + ": cannot create the trace file: " + std::strerror(errno));
  }
}

TraceLog::~TraceLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void TraceLog::record(nlohmann::json entry) {
  if (file_ != nullptr) {
    // Invalid text never reaches here (paths are converted with replacement), but a dump
    // must not throw inside a platform call.
    const std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  }
  entries_.push_back(std::move(entry));
}

}  // namespace autorun::sim
