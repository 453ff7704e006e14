// Registry value bytes as the registry stores them, for the simulated registry's tests.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace autorun::sim::registry_test {

// A text value's data: UTF-16LE with its terminating NUL.
inline std::vector<std::uint8_t> utf16Bytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

}  // namespace autorun::sim::registry_test
