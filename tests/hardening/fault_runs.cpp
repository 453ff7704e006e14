#include "hardening/fault_runs.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "flows/card_flows.h"
#include "flows/install_flow.h"
#include "flows/uninstall_flow.h"
#include "flows/upgrade_flow.h"

namespace autorun::testing::hardening {

namespace fs = std::filesystem;
using sim::Operation;

namespace {

int runFlow(Flow flow, InstallerContext& context) {
  switch (flow) {
    case Flow::Install:
      return runInstall(context, true) ? kReturnedTrue : kReturnedFalse;
    case Flow::Uninstall:
      runUninstall(context, true);
      break;
    case Flow::CardInsert:
      onCardInserted(context);
      break;
    case Flow::CardRemove:
      onCardRemoved(context);
      break;
    case Flow::Upgrade:
      runUpgrade(context);
      break;
  }
  return kReturnedNothing;
}

}  // namespace

void PrintTo(Flow flow, std::ostream* out) {
  static constexpr const char* kNames[] = {"install", "uninstall", "card insert", "card remove",
                                           "upgrade"};
  *out << kNames[static_cast<int>(flow)];
}

std::vector<Message> Outcome::messages() const {
  std::vector<Message> out;
  for (const nlohmann::json& entry : trace) {
    const std::string op = entry.value("op", "");
    if (op == "message_box") {
      out.push_back(
          {entry.value("text", ""), entry.value("caption", ""), entry.value("style", 0u)});
    } else if (op == "question") {
      out.push_back({entry.value("text", ""), entry.value("caption", ""), kQuestionDialog});
    }
  }
  return out;
}

std::size_t Outcome::count(const std::string& op) const {
  return static_cast<std::size_t>(std::count_if(
      trace.begin(), trace.end(), [&](const auto& e) { return e.value("op", "") == op; }));
}

std::vector<std::string> Outcome::copySources(std::size_t limit) const {
  std::vector<std::string> out;
  for (const nlohmann::json& entry : trace) {
    if (entry.value("op", "") == "set_value") break;
    if (entry.value("op", "") == "copy_file") out.push_back(entry.value("source", ""));
    if (out.size() == limit) break;
  }
  return out;
}

std::optional<std::string> Outcome::registryValue(const std::string& key,
                                                  const std::string& name) const {
  const auto it = device.registryValues.find(key + "\\@" + name);
  if (it == device.registryValues.end()) return std::nullopt;
  return it->second;
}

void copyImage(const fs::path& from, const fs::path& to) {
  fs::remove_all(to / "fs");
  fs::copy(from / "fs", to / "fs", fs::copy_options::recursive);
  for (const char* file : {"registry.reg", "device.json"}) {
    fs::remove(to / file);
    if (fs::exists(from / file)) fs::copy_file(from / file, to / file);
  }
  fs::remove(to / "trace.jsonl");
  fs::remove(to / "calls");
}

// The child writes its trace and the number of calls of every operation.
std::optional<Outcome> runChild(const fs::path& dir, Flow flow, std::vector<bool> answers,
                                const std::optional<Fault>& fault, std::string& problem) {
  const pid_t child = ::fork();
  if (child < 0) {
    problem = "fork failed";
    return std::nullopt;
  }
  if (child == 0) {
    int code = kCannotStart;
    {
      sim::SimOptions options;
      options.deviceDir = dir;
      options.answers = std::move(answers);
      options.traceFile = dir / "trace.jsonl";
      sim::SimPlatform device(options);
      sim::FaultInjectingPlatform faults(device);
      std::unique_ptr<InstallerContext> context = loadInstaller(faults);
      if (context) {
        faults.resetCounts();
        if (fault) faults.failNth(fault->operation, fault->position, fault->persistent);
        code = runFlow(flow, *context);
        std::ofstream calls(dir / "calls");
        for (std::size_t i = 0; i < sim::kOperationCount; ++i) {
          calls << i << ' ' << faults.callCount(static_cast<Operation>(i)) << '\n';
        }
      }
    }
    ::_exit(code);
  }

  // The runs take milliseconds; a minute means the flow hangs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      problem = "hangs";
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFSIGNALED(status)) {
    problem = "crashes with signal " + std::to_string(WTERMSIG(status));
    return std::nullopt;
  }
  Outcome outcome;
  outcome.result = WEXITSTATUS(status);
  if (outcome.result == kCannotStart) {
    problem = "the configuration does not load";
    return std::nullopt;
  }
  std::ifstream trace(dir / "trace.jsonl");
  for (std::string line; std::getline(trace, line);) {
    if (!line.empty()) outcome.trace.push_back(nlohmann::json::parse(line));
  }
  std::ifstream calls(dir / "calls");
  for (std::size_t index = 0, count = 0; calls >> index >> count;) {
    outcome.calls[static_cast<Operation>(index)] = count;
  }
  outcome.device = snapshot(dir);
  return outcome;
}

}  // namespace autorun::testing::hardening
