// Conversion of device text to and from the device's default multibyte code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace autorun::host {

inline constexpr int kCodePageUtf8 = 65001;

// The single-byte Windows code pages 874 and 1250 to 1258, and UTF-8 (65001).
bool isSupportedCodePage(int codePage);
// The text in that code page; a character it cannot represent becomes '?'.
std::string toCodePage(std::u16string_view text, int codePage);
// The text in that code page, or nothing when a character has no place in it (for UTF-8:
// a lone surrogate) or the code page is not supported.
std::optional<std::string> toCodePageExactly(std::u16string_view text, int codePage);
// Bytes in that code page as text, or nothing when a byte is not a character of it (a
// byte the table leaves undefined; for UTF-8: an invalid sequence).
std::optional<std::u16string> fromCodePage(std::string_view bytes, int codePage);

}  // namespace autorun::host
