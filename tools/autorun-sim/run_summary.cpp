#include "run_summary.h"

#include <cstdint>
#include <map>

#include "platform/platform_services.h"

namespace autorun::sim {

bool RecordingSteps::runInstall(InstallerContext& context, bool interactive) {
  flow_ = "install";
  return StartupSteps::runInstall(context, interactive);
}

void RecordingSteps::runUninstall(InstallerContext& context, bool interactive) {
  flow_ = "uninstall";
  StartupSteps::runUninstall(context, interactive);
}

void RecordingSteps::askReinstall(InstallerContext& context) {
  flow_ = "reinstall question";
  StartupSteps::askReinstall(context);
}

void RecordingSteps::onCardInserted(InstallerContext& context) {
  flow_ = "card inserted";
  StartupSteps::onCardInserted(context);
}

void RecordingSteps::onCardRemoved(InstallerContext& context) {
  flow_ = "card removed";
  StartupSteps::onCardRemoved(context);
}

namespace {

std::string counted(std::size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string summarizeRun(const std::string& flow, int exitCode,
                         const std::vector<nlohmann::json>& trace) {
  std::map<std::string, std::size_t> done;  // successful operations by kind
  std::size_t copyFailures = 0;
  std::string answers;
  std::vector<std::string> started;
  for (const nlohmann::json& entry : trace) {
    const std::string op = entry.value("op", "");
    const bool ok = entry.value("ok", true);
    if (op == "create_directory") {
      if (entry.value("result", std::uint32_t{1}) == kErrorSuccess) ++done[op];
    } else if (op == "copy_file") {
      ok ? ++done[op] : ++copyFailures;
    } else if (op == "question" || op == "message_box") {
      ++done[op];
      const nlohmann::json& answer = entry["answer"];
      if (!answers.empty()) answers += ',';
      if (answer.is_string()) {
        answers += answer.get<std::string>();
      } else {
        const int button = answer.is_number() ? answer.get<int>() : 0;
        answers += button == kIdYes ? "yes" : button == kIdNo ? "no" : "ok";
      }
    } else if (op == "shell_open") {
      if (ok) started.push_back(entry.value("path", ""));
    } else if (ok) {
      ++done[op];
    }
  }

  std::vector<std::string> parts;
  const auto add = [&parts](std::size_t count, const std::string& one, const std::string& many) {
    if (count > 0) parts.push_back(counted(count, one, many));
  };
  add(done["create_directory"], "folder made", "folders made");
  add(done["copy_file"], "file copied", "files copied");
  add(copyFailures, "copy failed", "copies failed");
  add(done["write_file"], "file written", "files written");
  add(done["delete_file"], "file deleted", "files deleted");
  add(done["set_value"], "registry value written", "registry values written");
  add(done["delete_key"], "registry key deleted", "registry keys deleted");
  add(done["call_entry"], "DLL entry called", "DLL entries called");
  const std::size_t shown = done["question"] + done["message_box"];
  if (shown > 0)
    parts.push_back(counted(shown, "message shown", "messages shown") + " (" + answers + ")");
  for (const std::string& path : started) parts.push_back("started " + path);

  std::string line =
      (flow.empty() ? std::string("no flow") : flow) + ", exit " + std::to_string(exitCode) + ":";
  if (parts.empty()) return line + " nothing done";
  for (std::size_t k = 0; k < parts.size(); ++k) line += (k == 0 ? " " : ", ") + parts[k];
  return line;
}

}  // namespace autorun::sim
