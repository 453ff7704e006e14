#include "base/config_syntax.h"

#include <algorithm>

#include "base/wide_text.h"

namespace autorun {

bool isIdentifierCharacter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
         c == u'_';
}

bool isIdentifier(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), isIdentifierCharacter);
}

const ConfigEscape* findEscape(char16_t written) {
  for (const ConfigEscape& escape : kEscapes) {
    if (escape.written == written) return &escape;
  }
  return nullptr;
}

std::optional<ConfigLine> configLineAt(std::u16string_view text, std::size_t start) {
  const std::size_t end = text.size();
  const std::size_t cr = start < end ? findUnit(text, kLineEnd, start) : std::u16string_view::npos;
  if (cr != std::u16string_view::npos) return ConfigLine{start, cr, cr + 2, false};
  if (start > end) return std::nullopt;
  return ConfigLine{start, end, end, true};
}

bool startsWithComment(std::u16string_view line) {
  return std::any_of(
      std::begin(kCommentMarkers), std::end(kCommentMarkers),
      [line](std::u16string_view marker) { return line.substr(0, marker.size()) == marker; });
}

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::pair<std::size_t, std::size_t> trimmedRange(std::u16string_view text) {
  std::size_t first = 0;
  while (first < text.size() && isBlank(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && isBlank(text[last - 1])) --last;
  return {first, last};
}

std::u16string_view trimmed(std::u16string_view text) {
  const auto [first, last] = trimmedRange(text);
  return text.substr(first, last - first);
}

std::u16string unescapeValue(std::u16string_view written, std::vector<std::size_t>* offsets) {
  const auto spaced = [](char16_t c) { return c == u'\t' ? u' ' : c; };
  std::u16string out;
  out.reserve(written.size());
  if (offsets != nullptr) offsets->reserve(written.size());
  std::size_t i = 0;
  while (i < written.size()) {
    // Plain runs are copied whole.
    const std::size_t special = written.find_first_of(u"\\\t", i);
    const std::size_t runEnd = special == std::u16string_view::npos ? written.size() : special;
    out.append(written.substr(i, runEnd - i));
    if (offsets != nullptr) {
      for (std::size_t k = i; k < runEnd; ++k) offsets->push_back(k);
    }
    i = runEnd;
    if (i == written.size()) break;

    const char16_t c = spaced(written[i]);
    if (offsets != nullptr) offsets->push_back(i);
    if (c == u'\\' && i + 1 < written.size()) {
      if (const ConfigEscape* escape = findEscape(spaced(written[i + 1]))) {
        out.push_back(escape->meaning);
        i += 2;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

}  // namespace autorun
