// The installer's one in-memory configuration: full keys (folded to lower case) mapped to
// UTF-16 values, with the queries, rewrites and the text parser that fill and read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/config_syntax.h"
#include "base/wide_text.h"

namespace autorun {

class ConfigStore {
 public:
  using Entries = std::map<std::u16string, std::u16string, CodeUnitLess>;

  ConfigStore();

  // References may pull in at most this many code units in all between two clears: 335
  // times a whole configuration file (at most 49999 code units), which no real
  // configuration comes near, while a chain of entries that each refer twice to the one
  // before (doubling at every step) stops here instead of exhausting memory. Reaching it
  // leaves the reference unexpanded and marks the store (expansionLimitReached), so that
  // loading refuses the configuration rather than use it altered.
  static constexpr std::size_t kExpansionAllowance = std::size_t{1} << 24;

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
  // Whether a reference was left unexpanded because references had pulled in
  // kExpansionAllowance code units since the last clear.
  bool expansionLimitReached() const { return expansionLimitReached_; }

 private:
  std::u16string expandReferences(std::u16string_view keyPath, std::u16string value);
  // Expands the value's references and stores it under a key that is already folded.
  void storeFolded(std::u16string foldedKey, std::u16string value);
  const std::u16string* lookup(std::u16string_view keyPath) const;
  // `colon` is the offset of the header text's first ":", or npos.
  void parseSectionHeader(std::u16string_view headerText, std::size_t colon);
  void parseEntryLine(std::u16string_view line);
  void copySection(std::u16string_view parentName, std::u16string_view sectionName);

  Entries entries_;
  std::size_t expansionAllowance_ = kExpansionAllowance;
  bool expansionLimitReached_ = false;
  std::u16string sectionPrefix_;
};

}  // namespace autorun
