// check FILE [--card DIR]: the findings of the checker, as text or JSON.
#include <nlohmann/json.hpp>

#include <ostream>

#include "commands.h"
#include "common/config_lint.h"

namespace autorun::config_tool {

int runCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  std::error_code error;
  if (options.cardFolder && !std::filesystem::is_directory(*options.cardFolder, error)) {
    err << "autorun-config check: " << options.cardFolder->string() << " is not a folder\n";
    return kExitCannotRead;
  }
  std::string problem;
  const auto read = host::readConfigurationForLint(options.file, options.key, problem);
  if (!read) {
    err << "autorun-config check: " << problem << "\n";
    return kExitCannotRead;
  }
  host::LintOptions lintOptions;
  lintOptions.cardFolder = options.cardFolder;
  lintOptions.key = options.key;
  lintOptions.filePath = options.file;
  std::vector<host::Finding> findings;
  try {
    findings = host::lintConfigurationFile(*read, lintOptions);
  } catch (const host::CardError& cardProblem) {
    err << "autorun-config check: " << cardProblem.what() << "\n";
    return kExitCannotRead;
  }

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
    out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else {
    for (const host::Finding& finding : findings) out << host::formatFinding(finding) << "\n";
  }
  out.flush();
  if (!out) {
    err << "autorun-config check: the report cannot be written\n";
    return kExitCannotRead;
  }
  if (!options.json) {
    const auto count = [&findings](host::Severity severity) {
      return std::count_if(findings.begin(), findings.end(),
                           [severity](const host::Finding& f) { return f.severity == severity; });
    };
    const auto errors = count(host::Severity::Error);
    const auto warnings = count(host::Severity::Warning);
    if (errors > 0 || warnings > 0) {
      err << errors << (errors == 1 ? " error, " : " errors, ") << warnings
          << (warnings == 1 ? " warning" : " warnings") << "\n";
    }
  }
  return host::findingsFail(findings, options.warningsAreErrors) ? kExitFailed : kExitOk;
}

}  // namespace autorun::config_tool
