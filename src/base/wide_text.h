// Small helpers for the installer's UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace autorun {

// Folds one UTF-16 code unit to lower case, code unit by code unit as the device does:
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals.
char16_t foldLower(char16_t c);
// The text with every code unit folded to lower case.
std::u16string foldLower(std::u16string_view text);

// Whether `text` ends with `suffix`, code unit by code unit.
bool endsWith(std::u16string_view text, std::u16string_view suffix);

// The offset of the first code unit `unit` at or after `from`, or npos. Faster than
// std::u16string_view::find on long texts: the configuration's values are scanned for a
// handful of ASCII units many times over.
std::size_t findUnit(std::u16string_view text, char16_t unit, std::size_t from = 0);

// Code-unit order of UTF-16 keys (the order of std::u16string's operator<), comparing
// shared prefixes in blocks.
struct CodeUnitLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const;
};

// ASCII text widened to UTF-16 (for fixed texts and numbers).
std::u16string widen(std::string_view ascii);
// Decimal digits of a number, as "%d" or "%u" would print them.
std::u16string decimal(std::int64_t value);
std::u16string decimalUnsigned(std::uint64_t value);

}  // namespace autorun
