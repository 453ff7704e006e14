// The line scanner: walks the text line by line exactly as the installer's parser does,
// explains every line that it skips, and replays the lines one by one into a store of
// its own, so that references can be judged by what stands above them.
#include <algorithm>

#include "base/wide_text.h"
#include "common/config_lint_internal.h"
#include "host_text/utf.h"

namespace autorun::host::lint {

namespace {

constexpr std::u16string_view kCommentMarkers[] = {u";", u"//", u"#"};

struct Escape {
  char16_t written;
  char16_t meaning;
};
constexpr Escape kEscapes[] = {{u'n', u'\n'}, {u'"', u'"'},   {u't', u'\t'},
                               {u'r', u'\r'}, {u'\\', u'\\'}, {u'b', u'\b'}};

const Escape* findEscape(char16_t written) {
  for (const Escape& escape : kEscapes) {
    if (escape.written == written) return &escape;
  }
  return nullptr;
}

bool startsWithComment(std::u16string_view text) {
  return std::any_of(
      std::begin(kCommentMarkers), std::end(kCommentMarkers),
      [text](std::u16string_view marker) { return text.substr(0, marker.size()) == marker; });
}

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// First and one past the last character that is not a space or tab (tabs count as
// spaces, as the parser turns them into spaces before trimming).
std::pair<std::size_t, std::size_t> trimmedRange(std::u16string_view text) {
  std::size_t first = 0;
  while (first < text.size() && isBlank(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && isBlank(text[last - 1])) --last;
  return {first, last};
}

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

std::string describeCharacter(char16_t c) {
  switch (c) {
    case u' ':
      return "a space";
    case u'\t':
      return "a tab";
    case u'\r':
      return "a line end";
    case u'\n':
      return "a line feed";
    default:
      break;
  }
  if (c < 0x20) return "a control character";
  return "'" + toUtf8(std::u16string(1, c)) + "'";
}

std::string sectionDescription(std::u16string_view prefix) {
  if (prefix == u"/") return "the global section";
  return "section '" + toUtf8(prefix.substr(0, prefix.size() - 1)) + "'";
}

// One line as the parser delimits it.
struct ParserLine {
  std::size_t start;
  std::size_t end;
};

std::vector<ParserLine> parserLines(std::u16string_view text) {
  std::vector<ParserLine> lines;
  const std::size_t end = text.size();
  std::size_t start = 0;
  for (;;) {
    const std::size_t cr = start < end ? text.find(u'\r', start) : std::u16string_view::npos;
    if (cr != std::u16string_view::npos) {
      lines.push_back({start, cr});
      start = cr + 2;
    } else {
      if (start > end) break;
      lines.push_back({start, end});
      break;
    }
  }
  return lines;
}

void feed(ConfigStore& store, std::u16string_view line) {
  std::vector<std::uint8_t> bytes{0xFF, 0xFE};
  bytes.reserve(2 + 2 * line.size());
  for (char16_t c : line) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  store.parseText(bytes.data(), bytes.size());
}

// A reference found in an entry's value, judged once every line has been read.
struct PendingReference {
  std::size_t offset;          // the "$"
  std::u16string name;         // as written between the braces
  std::u16string lookupKey;    // what the store looks up
  std::u16string sectionBase;  // the entry's section prefix
  bool globalAbove;            // a global entry of that name stood above the line
};

class LineChecker {
 public:
  explicit LineChecker(Context& context) : c_(context) {}

  void run() {
    checkLineEnds();
    for (const ParserLine& line : parserLines(c_.text)) {
      checkLine(line);
    }
    judgeReferences();
  }

 private:
  void checkLineEnds() {
    const std::u16string_view text = c_.text;
    if (c_.input.form == SourceForm::Plain) {
      if (c_.input.lineEndsNormalised) {
        c_.report(0, Severity::Note, "line-feed-only",
                  "lines end in LF alone (or CR alone) in this source; `autorun-config encode` "
                  "writes every line end as CR LF, as the installer needs");
      }
    } else {
      const std::vector<ParserLine> lines = parserLines(text);
      for (const ParserLine& line : lines) {
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
              "; write the file with `autorun-config encode`";
        } else {
          message =
              "line ends in a line feed alone: the installer ends lines only at CR (CR "
              "LF), so it reads lines " +
              std::to_string(first) + " to " + std::to_string(last) + " as one line";
        }
        c_.report(line.start + lf, Severity::Error, "line-feed-only", std::move(message));
      }
      for (std::size_t k = 0; k + 1 < text.size(); ++k) {
        if (text[k] == u'\r' && text[k + 1] != u'\n') {
          c_.report(k + 1, Severity::Warning, "lone-carriage-return",
                    "a carriage return without a line feed: the installer skips the code unit "
                    "after every CR unread, so " +
                        describeCharacter(text[k + 1]) + " is lost");
        }
      }
    }
    if (c_.text.size() < c_.input.text.size()) {
      const std::size_t rest = c_.input.text.size() - c_.text.size() - 1;
      c_.report(c_.text.size(), Severity::Warning, "text-ends-at-nul",
                "a NUL character ends the text: the installer reads nothing after it (" +
                    std::to_string(rest) + " more code units)");
    }
  }

  void checkLine(const ParserLine& parserLine) {
    const std::u16string_view text = c_.text;
    const std::u16string_view line =
        text.substr(parserLine.start, parserLine.end - parserLine.start);
    if (!line.empty() && line.front() == u'[') {
      checkHeader(parserLine.start, line);
      return;
    }
    if (startsWithComment(line)) return;

    const auto [first, last] = trimmedRange(line);
    const std::u16string_view trimmed = line.substr(first, last - first);
    if (!trimmed.empty() && trimmed.front() == u'[') {
      c_.report(parserLine.start + first, Severity::Error, "indented-header",
                "section header does not start in the first column: the installer does not "
                "read it as a header, and the lines below stay in " +
                    sectionDescription(replay_.currentSectionPrefix()));
      return;
    }
    if (startsWithComment(trimmed)) {
      c_.report(parserLine.start + first, Severity::Note, "indented-comment",
                "comment does not start in the first column: the installer reads it as a "
                "malformed line and skips it, so it works as a comment only by accident");
      return;
    }
    if (line.find(u'=') == std::u16string_view::npos) {
      if (!trimmed.empty()) {
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
    std::size_t close = text.find(u']', start + 1);
    const bool closedOnLine = close != std::u16string_view::npos && close < start + line.size();
    if (close == std::u16string_view::npos) close = text.size();
    const std::u16string_view headerText = text.substr(start + 1, close - start - 1);
    ++headersSeen_;

    const std::u16string before = replay_.currentSectionPrefix();
    const std::size_t colon = headerText.find(u':');
    const std::u16string_view name = headerText.substr(0, colon);

    // What the parser does, fed to the replay store as one line. A header text that runs
    // over line ends holds them; a line feed stands in for each carriage return, which
    // keeps the header on one line with the same (non-identifier) character.
    std::u16string header = u"[" + std::u16string(headerText) + u"]";
    std::replace(header.begin(), header.end(), u'\r', u'\n');
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
      const auto [first, last] = trimmedRange(name);
      const std::u16string_view inner = name.substr(first, last - first);
      if (!inner.empty() && isIdentifier(inner)) {
        message += "; write '[" + toUtf8(inner) + "]'";
      }
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
                    toUtf8(section) + "' instead");
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
    if (copied == 0 && parentPattern != u"/") {
      std::vector<std::u16string_view> sections;
      std::vector<std::u16string> names;
      for (const auto& [key, value] : entriesBefore) {
        const std::size_t slash = key.find(u'/');
        if (slash > 0 && slash != std::u16string::npos) names.push_back(key.substr(0, slash));
      }
      names.erase(std::unique(names.begin(), names.end()), names.end());
      for (const std::u16string& n : names) sections.push_back(n);
      std::string message =
          "section '" + toUtf8(parentPattern.substr(0, parentPattern.size() - 1)) +
          "' has no entries above this line, so nothing is copied into '" + toUtf8(section) + "'";
      const std::u16string suggestion =
          closestMatch(parentPattern.substr(0, parentPattern.size() - 1), sections);
      if (!suggestion.empty()) message += "; did you mean '" + toUtf8(suggestion) + "'?";
      c_.report(start + 1 + colon + 1, Severity::Warning, "section-parent-empty",
                std::move(message));
    }
  }

  void checkEntry(std::size_t start, std::u16string_view line) {
    const std::size_t equals = line.find(u'=');
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
    const std::size_t open = value.find(u'"');
    const std::size_t close = value.rfind(u'"');
    if (open == std::u16string::npos || open == close) {
      const std::size_t at = open == std::u16string::npos ? valueBase : valueBase + open;
      c_.report(at, Severity::Error, "unquoted-value",
                std::string(open == std::u16string::npos ? "value is not in double quotes"
                                                         : "value has only one double quote") +
                    ": the installer skips the line; write " + toUtf8(name) + " = \"...\"" +
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

    // The value as the parser unescapes it, with the text offset of every character.
    const std::u16string raw = value.substr(open + 1, close - open - 1);
    const std::size_t rawOffset = valueBase + open + 1;
    const std::u16string fullKey = prefix + foldLower(name);
    const ValueKind kind = valueKindOf(fullKey);
    const bool pathLike = isPathKind(kind) || (kind == ValueKind::Unknown && looksLikePath(raw));
    EntryOrigin origin;
    origin.offset = nameOffset;
    origin.rawValue = raw;
    origin.rawValueOffset = rawOffset;
    std::u16string unescaped;
    std::size_t literalQuote = std::u16string::npos;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == u'\\' && i + 1 < raw.size()) {
        if (const Escape* escape = findEscape(raw[i + 1])) {
          if (pathLike && escape->written != u'\\' && escape->written != u'"') {
            const std::string written = toUtf8(std::u16string(1, escape->written));
            c_.report(rawOffset + i, Severity::Warning, "path-escape",
                      "'\\" + written + "' in this path becomes " +
                          describeCharacter(escape->meaning) + "; write '\\\\" + written +
                          "' to keep the backslash");
          }
          unescaped.push_back(escape->meaning);
          origin.valueOffsets.push_back(rawOffset + i);
          ++i;
          continue;
        }
      }
      if (raw[i] == u'"' && literalQuote == std::u16string::npos) literalQuote = i;
      unescaped.push_back(raw[i]);
      origin.valueOffsets.push_back(rawOffset + i);
    }
    if (literalQuote != std::u16string::npos) {
      const std::u16string_view rest = std::u16string_view(raw).substr(literalQuote + 1);
      const bool commentFollows = rest.find(u";") != std::u16string_view::npos ||
                                  rest.find(u"//") != std::u16string_view::npos ||
                                  rest.find(u"#") != std::u16string_view::npos;
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

    checkReferences(unescaped, origin.valueOffsets, prefix);
    origin.value = unescaped;

    if (name.empty()) {
      c_.report(nameOffset, Severity::Warning, "empty-name",
                "entry without a name: its value is stored under '" + toUtf8(prefix) +
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

    feed(replay_, line);
    c_.origins.insert_or_assign(fullKey, std::move(origin));
  }

  static bool looksLikePath(std::u16string_view raw) {
    if (!raw.empty() && raw.front() == u'\\') return true;
    if (raw.find(u"%\\") != std::u16string_view::npos) return true;
    for (std::size_t i = 0; i + 1 < raw.size(); ++i) {
      if (raw[i] == u'\\' && findEscape(raw[i + 1]) == nullptr) return true;
      if (raw[i] == u'\\' && raw[i + 1] == u'\\') return true;
    }
    return false;
  }

  void checkReferences(std::u16string_view value, const std::vector<std::size_t>& offsets,
                       const std::u16string& prefix) {
    std::size_t from = 0;
    for (;;) {
      const std::size_t open = value.find(u"${", from);
      if (open == std::u16string_view::npos) return;
      const std::size_t close = value.find(u'}', open);
      if (close == std::u16string_view::npos) {
        c_.report(offsets[open], Severity::Warning, "reference-unfinished",
                  "'${' without a closing '}': the installer leaves it and the rest of the "
                  "value as written");
        return;
      }
      const std::u16string name(value.substr(open + 2, close - open - 2));
      const bool absolute = name.find(u'/') != std::u16string::npos;
      const std::u16string lookupKey = absolute ? name : prefix + name;
      if (!replay_.hasKey(lookupKey)) {
        pending_.push_back({offsets[open], name, lookupKey, prefix,
                            !absolute && prefix != u"/" && replay_.hasKey(u"/" + name)});
      }
      from = close + 1;
    }
  }

  void judgeReferences() {
    for (const PendingReference& ref : pending_) {
      const std::string written = "'${" + toUtf8(ref.name) + "}'";
      const bool absolute = ref.name.find(u'/') != std::u16string::npos;
      const std::u16string target = foldLower(ref.lookupKey);
      if (!absolute && ref.sectionBase != u"/" &&
          (ref.globalAbove || c_.store.entries().count(u"/" + foldLower(ref.name)) > 0)) {
        c_.report(ref.offset, Severity::Error, "reference-global",
                  written + " looks up '" + toUtf8(target) +
                      "'; from a named section a name without '/' never reaches the global "
                      "entry '" +
                      toUtf8(ref.name) + "', so it expands to the empty text: write '${/" +
                      toUtf8(ref.name) + "}'");
        continue;
      }
      std::string message;
      if (c_.store.hasKey(target)) {
        message =
            written + " refers to '" + toUtf8(target) + "', which is set only further down (line " +
            std::to_string(c_.positions.lineOf(
                c_.offsetOfKey(c_.store.entries().count(target) > 0 ? target : u"/" + target))) +
            "): a reference sees only the lines above it, so it expands to the empty "
            "text";
      } else {
        message = written + " refers to '" + toUtf8(target) +
                  "', which is not set: it expands to the empty text";
        std::vector<std::u16string_view> candidates;
        std::u16string sameName;  // an entry of that name in another section
        const std::u16string tail = u"/" + foldLower(ref.name);
        for (const auto& [key, value] : c_.store.entries()) {
          const std::u16string_view view(key);
          candidates.push_back(view.front() == u'/' ? view.substr(1) : view);
          if (!absolute && sameName.empty() && view.front() != u'/' && view.size() > tail.size() &&
              view.substr(view.size() - tail.size()) == tail) {
            sameName = key;
          }
        }
        std::u16string suggestion = sameName.empty() ? closestMatch(target, candidates) : sameName;
        if (!suggestion.empty()) message += "; did you mean '${" + toUtf8(suggestion) + "}'?";
      }
      c_.report(ref.offset, Severity::Error, "reference-undefined", std::move(message));
    }
  }

  Context& c_;
  ConfigStore replay_;
  std::map<std::u16string, std::size_t> explicitLines_;  // full key -> offset of its line
  std::vector<PendingReference> pending_;
  int headersSeen_ = 0;
  bool warnedGlobalBeforeHeader_ = false;
};

}  // namespace

void checkLines(Context& context) {
  // What the installer holds: the whole text through its own parser.
  std::vector<std::uint8_t> bytes{0xFF, 0xFE};
  for (char16_t c : context.input.text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  context.store.parseText(bytes.data(), bytes.size());

  LineChecker(context).run();
}

}  // namespace autorun::host::lint
