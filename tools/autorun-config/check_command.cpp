#include "check_command.h"

#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "common/config_lint.h"
#include "tool_files.h"

namespace autorun::config_tool {

int runCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  std::error_code error;
  if (options.cardFolder && !std::filesystem::is_directory(*options.cardFolder, error)) {
    err << "autorun-config check: " << options.cardFolder->string() << " is not a folder\n";
    return kCheckCannotRead;
  }
  std::string problem;
  const auto read = host::readConfigurationForLint(options.file, options.key, problem);
  if (!read) {
    err << "autorun-config check: " << problem << "\n";
    return kCheckCannotRead;
  }
  host::LintOptions lintOptions;
  lintOptions.cardFolder = options.cardFolder;
  const std::vector<host::Finding> findings = host::lintConfigurationFile(*read, lintOptions);

  if (options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const host::Finding& finding : findings) {
      list.push_back({{"file", finding.file},
                      {"line", finding.line},
                      {"column", finding.column},
                      {"severity", std::string(host::severityName(finding.severity))},
                      {"message", finding.message},
                      {"rule", finding.rule}});
    }
    out << list.dump(2) << "\n";
  } else {
    int errors = 0;
    int warnings = 0;
    for (const host::Finding& finding : findings) {
      out << host::formatFinding(finding) << "\n";
      if (finding.severity == host::Severity::Error) ++errors;
      if (finding.severity == host::Severity::Warning) ++warnings;
    }
    if (errors > 0 || warnings > 0) {
      err << errors << (errors == 1 ? " error, " : " errors, ") << warnings
          << (warnings == 1 ? " warning" : " warnings") << "\n";
    }
  }
  return host::findingsFail(findings, options.warningsAreErrors) ? kCheckFailed : kCheckClean;
}

void addCheckCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<CheckOptions>();
  auto card = std::make_shared<std::string>();
  CLI::App* check = app.add_subcommand(
      "check",
      "Reports what the installer would skip, misread or fail on in a configuration (plain "
      "source or enciphered file), as file:line:column: severity: message [rule]. Exits with "
      "1 when there are errors (with --werror also warnings), 2 when the file cannot be read");
  check->add_option("FILE", options->file, "The configuration: plain source or enciphered file")
      ->required();
  check->add_option("--card", *card,
                    "A card's root folder on the host: check the copy sources, the logo and "
                    "the executable's version stamp there");
  addKeyOption(*check, options->key);
  check->add_flag("--json", options->json,
                  "Write the findings as a JSON array of {file, line, column, severity, "
                  "message, rule}");
  check->add_flag("--werror", options->warningsAreErrors, "Treat warnings as errors");
  check->callback([options, card, &exitCode]() {
    if (!card->empty()) options->cardFolder = *card;
    exitCode = runCheck(*options, std::cout, std::cerr);
  });
}

}  // namespace autorun::config_tool
