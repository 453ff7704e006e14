#include "platform/sim/sim_trace.h"

#include <cerrno>
#include <cstring>

#include "platform/sim/sim_platform.h"

namespace autorun::sim {

TraceLog::TraceLog(const std::optional<std::filesystem::path>& file, bool keep) : keep_(keep) {
  if (!file) return;
  file_.reset(std::fopen(file->c_str(), "w"));
  if (file_ == nullptr) {
    throw SimError(file->string() + ": cannot create the trace file: " + std::strerror(errno));
  }
}

void TraceLog::record(nlohmann::json entry) {
  if (file_ != nullptr) {
    // "op" first, so the lines read well; then the other fields in name order.
    constexpr auto replace = nlohmann::json::error_handler_t::replace;
    std::string line = "{";
    if (entry.contains("op")) line += "\"op\":" + entry["op"].dump(-1, ' ', false, replace);
    for (const auto& item : entry.items()) {
      if (item.key() == "op") continue;
      if (line.size() > 1) line += ',';
      line += nlohmann::json(item.key()).dump() + ":" + item.value().dump(-1, ' ', false, replace);
    }
    line += "}\n";
    std::fputs(line.c_str(), file_.get());
    std::fflush(file_.get());
  }
  if (keep_) entries_.push_back(std::move(entry));
}

}  // namespace autorun::sim
