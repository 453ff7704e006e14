// UTF-8 <-> UTF-16 at the edges of the host programs (terminal, JSON, host file names).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace autorun::host {

// Whether every code unit is ASCII, so that each is one byte in UTF-8.
bool isAscii(std::u16string_view text);

// Whether a surrogate stands without its partner: no host name or UTF-8 text holds it.
bool hasLoneSurrogate(std::u16string_view text);

// Invalid sequences become U+FFFD.
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);
// Appends `text` to `out`, as fromUtf8 converts it.
void appendUtf8(std::string_view text, std::u16string& out);
// The text, or nothing when it is not valid UTF-8.
std::optional<std::u16string> fromUtf8Exactly(std::string_view text);

}  // namespace autorun::host
