// Configuration text as the parser receives it: the byte-order mark, then UTF-16LE.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/config_store.h"

namespace autorun::testing {

inline std::vector<std::uint8_t> utf16WithMark(std::u16string_view text) {
  std::vector<std::uint8_t> bytes{0xFF, 0xFE};
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

inline bool parse(ConfigStore& store, std::u16string_view text) {
  const std::vector<std::uint8_t> bytes = utf16WithMark(text);
  return store.parseText(bytes.data(), bytes.size());
}

}  // namespace autorun::testing
