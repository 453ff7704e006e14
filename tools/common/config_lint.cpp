// The checker's driver: reading the file, positions, the finding sink and the order of
// the checks.
#include "common/config_lint.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/config_lint_internal.h"
#include "common/config_text.h"
#include "host_text/utf.h"

namespace autorun::host {

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
  out << finding.file << ':' << finding.line << ':' << finding.column << ": "
      << severityName(finding.severity) << ": " << finding.message << " [" << finding.rule << ']';
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
  return toUtf8(text);
}

std::string shown(std::u16string_view value) {
  std::u16string out;
  for (char16_t c : value) {
    switch (c) {
      case u'\n':
        out += u"\\n";
        break;
      case u'\t':
        out += u"\\t";
        break;
      case u'\r':
        out += u"\\r";
        break;
      case u'\b':
        out += u"\\b";
        break;
      default:
        out.push_back(c);
    }
  }
  constexpr std::size_t kLongest = 60;
  if (out.size() > kLongest) out = out.substr(0, kLongest - 3) + u"...";
  return toUtf8(out);
}

std::string inQuotes(std::u16string_view text) {
  return "'" + shown(text) + "'";
}

std::string keyName(std::u16string_view fullKey) {
  return toUtf8(fullKey);
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
  if (options.cardFolder) checkCard(context, *options.cardFolder);

  if (input.installedSize > 100000) {
    context.report(0, Severity::Error, "file-too-large",
                   "the card's configuration file would be " + std::to_string(input.installedSize) +
                       " bytes; the installer refuses files over 100000 bytes and ends "
                       "with code 1 (cannot open configuration file)");
  }

  std::vector<Finding> findings = std::move(context.findings);
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    if (a.line != b.line) return a.line < b.line;
    return a.column < b.column;
  });
  return findings;
}

std::optional<ReadConfiguration> readConfigurationForLint(const std::filesystem::path& path,
                                                          std::string_view key,
                                                          std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path.string();
    return std::nullopt;
  }
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = "cannot read " + path.string();
    return std::nullopt;
  }

  ReadConfiguration read;
  read.input.fileName = path.string();
  if (isConfigurationSource(bytes)) {
    read.input.form = SourceForm::Plain;
    read.input.text = decodeConfigurationSource(bytes);
    read.input.installedSize = 2 + 2 * static_cast<std::uint64_t>(read.input.text.size());
    // Line ends other than CR LF in the source: `encode` rewrote them.
    std::u16string raw;
    const bool utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                       static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (utf16) {
      for (std::size_t k = 2; k + 1 < bytes.size(); k += 2) {
        raw.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[k]) |
                                            (static_cast<unsigned char>(bytes[k + 1]) << 8)));
      }
    } else {
      raw = fromUtf8(bytes);
    }
    for (std::size_t k = 0; k < raw.size(); ++k) {
      const bool crLf = raw[k] == u'\r' && k + 1 < raw.size() && raw[k + 1] == u'\n';
      if (crLf) {
        ++k;
      } else if (raw[k] == u'\r' || raw[k] == u'\n') {
        read.input.lineEndsNormalised = true;
        break;
      }
    }
    return read;
  }

  read.input.form = SourceForm::Enciphered;
  read.input.installedSize = bytes.size();
  if (std::optional<std::u16string> text = decipherConfigurationFile(bytes, key)) {
    read.input.text = std::move(*text);
  } else {
    read.recognised = false;
  }
  return read;
}

std::vector<Finding> lintConfigurationFile(const ReadConfiguration& read,
                                           const LintOptions& options) {
  if (!read.recognised) {
    return {Finding{read.input.fileName, 1, 1, Severity::Error,
                    "neither configuration source (UTF-8, or UTF-16 with a byte-order mark) nor "
                    "a file enciphered with this key: the installer finds no byte-order mark "
                    "after deciphering, stores nothing and ends with code 3 (configuration is "
                    "invalid)",
                    "not-a-configuration"}};
  }
  return lintConfiguration(read.input, options);
}

}  // namespace autorun::host
