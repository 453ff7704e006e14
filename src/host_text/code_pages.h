// Conversion of device text to the device's default multibyte code page.
#pragma once

#include <string>
#include <string_view>

namespace autorun::host {

inline constexpr int kCodePageUtf8 = 65001;

// The single-byte Windows code pages 874 and 1250 to 1258, and UTF-8 (65001).
bool isSupportedCodePage(int codePage);
// The text in that code page; a character it cannot represent becomes '?'.
std::string toCodePage(std::u16string_view text, int codePage);

}  // namespace autorun::host
