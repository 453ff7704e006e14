// autorun-sim: runs the installer's entry on a simulated device (a device image folder)
// and exits with the installer's exit code.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "configuration_key.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "host_text/escape.h"
#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"
#include "preview.h"
#include "run_summary.h"

namespace {

namespace fs = std::filesystem;

// The runner's own failures; the installer's codes are 0 to 4.
constexpr int kExitUsage = 64;         // bad options
constexpr int kExitBadImage = 65;      // registry.reg or device.json malformed or unreadable
constexpr int kExitNoImage = 66;       // no device image in the folder
constexpr int kExitInternal = 70;      // the run failed unexpectedly
constexpr int kExitCannotCreate = 73;  // trace file or new image cannot be made
constexpr int kExitTraceLost = 74;     // the trace file stopped taking lines during the run
constexpr int kExitBusy = 75;          // another run held the image for longer than the wait

constexpr double kDefaultLockWait = 10;  // seconds

// One line, whatever the message quotes (a file name, a line of the image).
int fail(int code, const std::string& message) {
  std::fprintf(stderr, "autorun-sim: %s\n", autorun::host::escapeControls(message).c_str());
  return code;
}

std::optional<std::vector<bool>> parseAnswers(const std::string& list) {
  std::vector<bool> answers;
  if (list.empty()) return answers;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = list.find(',', start);
    std::string word =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "yes" || word == "y") {
      answers.push_back(true);
    } else if (word == "no" || word == "n") {
      answers.push_back(false);
    } else {
      return std::nullopt;
    }
    if (comma == std::string::npos) return answers;
    start = comma + 1;
  }
}

int initImage(const fs::path& dir, bool utf16) {
  std::error_code error;
  if (fs::exists(dir / "fs", error) || fs::exists(dir / "registry.reg", error)) {
    return fail(kExitCannotCreate, dir.string() + " already holds a device image");
  }
  for (const char* folder :
       {"Storage Card", "Windows/Start Menu/Programs", "My Documents", "Program Files"}) {
    fs::create_directories(dir / "fs" / folder, error);
    if (error)
      return fail(kExitCannotCreate, (dir / "fs" / folder).string() + ": " + error.message());
  }
  // An empty registry: UTF-8, or UTF-16 as the registry editor writes it.
  namespace sim = autorun::sim;
  std::ofstream registry(dir / "registry.reg", std::ios::binary);
  registry << *sim::formatRegistryText(
      sim::RegistryTree(), utf16 ? sim::RegistryFormat::utf16() : sim::RegistryFormat());
  registry.close();
  if (!registry)
    return fail(kExitCannotCreate, (dir / "registry.reg").string() + ": cannot be written");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "autorun-sim --device DIR [--installer PATH] [--answers yes,no,...] [--trace FILE]\n"
      "            [--load-dlls] [-- COMMAND_LINE]\n"
      "autorun-sim init [--utf16] DIR\n\n"
      "Runs the installer on a simulated device and exits with the installer's exit code.\n"
      "The runner's own errors exit with 64 (bad options), 65 (malformed image), 66 (no\n"
      "image), 70 (internal error), 73 (cannot create a file, or the trace would be written\n"
      "into the image), 74 (the trace could not be written to its end; the run went on) or\n"
      "75 (another run held the image longer than --lock-wait; nothing was changed).",
      "autorun-sim"};

  std::string device;
  std::string installer;
  std::string answerList;
  std::string traceFile;
  bool loadDlls = false;
  double lockWait = kDefaultLockWait;
  std::vector<std::string> commandWords;
  app.add_option("--device", device, "The device image folder (fs/, registry.reg, device.json)");
  app.add_option("--installer", installer,
                 "The installer's own device path (default \\Storage Card\\2577\\autorun.exe)");
  app.add_option("--answers", answerList, "Answers to the Yes/No questions in order: yes,no,...");
  app.add_option("--trace", traceFile, "Write every device change and dialog as JSON Lines here");
  app.add_flag("--load-dlls", loadDlls,
               "Load registered DLLs as host shared objects and call their entries");
  app.add_option("--lock-wait", lockWait,
                 "Seconds to wait while another run holds the image (default 10)")
      ->check(CLI::Range(0.0, 86400.0));
  app.add_option("command_line", commandWords, "The installer's command line (after --)");

  std::string initDir;
  CLI::App* init = app.add_subcommand("init", "Makes an empty device image in DIR");
  init->add_option("DIR", initDir, "The folder to make the image in")->required();
  bool initUtf16 = false;
  init->add_flag("--utf16", initUtf16,
                 "Write registry.reg in UTF-16 as the registry editor does (default UTF-8)");
  autorun::preview::PreviewOptions previewOptions;
  int previewExit = 0;
  CLI::App* preview = app.add_subcommand(
      "preview",
      "Draws the card's install question and status dialog as PNG pictures (question.png, "
      "status.png) at the device's dialog client size, and every message box the installer "
      "can show with this configuration (message-NAME.png) at the same width");
  preview->add_option("DIR", previewOptions.deviceDir, "The device image folder")->required();
  preview->add_option("--out", previewOptions.outDir, "The folder to write the pictures to")
      ->required();
  preview->add_option("--progress", previewOptions.progress,
                      "The status dialog's progress position, 0 to 100 (default 50)");
  preview->add_flag("--frame", previewOptions.frame,
                    "Add the device's title bar with the dialog's caption above the client "
                    "area");
  preview->add_option("--font", previewOptions.font, "The font file (default DejaVu Sans)");
  preview->add_option(
      "--installer", previewOptions.installerPath,
      "The installer's own device path (default \\Storage Card\\2577\\autorun.exe)");
  preview->callback(
      [&] { previewExit = autorun::preview::runPreview(previewOptions, std::cout, std::cerr); });

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& error) {
    return fail(kExitUsage, error.what());
  }

  if (init->parsed()) return initImage(initDir, initUtf16);
  if (preview->parsed()) return previewExit;

  if (device.empty())
    return fail(kExitUsage, "--device DIR is required (or: autorun-sim init DIR)");
  const auto answers = parseAnswers(answerList);
  if (!answers)
    return fail(kExitUsage,
                "--answers takes yes and no separated by commas, got \"" + answerList + "\"");
  std::error_code error;
  if (!fs::is_directory(device, error) || !fs::is_directory(fs::path(device) / "fs", error)) {
    return fail(kExitNoImage, "no device image in " + device + " (expected " + device +
                                  "/fs; autorun-sim init makes one)");
  }

  autorun::sim::SimOptions options;
  options.deviceDir = device;
  if (!installer.empty()) options.installerPath = autorun::host::fromUtf8(installer);
  options.answers = *answers;
  options.loadDlls = loadDlls;
  options.useTerminal = ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
  if (!traceFile.empty()) options.traceFile = traceFile;
  // Without a terminal the run ends with a summary line, made from the trace.
  const bool summary = ::isatty(STDIN_FILENO) != 1 || ::isatty(STDERR_FILENO) != 1;
  options.keepTrace = summary;
  options.lockWait = std::chrono::milliseconds(std::llround(lockWait * 1000));
  // A trace sent to a pipe whose reader has gone is a write error to report, not a reason
  // to stop half-way through the installation.
  ::signal(SIGPIPE, SIG_IGN);

  std::string commandLine;
  for (const std::string& word : commandWords) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += word;
  }

  std::unique_ptr<autorun::sim::SimPlatform> platform;
  try {
    platform = std::make_unique<autorun::sim::SimPlatform>(std::move(options));
  } catch (const autorun::sim::SimOutputError& problem) {
    return fail(kExitCannotCreate, problem.what());
  } catch (const autorun::sim::SimBusyError& problem) {
    return fail(kExitBusy, problem.what());
  } catch (const autorun::sim::SimError& problem) {
    return fail(kExitBadImage, problem.what());
  }

  int exitCode = 0;
  try {
    autorun::InstallerContext context(*platform, std::string(autorun::kConfigurationKey));
    autorun::sim::RecordingSteps steps;
    exitCode = autorun::runEntry(context, autorun::sim::SimPlatform::kModuleHandle,
                                 autorun::host::fromUtf8(commandLine), steps);
    if (summary) {
      std::fprintf(stderr, "autorun-sim: %s\n",
                   autorun::sim::summarizeRun(steps.flow(), exitCode, platform->trace()).c_str());
    }
  } catch (const std::exception& problem) {
    return fail(kExitInternal, std::string("the run failed: ") + problem.what());
  }
  // The run went on to its end without its trace; whoever reads the trace must know.
  if (const auto& lost = platform->traceWriteError()) {
    return fail(kExitTraceLost, *lost + " (the run went on to its end, with exit code " +
                                    std::to_string(exitCode) + ")");
  }
  return exitCode;
}
