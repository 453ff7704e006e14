// The one-line account autorun-sim prints on stderr when it runs without a terminal, so
// that a script's log says what each run did: the flow the entry chose, the exit code, and
// what the simulated device's trace recorded.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "entry/entry.h"

namespace autorun::sim {

// The entry's steps, noting which of them the entry chose.
class RecordingSteps : public StartupSteps {
 public:
  bool runInstall(InstallerContext& context, bool interactive) override;
  void runUninstall(InstallerContext& context, bool interactive) override;
  void askReinstall(InstallerContext& context) override;
  void onCardInserted(InstallerContext& context) override;
  void onCardRemoved(InstallerContext& context) override;

  // "install", "uninstall", ...; empty when the entry chose none.
  const std::string& flow() const { return flow_; }

 private:
  std::string flow_;
};

// "FLOW, exit N: 2 folders made, 5 files copied, ..., started PATH" from the trace.
std::string summarizeRun(const std::string& flow, int exitCode,
                         const std::vector<nlohmann::json>& trace);

}  // namespace autorun::sim
