// The commands of autorun-config, each in a file of its own. main.cpp declares their
// options into these plain structs and calls them; nothing here knows the option parser.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

namespace autorun::config_tool {

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the command failed, or check found errors
inline constexpr int kExitCannotRead =
    2;                                 // check, plan, build: input unreadable, output unwritable
inline constexpr int kExitUsage = 64;  // bad options

struct EncodeOptions {
  std::string plain;
  std::string out;
  std::string key;
};

struct DecodeOptions {
  std::string in;
  std::string out;  // empty: standard output
  std::string key;
};

struct DumpOptions {
  std::string in;
  std::string key;
};

struct CheckOptions {
  std::filesystem::path file;
  std::optional<std::filesystem::path> cardFolder;
  std::string key;  // the cipher key of an enciphered file
  bool json = false;
  bool warningsAreErrors = false;
};

struct PlanOptions {
  std::filesystem::path file;
  std::filesystem::path cardFolder;
  std::string key;
  bool json = false;
};

struct BuildOptions {
  std::filesystem::path file;
  std::filesystem::path files;  // the application's files: the card's content
  std::filesystem::path out;    // the card folder to make
  std::optional<std::filesystem::path> installer;
  std::optional<std::filesystem::path> image;
  std::optional<int> imageMegabytes;
  std::string key;
};

// Each returns the program's exit code; messages go to `err`, results to `out`. A
// ToolError thrown by the first three is a failure (exit code 1) that main() reports.
void runEncode(const EncodeOptions& options, std::ostream& err);
void runDecode(const DecodeOptions& options, std::ostream& out, std::ostream& err);
void runDump(const DumpOptions& options, std::ostream& out, std::ostream& err);
int runCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);
int runPlan(const PlanOptions& options, std::ostream& out, std::ostream& err);
int runBuild(const BuildOptions& options, std::ostream& out, std::ostream& err);

}  // namespace autorun::config_tool
