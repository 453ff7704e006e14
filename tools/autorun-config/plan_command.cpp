// plan FILE --card DIR: what an installation from the card on a fresh device does, in
// order, and what the uninstallation removes. The installer's own entry runs on a scratch
// simulated device that holds the card (stand-ins with the files' real sizes), and its
// trace is the plan: nothing here decides what the device would do.
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>

#include "actions/copy_actions.h"
#include "commands.h"
#include "common/config_lint.h"
#include "common/config_text.h"
#include "common/rehearsal.h"
#include "host_text/escape.h"
#include "host_text/utf.h"

namespace autorun::config_tool {

namespace {

constexpr std::uintmax_t kLongestShown = 4096;

// The events of a run that change the device or start something, with copy sizes.
nlohmann::json stepsOf(const std::vector<nlohmann::json>& trace,
                       const host::ScratchPlatform& device) {
  static const std::set<std::string> kChanges = {
      "create_directory", "copy_file",  "write_file", "delete_file", "create_key",
      "set_value",        "delete_key", "call_entry", "shell_open",  "message_box"};
  nlohmann::json steps = nlohmann::json::array();
  for (const nlohmann::json& event : trace) {
    const std::string op = event.value("op", std::string());
    if (kChanges.count(op) == 0) continue;
    nlohmann::json step = event;
    if (op == "write_file" && event.contains("path")) {
      // A shortcut or another small file the installer writes: its text.
      const auto host = device.sim().hostPath(host::fromUtf8(event["path"].get<std::string>()));
      std::error_code error;
      if (host && std::filesystem::file_size(*host, error) <= kLongestShown && !error) {
        std::ifstream in(*host, std::ios::binary);
        step["content"] = std::string(std::istreambuf_iterator<char>(in), {});
      }
    }
    if (op == "copy_file" && event.contains("source")) {
      const std::u16string source = host::fromUtf8(event["source"].get<std::string>());
      if (const auto size = device.cardFileSize(source)) step["size"] = *size;
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

std::string describe(const nlohmann::json& step) {
  const std::string op = step.value("op", std::string());
  std::string line = op;
  for (const auto& [name, value] : step.items()) {
    if (name == "op" || name == "ok" || name == "result") continue;
    line += " " + name + "=" + (value.is_string() ? value.get<std::string>() : value.dump());
  }
  if (step.contains("ok") && !step["ok"].get<bool>()) line += "  (fails)";
  return host::escapeControls(line);
}

}  // namespace

int runPlan(const PlanOptions& options, std::ostream& out, std::ostream& err) {
  std::error_code error;
  if (!std::filesystem::is_directory(options.cardFolder, error)) {
    err << "autorun-config plan: " << options.cardFolder.string() << " is not a folder\n";
    return kExitCannotRead;
  }
  std::string problem;
  const auto read = host::readConfigurationForLint(options.file, options.key, problem);
  if (!read) {
    err << "autorun-config plan: " << problem << "\n";
    return kExitCannotRead;
  }
  if (!read->recognised) {
    err << "autorun-config plan: " << options.file.string()
        << ": not a configuration (autorun-config check tells why)\n";
    return kExitFailed;
  }
  nlohmann::json plan;
  try {
    const std::vector<std::uint8_t> file =
        host::encipherConfigurationText(read->input.text, options.key);
    host::ScratchDevice device(options.cardFolder,
                               {host::CardAddition{"2577/autorun_8.qlm", std::nullopt,
                                                   std::string(file.begin(), file.end())}});
    host::Rehearsal rehearsal(device, options.key);
    if (rehearsal.loadResult() != 0) {
      err << "autorun-config plan: the installer refuses this configuration (code "
          << rehearsal.loadResult() << "); autorun-config check tells why\n";
      return kExitFailed;
    }
    CopyPlan copies;
    planInstallCopies(rehearsal.planning(), copies);
    const int installCode = rehearsal.install();
    plan["install"] = {{"exit_code", installCode},
                       {"files", copies.jobs.size()},
                       {"bytes", copies.totalBytes},
                       {"steps", stepsOf(rehearsal.installTrace(), rehearsal.installed())}};
    const int uninstallCode = rehearsal.uninstall();
    plan["uninstall"] = {{"exit_code", uninstallCode},
                         {"installed_after", rehearsal.installedAfterUninstall()},
                         {"steps", stepsOf(rehearsal.uninstallTrace(), rehearsal.installed())}};
  } catch (const host::CardError& cardProblem) {
    err << "autorun-config plan: " << cardProblem.what() << "\n";
    return kExitCannotRead;
  }

  if (options.json) {
    out << plan.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else {
    out << "Installation on a fresh device (exit code " << plan["install"]["exit_code"]
        << "): " << plan["install"]["files"] << " files, " << plan["install"]["bytes"]
        << " bytes, which must be free\n";
    for (const nlohmann::json& step : plan["install"]["steps"])
      out << "  " << describe(step) << "\n";
    out << "Uninstallation (exit code " << plan["uninstall"]["exit_code"] << ")"
        << (plan["uninstall"]["installed_after"].get<bool>()
                ? ": registry/installed still reads 1 afterwards"
                : "")
        << "\n";
    for (const nlohmann::json& step : plan["uninstall"]["steps"]) {
      out << "  " << describe(step) << "\n";
    }
  }
  out.flush();
  if (!out) {
    err << "autorun-config plan: the plan cannot be written\n";
    return kExitCannotRead;
  }
  return kExitOk;
}

}  // namespace autorun::config_tool
