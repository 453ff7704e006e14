// build CONFIG --files DIR --out CARD: a complete card, checked on the installer's own code
// before anything is written; with --image also a FAT32 image of it (mkfs.fat, mcopy).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "common/config_lint.h"
#include "common/config_text.h"
#include "tool_files.h"

extern char** environ;

namespace autorun::config_tool {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kConfigurationPlace = "2577/autorun_8.qlm";
constexpr std::string_view kInstallerPlace = "2577/autorun.exe";
constexpr std::uintmax_t kMebibyte = 1u << 20;
constexpr int kSmallestImage = 64;  // MiB; FAT32 needs 33 at least

// Runs a program (no shell) and waits for it. Its exit code, or -1 when it cannot start.
int runProgram(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // Their chatter stays off the tool's own output; their errors reach its error stream.
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int started = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::uintmax_t treeSize(const fs::path& folder) {
  std::uintmax_t total = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) total += entry.file_size();
  }
  return total;
}

// The card's FAT32 image: made beside its place and renamed there when complete.
void writeImage(const fs::path& card, const fs::path& image, std::optional<int> megabytes) {
  const std::uintmax_t needed = treeSize(card);
  const int size = megabytes.value_or(
      std::max<int>(kSmallestImage, static_cast<int>((needed + needed / 8) / kMebibyte) + 16));
  if (static_cast<std::uintmax_t>(size) * kMebibyte < needed + needed / 16 + 4 * kMebibyte) {
    throw ToolError(image.string() + ": " + std::to_string(size) + " MiB cannot hold the card's " +
                    std::to_string(needed) + " bytes: give a larger --size");
  }
  fs::path partial = image;
  partial += ".partial";
  std::error_code ignored;
  fs::remove(partial, ignored);
  ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
  if (runProgram({"mkfs.fat", "-F", "32", "-n", "STORAGECARD", "-C", partial.string(),
                  std::to_string(size * 1024)}) != 0) {
    fs::remove(partial, ignored);
    throw ToolError(image.string() + ": mkfs.fat failed or is missing (Debian package dosfstools)");
  }
  std::vector<std::string> copy = {"mcopy", "-s", "-Q", "-i", partial.string()};
  for (const fs::directory_entry& entry : fs::directory_iterator(card)) {
    copy.push_back(entry.path().string());
  }
  copy.push_back("::/");
  if (copy.size() > 6 && runProgram(copy) != 0) {
    fs::remove(partial, ignored);
    throw ToolError(image.string() + ": mcopy failed or is missing (Debian package mtools)");
  }
  fs::rename(partial, image);
}

}  // namespace

int runBuild(const BuildOptions& options, std::ostream& out, std::ostream& err) {
  std::error_code error;
  if (!fs::is_directory(options.files, error)) {
    err << "autorun-config build: " << options.files.string() << " is not a folder\n";
    return kExitCannotRead;
  }
  if (fs::exists(options.out, error) &&
      (!fs::is_directory(options.out, error) || !fs::is_empty(options.out, error))) {
    err << "autorun-config build: " << options.out.string()
        << " exists and is not an empty folder: the card is made in a new one\n";
    return kExitFailed;
  }
  fs::path installer = options.installer.value_or(options.files / kInstallerPlace);
  if (!fs::is_regular_file(installer, error)) {
    err << "autorun-config build: no installer program at " << installer.string()
        << ": give it with --installer\n";
    return kExitCannotRead;
  }
  std::string problem;
  const auto read = host::readConfigurationForLint(options.file, options.key, problem);
  if (!read) {
    err << "autorun-config build: " << problem << "\n";
    return kExitCannotRead;
  }
  const std::vector<std::uint8_t> file =
      host::encipherConfigurationText(read->input.text, options.key);
  if (file.size() > kMaxFileSize) {
    err << "autorun-config build: the configuration file would be " << file.size()
        << " bytes; the installer reads at most " << kMaxFileSize << "\n";
    return kExitFailed;
  }
  const std::string configuration(file.begin(), file.end());

  // The card as it will be, checked before anything is written.
  host::LintOptions lint;
  lint.cardFolder = options.files;
  lint.key = options.key;
  lint.cardAdditions = {{std::string(kInstallerPlace), installer, {}},
                        {std::string(kConfigurationPlace), std::nullopt, configuration}};
  std::vector<host::Finding> findings;
  try {
    findings = host::lintConfigurationFile(*read, lint);
  } catch (const host::CardError& cardProblem) {
    err << "autorun-config build: " << cardProblem.what() << "\n";
    return kExitCannotRead;
  }
  for (const host::Finding& finding : findings) {
    if (finding.severity != host::Severity::Note) err << host::formatFinding(finding) << "\n";
  }
  if (host::findingsFail(findings, false)) {
    err << "autorun-config build: not built: the card has errors (above)\n";
    return kExitFailed;
  }

  try {
    fs::create_directories(options.out);
    fs::copy(options.files, options.out, fs::copy_options::recursive);
    fs::create_directories(options.out / "2577");
    fs::copy_file(installer, options.out / kInstallerPlace, fs::copy_options::overwrite_existing);
    writeOutput((options.out / kConfigurationPlace).string(), configuration);
    if (options.image) writeImage(options.out, *options.image, options.imageMegabytes);
  } catch (const fs::filesystem_error& problemWriting) {
    err << "autorun-config build: " << problemWriting.what() << "\n";
    return kExitCannotRead;
  }

  // The plan's summary, worked out on the card as built.
  PlanOptions plan{options.out / kConfigurationPlace, options.out, options.key, false};
  std::ostringstream planText;
  const int planned = runPlan(plan, planText, err);
  out << "card: " << options.out.string() << "\n";
  if (options.image) out << "image: " << options.image->string() << "\n";
  std::istringstream lines(planText.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  ", 0) != 0) out << line << "\n";
  }
  return planned;
}

}  // namespace autorun::config_tool
