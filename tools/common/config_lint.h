// The configuration checker behind `autorun-config check`: reads a configuration as the
// installer would (its own parser and store) and reports what the installer would skip,
// misread or fail on, each finding at a line and column of the source text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/card_addition.h"

namespace autorun::host {

enum class Severity { Note, Warning, Error };

std::string_view severityName(Severity severity);

struct Finding {
  std::string file;
  int line = 1;    // 1-based, in the text as an editor shows it
  int column = 1;  // 1-based, in characters
  Severity severity = Severity::Error;
  std::string message;
  std::string rule;
};

// "file:line:column: severity: message [rule]"
std::string formatFinding(const Finding& finding);

enum class SourceForm {
  Plain,       // source text that `encode` turns into the card's file
  Enciphered,  // the card's file itself
};

struct LintInput {
  std::string fileName;  // as the findings name it
  SourceForm form = SourceForm::Plain;
  // The UTF-16 text after the byte-order mark, exactly as the installer's parser receives
  // it: for plain source as `encode` writes it.
  std::u16string text;
  // A UTF-8 source whose line ends were not all CR LF: `encode` writes them so.
  bool lineEndsNormalised = false;
  // Bytes of the file that the installer reads (enciphered size).
  std::uint64_t installedSize = 0;
};

struct LintOptions {
  // The root folder of a card image on the host: the installer's own code plans and runs
  // an installation of it on a simulated device (see scratch_device.h).
  std::optional<std::filesystem::path> cardFolder;
  // What the card will hold besides the folder's own files (autorun-config build).
  std::vector<CardAddition> cardAdditions;
  // The cipher key of the card's configuration file.
  std::string key;
  // The host path of the file checked, to tell whether it is the card's own.
  std::optional<std::filesystem::path> filePath;
};

// Every finding: the root causes first (a file that is no configuration, line ends the
// installer reads otherwise, ...), since what follows them may be their consequence; then
// the others, ordered by position. Throws CardError when the card cannot be read.
std::vector<Finding> lintConfiguration(const LintInput& input, const LintOptions& options);

// Reads a configuration file from the host: plain source (UTF-8, or UTF-16LE with its
// byte-order mark) or a file enciphered with `key`. Nothing, with `error` set, when the
// file cannot be read; a file that is neither is returned as enciphered with an empty text
// and `recognised` false.
struct ReadConfiguration {
  LintInput input;
  bool recognised = true;
  // What reading found already (a byte that is not UTF-8, a card file left plain).
  std::vector<Finding> findings;
};
std::optional<ReadConfiguration> readConfigurationForLint(const std::filesystem::path& path,
                                                          std::string_view key, std::string& error);

// Lints a file as read above, adding the finding for an unrecognised file.
std::vector<Finding> lintConfigurationFile(const ReadConfiguration& read,
                                           const LintOptions& options);

// Whether any finding is an error, or (with `warningsAreErrors`) a warning.
bool findingsFail(const std::vector<Finding>& findings, bool warningsAreErrors);

}  // namespace autorun::host
