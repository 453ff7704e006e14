// The checker's driver: reading the file, positions, the finding sink and the order of
// the checks.
#include "common/config_lint.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include "common/config_lint_internal.h"
#include "common/config_text.h"
#include "host_text/escape.h"
#include "host_text/utf.h"

namespace autorun::host {

namespace {

// Rules whose finding may explain many of the others: they come first.
const std::set<std::string_view> kRootCauses = {"not-a-configuration", "not-utf8",
                                                "not-enciphered",      "file-too-large",
                                                "line-feed-only",      "lone-carriage-return",
                                                "text-ends-at-nul",    "reference-limit"};

bool isRootCause(const Finding& finding) {
  return finding.severity != Severity::Note && kRootCauses.count(finding.rule) > 0;
}

}  // namespace

std::string_view severityName(Severity severity) {
  switch (severity) {
    case Severity::Note:
      return "note";
    case Severity::Warning:
      return "warning";
    case Severity::Error:
      return "error";
  }
  return "error";
}

std::string formatFinding(const Finding& finding) {
  std::ostringstream out;
  out << escapeControls(finding.file) << ':' << finding.line << ':' << finding.column << ": "
      << severityName(finding.severity) << ": " << escapeControls(finding.message) << " ["
      << finding.rule << ']';
  return out.str();
}

bool findingsFail(const std::vector<Finding>& findings, bool warningsAreErrors) {
  return std::any_of(findings.begin(), findings.end(), [&](const Finding& f) {
    return f.severity == Severity::Error || (warningsAreErrors && f.severity == Severity::Warning);
  });
}

namespace lint {

TextPositions::TextPositions(std::u16string_view text) : text_(text) {
  lineStarts_.push_back(0);
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == u'\r') {
      if (k + 1 < text.size() && text[k + 1] == u'\n') ++k;
      lineStarts_.push_back(k + 1);
    } else if (text[k] == u'\n') {
      lineStarts_.push_back(k + 1);
    }
  }
}

std::pair<int, int> TextPositions::at(std::size_t offset) const {
  offset = std::min(offset, text_.size());
  const auto next = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
  const std::size_t line = static_cast<std::size_t>(next - lineStarts_.begin());  // 1-based
  const std::size_t start = lineStarts_[line - 1];
  int column = 1;
  for (std::size_t k = start; k < offset; ++k) {
    // The second half of a surrogate pair does not start a character.
    if (text_[k] < 0xDC00 || text_[k] > 0xDFFF) ++column;
  }
  return {static_cast<int>(line), column};
}

Context::Context(const LintInput& lintInput, std::u16string_view parsedText)
    : input(lintInput), text(parsedText), positions(parsedText) {}

void Context::report(std::size_t offset, Severity severity, std::string_view rule,
                     std::string message) {
  const auto [line, column] = positions.at(offset);
  findings.push_back(
      Finding{input.fileName, line, column, severity, std::move(message), std::string(rule)});
}

std::size_t Context::offsetOfKey(std::u16string_view fullKey) const {
  if (const auto it = origins.find(std::u16string(fullKey)); it != origins.end()) {
    return it->second.offset;
  }
  const KeyParts parts = splitKey(fullKey);
  if (const auto it = sectionHeaders.find(parts.section); it != sectionHeaders.end()) {
    return it->second;
  }
  return 0;
}

void Context::reportKey(std::u16string_view fullKey, Severity severity, std::string_view rule,
                        std::string message) {
  report(offsetOfKey(fullKey), severity, rule, std::move(message));
}

void Context::reportValue(std::u16string_view fullKey, std::size_t valueIndex, Severity severity,
                          std::string_view rule, std::string message) {
  const auto it = origins.find(std::u16string(fullKey));
  if (it != origins.end() && !it->second.copied && !it->second.valueOffsets.empty()) {
    const std::vector<std::size_t>& offsets = it->second.valueOffsets;
    report(offsets[std::min(valueIndex, offsets.size() - 1)], severity, rule, std::move(message));
    return;
  }
  reportKey(fullKey, severity, rule, std::move(message));
}

void Context::reportInValue(std::u16string_view fullKey, std::u16string_view needle,
                            std::size_t occurrence, Severity severity, std::string_view rule,
                            std::string message) {
  const auto it = origins.find(std::u16string(fullKey));
  if (it != origins.end() && !it->second.copied) {
    const std::u16string& raw = it->second.rawValue;
    std::size_t at = raw.find(needle);
    for (std::size_t k = 0; k < occurrence && at != std::u16string::npos; ++k) {
      at = raw.find(needle, at + needle.size());
    }
    if (at != std::u16string::npos) {
      report(it->second.rawValueOffset + at, severity, rule, std::move(message));
      return;
    }
  }
  reportKey(fullKey, severity, rule, std::move(message));
}

void Context::reportSection(std::u16string_view section, Severity severity, std::string_view rule,
                            std::string message) {
  const auto it = sectionHeaders.find(std::u16string(section));
  report(it == sectionHeaders.end() ? 0 : it->second, severity, rule, std::move(message));
}

std::string u8(std::u16string_view text) {
  return escapeControls(text);
}

std::string shown(std::u16string_view value) {
  constexpr std::size_t kLongest = 60;
  std::string out = escapeControls(value);
  if (out.size() > kLongest) {
    std::size_t cut = kLongest - 3;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out = out.substr(0, cut) + "...";
  }
  return out;
}

std::string inQuotes(std::u16string_view text) {
  return "'" + shown(text) + "'";
}

std::string keyName(std::u16string_view fullKey) {
  return escapeControls(fullKey);
}

}  // namespace lint

std::vector<Finding> lintConfiguration(const LintInput& input, const LintOptions& options) {
  // The parser reads up to the first code unit 0.
  const std::u16string_view all(input.text);
  const std::u16string_view parsed = all.substr(0, all.find(u'\0'));
  lint::Context context(input, parsed);

  checkLines(context);
  checkNeeds(context);
  checkActionLists(context);
  checkValues(context);
  checkKeys(context);
  if (options.cardFolder) checkCard(context, options);

  if (input.installedSize > 100000) {
    context.report(0, Severity::Error, "file-too-large",
                   "the card's configuration file would be " + std::to_string(input.installedSize) +
                       " bytes; the installer refuses files over 100000 bytes and ends "
                       "with code 1 (cannot open configuration file)");
  }

  std::vector<Finding> findings = std::move(context.findings);
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    if (isRootCause(a) != isRootCause(b)) return isRootCause(a);
    if (a.line != b.line) return a.line < b.line;
    return a.column < b.column;
  });
  return findings;
}

std::optional<ReadConfiguration> readConfigurationForLint(const std::filesystem::path& path,
                                                          std::string_view key,
                                                          std::string& error) {
  std::error_code problem;
  if (std::filesystem::is_directory(path, problem)) {
    error = path.string() + " is a folder, not a configuration file";
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path.string();
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(file.gcount()));
    if (bytes.size() > (std::size_t{16} << 20)) {
      error = path.string() + " is larger than any configuration (over 16 MiB)";
      return std::nullopt;
    }
  }
  if (file.bad()) {
    error = "cannot read " + path.string();
    return std::nullopt;
  }

  ReadConfiguration read;
  read.input.fileName = path.string();
  if (std::optional<ConfigurationSource> source = readConfigurationSource(bytes)) {
    read.input.form = SourceForm::Plain;
    read.input.text = std::move(source->text);
    read.input.installedSize = 2 + 2 * static_cast<std::uint64_t>(read.input.text.size());
    read.input.lineEndsNormalised = source->lineEndsRewritten;
    std::string name = path.filename().string();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "autorun_8.qlm") {
      read.findings.push_back(
          Finding{read.input.fileName, 1, 1, Severity::Error,
                  "this autorun_8.qlm is plain text, not enciphered: the installer deciphers its "
                  "configuration file, finds no configuration in it and ends with code 3 "
                  "(configuration is invalid); make it with autorun-config encode",
                  "not-enciphered"});
    }
    return read;
  }

  read.input.form = SourceForm::Enciphered;
  read.input.installedSize = bytes.size();
  if (std::optional<std::u16string> text = decipherConfigurationFile(bytes, key)) {
    read.input.text = std::move(*text);
    return read;
  }
  if (const std::optional<BadByte> bad = findBadUtf8(bytes)) {
    // Text in a single-byte code page: checked as the text it nearly is.
    read.input.form = SourceForm::Plain;
    read.input.text = decodeConfigurationSource(bytes);
    read.input.installedSize = 2 + 2 * static_cast<std::uint64_t>(read.input.text.size());
    read.findings.push_back(Finding{read.input.fileName, bad->line, bad->column, Severity::Error,
                                    describeBadByte(*bad) +
                                        "; encode refuses the file, and every such byte "
                                        "would be lost",
                                    "not-utf8"});
    return read;
  }
  read.recognised = false;
  return read;
}

std::vector<Finding> lintConfigurationFile(const ReadConfiguration& read,
                                           const LintOptions& options) {
  if (!read.recognised) {
    return {Finding{read.input.fileName, 1, 1, Severity::Error,
                    "neither configuration source (UTF-8 or UTF-16 text) nor a file enciphered "
                    "with this key: the installer finds no byte-order mark after deciphering, "
                    "stores nothing and ends with code 3 (configuration is invalid)",
                    "not-a-configuration"}};
  }
  std::vector<Finding> findings = read.findings;
  std::vector<Finding> rest = lintConfiguration(read.input, options);
  // The reading's own findings are root causes: they stay in front.
  findings.insert(findings.end(), rest.begin(), rest.end());
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    return isRootCause(a) && !isRootCause(b);
  });
  return findings;
}

}  // namespace autorun::host
