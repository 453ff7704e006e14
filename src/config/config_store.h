// The installer's one in-memory configuration: full keys (folded to lower case) mapped to
// UTF-16 values, with the queries, rewrites and the text parser that fill and read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace autorun {

class ConfigStore {
 public:
  using Entries = std::map<std::u16string, std::u16string>;  // ordered by UTF-16 code units

  ConfigStore();

  // ---- Queries (never fail) ----
  std::u16string getString(std::u16string_view keyPath, std::u16string_view defaultValue) const;
  std::int32_t getInt(std::u16string_view keyPath, std::int32_t defaultValue) const;
  bool hasKey(std::u16string_view keyPath) const;

  // ---- Rewrites ----
  // Expands the value's references with `keyPath` as context, folds the key and stores.
  void setValue(std::u16string_view keyPath, std::u16string_view value);
  // Replaces the first "%s" of an existing entry's value by `text`.
  void fillPlaceholder(std::u16string_view keyPath, std::u16string_view text);
  // Replaces the placeholder %name% where it is the first pair of percent signs of a value.
  void applyVariable(std::u16string_view name, std::u16string_view text);
  // Full keys that a section pattern selects ("*", a section name, "" or "/"), in order.
  std::vector<std::u16string> listKeys(std::u16string_view sectionPattern) const;
  // Removes every entry; the current section prefix stays.
  void clear();

  // ---- Parser ----
  // Parses a decoded configuration text (UTF-16LE with the byte-order mark) into the
  // store. False, with nothing changed, when the mark is missing.
  bool parseText(const std::uint8_t* bytes, std::size_t count);

  // ---- Inspection (tools and tests) ----
  const Entries& entries() const { return entries_; }
  const std::u16string& currentSectionPrefix() const { return sectionPrefix_; }

 private:
  std::u16string expandReferences(std::u16string_view keyPath, std::u16string value) const;
  const std::u16string* lookup(std::u16string_view keyPath) const;
  void parseSectionHeader(std::u16string_view headerText);
  void parseEntryLine(std::u16string_view line);
  void copySection(std::u16string_view parentName, std::u16string_view sectionName);

  Entries entries_;
  std::u16string sectionPrefix_;
};

// The parser's fixed tables.
inline constexpr std::u16string_view kIdentifierCharacters =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
bool isIdentifierCharacter(char16_t c);
bool isIdentifier(std::u16string_view text);  // true for the empty text

}  // namespace autorun
