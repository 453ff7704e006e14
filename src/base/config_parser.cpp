// The configuration language: section headers, comments and entry lines, parsed into the
// store line by line.
#include <algorithm>
#include <vector>

#include "base/config_store.h"
#include "base/config_syntax.h"
#include "base/wide_text.h"

namespace autorun {

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
    if (lineStart < end && all[lineStart] == kHeaderOpen) {
      if (nextClose <= lineStart) {
        nextClose = std::min(all.find(kHeaderClose, lineStart + 1), end);
      }
      if (nextColon <= lineStart) {
        nextColon = std::min(all.find(kHeaderSeparator, lineStart + 1), end);
      }
      const std::size_t headerStart = lineStart + 1;
      parseSectionHeader(
          all.substr(headerStart, nextClose - headerStart),
          nextColon < nextClose ? nextColon - headerStart : std::u16string_view::npos);
    }

    const std::optional<ConfigLine> line = configLineAt(all, lineStart);
    if (!line) break;
    const std::u16string_view lineText = all.substr(line->start, line->end - line->start);
    if (!startsWithComment(lineText) &&
        findUnit(lineText, kEntrySeparator) != std::u16string_view::npos) {
      parseEntryLine(lineText);
    }
    if (line->last) break;
    lineStart = line->next;
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
  const std::size_t equals = findUnit(line, kEntrySeparator);
  const std::u16string_view name = trimmed(line.substr(0, equals));
  if (!isIdentifier(name)) return;

  // Trimming the value text cannot move its quotes, so they are found untrimmed.
  const std::u16string_view valueText = line.substr(equals + 1);
  const std::size_t first = valueText.find(kValueQuote);
  const std::size_t last = valueText.rfind(kValueQuote);
  if (first == std::u16string_view::npos || first == last) return;

  // The name holds ASCII identifier characters only.
  std::u16string key;
  key.reserve(sectionPrefix_.size() + name.size());
  key += sectionPrefix_;
  for (char16_t c : name) key.push_back(c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c);
  storeFolded(std::move(key), unescapeValue(valueText.substr(first + 1, last - first - 1)));
}

}  // namespace autorun
