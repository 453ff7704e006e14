// The configuration language: section headers, comments and entry lines, parsed into the
// store line by line.
#include <algorithm>
#include <vector>

#include "base/config_store.h"
#include "base/wide_text.h"

namespace autorun {

namespace {

constexpr std::u16string_view kCommentMarkers[] = {u";", u"//", u"#"};
constexpr char16_t kHeaderSeparator = u':';

struct Escape {
  char16_t written;
  char16_t meaning;
};
constexpr Escape kEscapes[] = {{u'n', u'\n'}, {u'"', u'"'},   {u't', u'\t'},
                               {u'r', u'\r'}, {u'\\', u'\\'}, {u'b', u'\b'}};

bool isComment(std::u16string_view line) {
  return std::any_of(
      std::begin(kCommentMarkers), std::end(kCommentMarkers),
      [line](std::u16string_view marker) { return line.substr(0, marker.size()) == marker; });
}

// Tabs count as spaces in entry lines.
char16_t spaced(char16_t c) {
  return c == u'\t' ? u' ' : c;
}

// The text without leading and trailing spaces (tabs included).
std::u16string_view trimmed(std::u16string_view text) {
  const std::size_t first = text.find_first_not_of(u" \t");
  if (first == std::u16string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(u" \t");
  return text.substr(first, last - first + 1);
}

// The value text between the quotes, tabs as spaces and escapes replaced.
std::u16string unescaped(std::u16string_view value) {
  std::u16string out;
  out.reserve(value.size());
  std::size_t i = 0;
  while (i < value.size()) {
    // Plain runs are copied whole.
    const std::size_t special = value.find_first_of(u"\\\t", i);
    const std::size_t runEnd = special == std::u16string_view::npos ? value.size() : special;
    out.append(value.substr(i, runEnd - i));
    i = runEnd;
    if (i == value.size()) break;

    const char16_t c = spaced(value[i]);
    if (c == u'\\' && i + 1 < value.size()) {
      const char16_t next = spaced(value[i + 1]);
      const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                        [next](const Escape& e) { return e.written == next; });
      if (escape != std::end(kEscapes)) {
        out.push_back(escape->meaning);
        i += 2;  // a character produced by an escape never starts another one
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

}  // namespace

bool ConfigStore::parseText(const std::uint8_t* bytes, std::size_t count) {
  if (bytes == nullptr || count < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return false;

  // The text after the mark, up to the first code unit 0.
  const std::size_t units = count / 2 - 1;
  std::u16string text(units, u'\0');
  std::size_t length = 0;
  for (; length < units; ++length) {
    const auto c = static_cast<char16_t>(bytes[2 + 2 * length] | (bytes[3 + 2 * length] << 8));
    if (c == 0) break;
    text[length] = c;
  }
  text.resize(length);
  const std::u16string_view all(text);
  const std::size_t end = all.size();

  // Header texts may run across line ends, so the next "]" and ":" are found once and
  // reused by every header before them.
  std::size_t lineStart = 0;
  std::size_t nextClose = 0;
  std::size_t nextColon = 0;
  for (;;) {
    if (lineStart < end && all[lineStart] == u'[') {
      if (nextClose <= lineStart) {
        nextClose = std::min(all.find(u']', lineStart + 1), end);
      }
      if (nextColon <= lineStart) {
        nextColon = std::min(all.find(kHeaderSeparator, lineStart + 1), end);
      }
      const std::size_t headerStart = lineStart + 1;
      parseSectionHeader(
          all.substr(headerStart, nextClose - headerStart),
          nextColon < nextClose ? nextColon - headerStart : std::u16string_view::npos);
    }

    std::u16string_view line;
    bool last = false;
    const std::size_t cr =
        lineStart < end ? findUnit(all, u'\r', lineStart) : std::u16string_view::npos;
    if (cr != std::u16string_view::npos) {
      line = all.substr(lineStart, cr - lineStart);
    } else {
      if (lineStart > end) break;
      line = all.substr(lineStart);
      last = true;
    }

    if (!isComment(line) && findUnit(line, u'=') != std::u16string_view::npos) parseEntryLine(line);

    if (last) break;
    lineStart = cr + 2;  // the code unit after the carriage return is skipped unlooked
  }
  return true;
}

void ConfigStore::parseSectionHeader(std::u16string_view headerText, std::size_t colon) {
  std::u16string_view name = headerText;
  std::u16string_view parent;
  const bool hasParent = colon != std::u16string_view::npos;
  if (hasParent) {
    name = headerText.substr(0, colon);
    parent = headerText.substr(colon + 1);
    if (parent.empty() || !isIdentifier(parent)) parent = u"/";
  }
  if (name.empty()) {
    sectionPrefix_ = u"/";
    return;
  }
  if (!isIdentifier(name)) return;
  sectionPrefix_ = foldLower(name) + u"/";
  if (hasParent) copySection(parent, name);
}

void ConfigStore::copySection(std::u16string_view parentName, std::u16string_view sectionName) {
  const std::u16string parent = foldLower(parentName);
  const std::u16string section = foldLower(sectionName);
  const std::u16string from = parent == u"/" ? parent : parent + u"/";
  const std::u16string to = section + u"/";
  if (from == to) return;  // copying a section onto itself changes nothing

  // Gather first: the new keys never fall inside the parent's range, but inserting while
  // walking a map range is easy to get wrong.
  std::vector<std::pair<std::u16string, std::u16string>> copies;
  for (auto it = entries_.lower_bound(from); it != entries_.end(); ++it) {
    if (it->first.compare(0, from.size(), from) != 0) break;
    copies.emplace_back(to + it->first.substr(from.size()), it->second);
  }
  for (auto& [key, value] : copies) entries_.insert_or_assign(std::move(key), std::move(value));
}

void ConfigStore::parseEntryLine(std::u16string_view line) {
  const std::size_t equals = findUnit(line, u'=');
  const std::u16string_view name = trimmed(line.substr(0, equals));
  if (!isIdentifier(name)) return;

  // Trimming the value text cannot move its quotes, so they are found untrimmed.
  const std::u16string_view valueText = line.substr(equals + 1);
  const std::size_t first = valueText.find(u'"');
  const std::size_t last = valueText.rfind(u'"');
  if (first == std::u16string_view::npos || first == last) return;

  // The name holds ASCII identifier characters only.
  std::u16string key;
  key.reserve(sectionPrefix_.size() + name.size());
  key += sectionPrefix_;
  for (char16_t c : name) key.push_back(c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c);
  storeFolded(std::move(key), unescaped(valueText.substr(first + 1, last - first - 1)));
}

}  // namespace autorun
