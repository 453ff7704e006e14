// The line scanner: walks the text line by line with the parser's own syntax table
// (base/config_syntax.h), explains every line that the parser skips, and replays the lines
// one by one into a store of its own, so that references can be judged by what stands
// above them (config_lint_references.cpp).
#include <algorithm>

#include "base/config_syntax.h"
#include "base/wide_text.h"
#include "common/config_lint_internal.h"
#include "common/config_lint_references.h"
#include "common/config_text.h"
#include "host_text/utf.h"

namespace autorun::host::lint {

namespace {

std::u16string tabsAsSpaces(std::u16string_view text) {
  std::u16string out(text);
  std::replace(out.begin(), out.end(), u'\t', u' ');
  return out;
}

// The first character that is not an identifier character, or npos.
std::size_t firstNonIdentifier(std::u16string_view text) {
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (!isIdentifierCharacter(text[k])) return k;
  }
  return std::u16string_view::npos;
}

std::string sectionDescription(std::u16string_view prefix) {
  if (prefix == u"/") return "the global section";
  return "section '" + u8(prefix.substr(0, prefix.size() - 1)) + "'";
}

std::vector<ConfigLine> parserLines(std::u16string_view text) {
  std::vector<ConfigLine> lines;
  for (std::optional<ConfigLine> line = configLineAt(text, 0); line;
       line = line->last ? std::nullopt : configLineAt(text, line->next)) {
    lines.push_back(*line);
  }
  return lines;
}

void feed(ConfigStore& store, std::u16string_view line) {
  const std::string bytes = utf16WithMark(line);
  store.parseText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

bool looksLikePath(std::u16string_view raw) {
  if (!raw.empty() && raw.front() == u'\\') return true;
  if (raw.find(u"%\\") != std::u16string_view::npos) return true;
  for (std::size_t i = 0; i + 1 < raw.size(); ++i) {
    if (raw[i] == u'\\' && (findEscape(raw[i + 1]) == nullptr || raw[i + 1] == u'\\')) {
      return true;
    }
  }
  return false;
}

class LineChecker {
 public:
  explicit LineChecker(Context& context) : c_(context), references_(context, replay_) {}

  void run() {
    checkLineEnds();
    for (const ConfigLine& line : parserLines(c_.text)) checkLine(line);
    references_.judge();
  }

 private:
  void checkLineEnds() {
    const std::u16string_view text = c_.text;
    if (c_.input.lineEndsNormalised) {
      c_.report(0, Severity::Note, "line-feed-only",
                "lines end in LF alone (or CR alone) in this source; `autorun-config encode` "
                "writes every line end as CR LF, as the installer needs");
    }
    // What reaches the installer as written: an enciphered file, or a UTF-16 source.
    const std::vector<ConfigLine> lines = parserLines(text);
    for (const ConfigLine& line : lines) {
      const std::size_t lf = text.substr(line.start, line.end - line.start).find(u'\n');
      if (lf == std::u16string_view::npos) continue;
      const int first = c_.positions.lineOf(line.start);
      const int last = c_.positions.lineOf(line.end);
      std::string message;
      if (lines.size() == 1) {
        message =
            "lines end in a line feed alone: the installer ends lines only at CR (CR LF), "
            "so it reads the whole text as one line and stores nothing from lines " +
            std::to_string(first) + " to " + std::to_string(last) +
            "; write the file with `autorun-config encode` from UTF-8 text";
      } else {
        message =
            "line ends in a line feed alone: the installer ends lines only at CR (CR "
            "LF), so it reads lines " +
            std::to_string(first) + " to " + std::to_string(last) + " as one line";
      }
      c_.report(line.start + lf, Severity::Error, "line-feed-only", std::move(message));
    }
    for (std::size_t k = 0; k + 1 < text.size(); ++k) {
      if (text[k] == kLineEnd && text[k + 1] != u'\n') {
        c_.report(k + 1, Severity::Warning, "lone-carriage-return",
                  "a carriage return without a line feed: the installer skips the code unit "
                  "after every CR unread, so " +
                      describeCharacter(text[k + 1]) + " is lost");
      }
    }
    if (c_.text.size() < c_.input.text.size()) {
      const std::size_t rest = c_.input.text.size() - c_.text.size() - 1;
      c_.report(c_.text.size(), Severity::Warning, "text-ends-at-nul",
                "a NUL character ends the text: the installer reads nothing after it (" +
                    std::to_string(rest) + " more code units)");
    }
  }

  void checkLine(const ConfigLine& parserLine) {
    const std::u16string_view line =
        c_.text.substr(parserLine.start, parserLine.end - parserLine.start);
    if (!line.empty() && line.front() == kHeaderOpen) {
      checkHeader(parserLine.start, line);
      return;
    }
    if (startsWithComment(line)) return;

    const auto [first, last] = trimmedRange(line);
    const std::u16string_view inner = line.substr(first, last - first);
    if (!inner.empty() && inner.front() == kHeaderOpen) {
      c_.report(parserLine.start + first, Severity::Error, "indented-header",
                "section header does not start in the first column: the installer does not "
                "read it as a header, and the lines below stay in " +
                    sectionDescription(replay_.currentSectionPrefix()));
      return;
    }
    if (startsWithComment(inner)) {
      c_.report(parserLine.start + first, Severity::Note, "indented-comment",
                "comment does not start in the first column: the installer reads it as a "
                "malformed line and skips it, so it works as a comment only by accident");
      return;
    }
    if (line.find(kEntrySeparator) == std::u16string_view::npos) {
      if (!inner.empty()) {
        c_.report(parserLine.start + first, Severity::Warning, "no-equals",
                  "line is neither an entry (no '='), a section header nor a comment: the "
                  "installer skips it");
      }
      return;
    }
    checkEntry(parserLine.start, line);
  }

  void checkHeader(std::size_t start, std::u16string_view line) {
    const std::u16string_view text = c_.text;
    std::size_t close = text.find(kHeaderClose, start + 1);
    const bool closedOnLine = close != std::u16string_view::npos && close < start + line.size();
    if (close == std::u16string_view::npos) close = text.size();
    const std::u16string_view headerText = text.substr(start + 1, close - start - 1);
    ++headersSeen_;

    const std::u16string before = replay_.currentSectionPrefix();
    const std::size_t colon = headerText.find(kHeaderSeparator);
    const std::u16string_view name = headerText.substr(0, colon);

    // What the parser does, fed to the replay store as one line. A header text that runs
    // over line ends holds them; a line feed stands in for each carriage return, which
    // keeps the header on one line with the same (non-identifier) character.
    std::u16string header = u"[" + std::u16string(headerText) + u"]";
    std::replace(header.begin(), header.end(), kLineEnd, u'\n');
    std::u16string parentPattern;
    bool copies = false;
    if (!name.empty() && isIdentifier(name) && colon != std::u16string_view::npos) {
      const std::u16string_view parent = headerText.substr(colon + 1);
      parentPattern = (parent.empty() || !isIdentifier(parent)) ? u"/" : foldLower(parent) + u"/";
      copies = true;
    }
    const ConfigStore::Entries entriesBefore = copies ? replay_.entries() : ConfigStore::Entries{};
    feed(replay_, header);
    const std::u16string after = replay_.currentSectionPrefix();

    if (!closedOnLine) {
      std::string effect = after == before ? "so it has no effect and the lines below stay in " +
                                                 sectionDescription(before)
                                           : "which selects " + sectionDescription(after);
      std::string reach = close == text.size() ? "the rest of the text"
                                               : "the text up to the ']' on line " +
                                                     std::to_string(c_.positions.lineOf(close));
      c_.report(start, Severity::Error, "section-unclosed",
                "section header has no ']' on its line: the installer takes " + reach +
                    " as the header, " + effect);
      return;
    }

    if (!name.empty() && !isIdentifier(name)) {
      const std::size_t bad = firstNonIdentifier(name);
      std::string message = "section name " + inQuotes(name) + " holds " +
                            describeCharacter(name[bad]) +
                            ": only letters, digits and '_' are allowed, so the installer "
                            "ignores this header and the lines below stay in " +
                            sectionDescription(before);
      const std::u16string_view inner = trimmed(name);
      if (!inner.empty() && isIdentifier(inner)) message += "; write '[" + u8(inner) + "]'";
      c_.report(start + 1 + bad, Severity::Error, "section-name", std::move(message));
      return;
    }

    if (name.empty()) {
      if (colon != std::u16string_view::npos && colon + 1 < headerText.size()) {
        c_.report(start + 1 + colon, Severity::Warning, "section-parent-ignored",
                  "a header without a section name selects the global section; the parent " +
                      inQuotes(headerText.substr(colon + 1)) + " is ignored and nothing is copied");
      }
    } else {
      const std::u16string folded = foldLower(name);
      c_.sectionHeaders.emplace(folded, start);
      if (copies && parentPattern != u"/") {
        c_.parentSections.insert(parentPattern.substr(0, parentPattern.size() - 1));
      }
      if (copies) recordCopies(start, headerText, colon, folded, parentPattern, entriesBefore);
    }

    // Up to a line feed alone, which line-feed-only reports.
    std::u16string_view trailing = line.substr(close - start + 1);
    trailing = trailing.substr(0, trailing.find(u'\n'));
    const auto [first, last] = trimmedRange(trailing);
    if (first < last && !startsWithComment(trailing.substr(first))) {
      c_.report(close + 1 + first, Severity::Warning, "header-trailing-text",
                "text after the section header's ']' is ignored");
    }
  }

  void recordCopies(std::size_t start, std::u16string_view headerText, std::size_t colon,
                    const std::u16string& section, const std::u16string& parentPattern,
                    const ConfigStore::Entries& entriesBefore) {
    const std::u16string_view parent = headerText.substr(colon + 1);
    if (!parent.empty() && !isIdentifier(parent)) {
      c_.report(start + 1 + colon + 1 + firstNonIdentifier(parent), Severity::Warning,
                "section-parent",
                "parent name " + inQuotes(parent) +
                    " is not a section name: the installer copies the global entries into "
                    "section '" +
                    u8(section) + "' instead");
    }
    if (parentPattern == section + u"/") return;  // a copy onto itself changes nothing
    std::size_t copied = 0;
    for (auto it = entriesBefore.lower_bound(parentPattern); it != entriesBefore.end(); ++it) {
      if (it->first.compare(0, parentPattern.size(), parentPattern) != 0) break;
      const std::u16string key = section + u"/" + it->first.substr(parentPattern.size());
      EntryOrigin origin;
      origin.offset = start;
      origin.copied = true;
      origin.copiedFrom = it->first;
      c_.origins.insert_or_assign(key, std::move(origin));
      explicitLines_.erase(key);
      ++copied;
    }
    if (copied > 0 || parentPattern == u"/") return;
    std::vector<std::u16string> names;
    for (const auto& [key, value] : entriesBefore) {
      const std::size_t slash = key.find(u'/');
      if (slash > 0 && slash != std::u16string::npos) names.push_back(key.substr(0, slash));
    }
    names.erase(std::unique(names.begin(), names.end()), names.end());
    const std::vector<std::u16string_view> sections(names.begin(), names.end());
    const std::u16string parentName = parentPattern.substr(0, parentPattern.size() - 1);
    std::string message = "section '" + u8(parentName) +
                          "' has no entries above this line, so nothing is copied into '" +
                          u8(section) + "'";
    const std::u16string suggestion = closestMatch(parentName, sections);
    if (!suggestion.empty()) message += "; did you mean '" + u8(suggestion) + "'?";
    c_.report(start + 1 + colon + 1, Severity::Warning, "section-parent-empty", std::move(message));
  }

  void checkEntry(std::size_t start, std::u16string_view line) {
    const std::size_t equals = line.find(kEntrySeparator);
    const std::u16string_view nameText = line.substr(0, equals);
    const auto [nameFirst, nameLast] = trimmedRange(nameText);
    const std::u16string name = tabsAsSpaces(nameText.substr(nameFirst, nameLast - nameFirst));
    const std::size_t nameOffset = start + nameFirst;
    const std::u16string prefix = replay_.currentSectionPrefix();

    if (!isIdentifier(name)) {
      const std::size_t bad = firstNonIdentifier(name);
      std::string message = "entry name " + inQuotes(name) + " holds " +
                            describeCharacter(name[bad]) +
                            ": only letters, digits and '_' are allowed, so the installer "
                            "skips the line";
      if (name[bad] == u'/') {
        message += "; put the entry under its section's header instead of naming the section";
      }
      c_.report(nameOffset + bad, Severity::Error, "entry-name", std::move(message));
      return;
    }

    const std::u16string_view valueText = line.substr(equals + 1);
    const auto [valueFirst, valueLast] = trimmedRange(valueText);
    const std::u16string value = tabsAsSpaces(valueText.substr(valueFirst, valueLast - valueFirst));
    const std::size_t valueBase = start + equals + 1 + valueFirst;
    const std::size_t open = value.find(kValueQuote);
    const std::size_t close = value.rfind(kValueQuote);
    if (open == std::u16string::npos || open == close) {
      const std::size_t at = open == std::u16string::npos ? valueBase : valueBase + open;
      c_.report(at, Severity::Error, "unquoted-value",
                std::string(open == std::u16string::npos ? "value is not in double quotes"
                                                         : "value has only one double quote") +
                    ": the installer skips the line; write " + u8(name) + " = \"...\"" +
                    " (numbers are quoted too)");
      return;
    }
    if (open > 0) {
      c_.report(valueBase, Severity::Warning, "text-outside-quotes",
                "text before the opening double quote is ignored");
    }
    const std::u16string_view after = std::u16string_view(value).substr(close + 1);
    const auto [afterFirst, afterLast] = trimmedRange(after);
    if (afterFirst < afterLast && !startsWithComment(after.substr(afterFirst))) {
      c_.report(valueBase + close + 1 + afterFirst, Severity::Warning, "text-outside-quotes",
                "text after the closing double quote is ignored");
    }

    const std::u16string fullKey = prefix + foldLower(name);
    EntryOrigin origin =
        unescapeEntry(value.substr(open + 1, close - open - 1), valueBase + open + 1, fullKey);
    origin.offset = nameOffset;
    references_.check(origin.value, origin.valueOffsets, prefix);

    if (name.empty()) {
      c_.report(nameOffset, Severity::Warning, "empty-name",
                "entry without a name: its value is stored under '" + u8(prefix) +
                    "', which the installer never reads");
    }
    if (headersSeen_ == 0 && prefix == u"/" && !warnedGlobalBeforeHeader_) {
      warnedGlobalBeforeHeader_ = true;
      c_.report(nameOffset, Severity::Warning, "global-before-header",
                "entry above the first section header: it is global only when the installer "
                "has read no other configuration first; on a device with a configuration in "
                "its system folder it lands in the section where that file ended. Put '[]' "
                "above it to select the global section");
    }
    if (const auto it = explicitLines_.find(fullKey); it != explicitLines_.end()) {
      c_.report(nameOffset, Severity::Warning, "duplicate-entry",
                "'" + keyName(fullKey) + "' is set again: this value replaces the one of line " +
                    std::to_string(c_.positions.lineOf(it->second)));
    }
    explicitLines_[fullKey] = nameOffset;

    const bool limitBefore = replay_.expansionLimitReached();
    feed(replay_, line);
    if (!limitBefore && replay_.expansionLimitReached()) {
      c_.report(nameOffset, Severity::Error, "reference-limit",
                "with this line the references of the configuration pull in more than " +
                    std::to_string(ConfigStore::kExpansionAllowance) +
                    " characters in all: the installer refuses the configuration as invalid "
                    "(code 3) rather than leave references unexpanded");
    }
    c_.origins.insert_or_assign(fullKey, std::move(origin));
  }

  // The value as the parser unescapes it, with the text offset of every character, and a
  // finding for each escape that turned a path's backslash into a control character.
  EntryOrigin unescapeEntry(const std::u16string& raw, std::size_t rawOffset,
                            const std::u16string& fullKey) {
    const ValueKind kind = valueKindOf(fullKey);
    const bool pathLike = isPathKind(kind) || (kind == ValueKind::Unknown && looksLikePath(raw));
    EntryOrigin origin;
    origin.rawValue = raw;
    origin.rawValueOffset = rawOffset;
    std::vector<std::size_t> offsets;
    origin.value = unescapeValue(raw, &offsets);
    std::size_t literalQuote = std::u16string::npos;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      const std::size_t at = offsets[i];
      const std::size_t next = i + 1 < offsets.size() ? offsets[i + 1] : raw.size();
      origin.valueOffsets.push_back(rawOffset + at);
      if (next - at == 2) {  // an escape: two characters written for one
        const char16_t written = raw[at + 1];
        if (pathLike && written != u'\\' && written != u'"') {
          const std::string letter = u8(std::u16string(1, written));
          c_.report(rawOffset + at, Severity::Warning, "path-escape",
                    "'\\" + letter + "' in this path becomes " +
                        describeCharacter(origin.value[i]) + "; write '\\\\" + letter +
                        "' to keep the backslash");
        }
      } else if (raw[at] == kValueQuote && literalQuote == std::u16string::npos) {
        literalQuote = at;
      }
    }
    if (literalQuote != std::u16string::npos) {
      const std::u16string_view rest = std::u16string_view(raw).substr(literalQuote + 1);
      const bool commentFollows = std::any_of(
          std::begin(kCommentMarkers), std::end(kCommentMarkers),
          [rest](std::u16string_view marker) { return rest.find(marker) != rest.npos; });
      if (commentFollows) {
        c_.report(rawOffset + literalQuote, Severity::Warning, "quote-in-value",
                  "the value runs to the last double quote of the line, so the comment after "
                  "this quote is part of the value; keep double quotes out of trailing "
                  "comments");
      } else {
        c_.report(rawOffset + literalQuote, Severity::Note, "quote-in-value",
                  "double quote inside the value: the value runs from the first to the last "
                  "double quote of the line; write \\\" to make that plain");
      }
    }
    return origin;
  }

  Context& c_;
  ConfigStore replay_;
  ReferenceChecker references_;
  std::map<std::u16string, std::size_t> explicitLines_;  // full key -> offset of its line
  int headersSeen_ = 0;
  bool warnedGlobalBeforeHeader_ = false;
};

}  // namespace

std::string describeCharacter(char16_t c) {
  switch (c) {
    case u' ':
      return "a space";
    case u'\t':
      return "a tab";
    case u'\r':
      return "a carriage return";
    case u'\n':
      return "a line feed";
    case u'\b':
      return "a backspace";
    default:
      break;
  }
  if (c < 0x20 || c == 0x7F) return "a control character";
  return "'" + u8(std::u16string(1, c)) + "'";
}

void checkLines(Context& context) {
  // What the installer holds: the whole text through its own parser.
  feed(context.store, context.input.text);
  LineChecker(context).run();
}

}  // namespace autorun::host::lint
