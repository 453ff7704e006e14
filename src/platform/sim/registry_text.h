// What the reader and the writer of registry files (registry_text.cpp,
// registry_writer.cpp) share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace autorun::sim {

inline constexpr std::u16string_view kRegistryHeader5 = u"Windows Registry Editor Version 5.00";
inline constexpr std::u16string_view kRegistryHeader4 = u"REGEDIT4";

// Types whose data is a text (1, 2 and 7): in a "REGEDIT4" file their hex bytes are in the
// file's charset rather than UTF-16.
bool isRegistryTextType(std::uint32_t type);

// Text for an error message, in UTF-8: quotes, backslashes, control characters and lone
// surrogates escaped, cut after 60 characters.
std::string escapedText(std::u16string_view text);
// The same for bytes that are not text in the file's charset: from 0x80 up as \xNN.
std::string escapedBytes(std::string_view bytes);

}  // namespace autorun::sim
