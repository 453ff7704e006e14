// `autorun-config check`: reports what the installer would skip, misread or fail on in a
// configuration, as compiler-style findings or JSON.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace autorun::config_tool {

struct CheckOptions {
  std::filesystem::path file;
  std::optional<std::filesystem::path> cardFolder;
  std::string key;  // the cipher key of an enciphered file
  bool json = false;
  bool warningsAreErrors = false;
};

// Exit codes of the check.
inline constexpr int kCheckClean = 0;       // no errors (and with --werror no warnings)
inline constexpr int kCheckFailed = 1;      // errors, or warnings with --werror
inline constexpr int kCheckCannotRead = 2;  // the file or the card folder cannot be read

// Runs the check, writing findings to `out` and problems of its own to `err`.
int runCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);

// Adds the `check` subcommand to the program. When the subcommand runs, its exit code is
// stored in `exitCode`.
void addCheckCommand(CLI::App& app, int& exitCode);

}  // namespace autorun::config_tool
