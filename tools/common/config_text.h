// Configuration files on the host: plain source text to and from the enciphered form that
// the installer reads (UTF-16LE with its byte-order mark, RC4 under the configuration key).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autorun::host {

// Whether `bytes` is plain configuration source: UTF-16LE with its byte-order mark (and
// an even length), or valid UTF-8 with or without its byte-order mark.
bool isConfigurationSource(std::string_view bytes);

// Plain source (as above) to UTF-16 text without byte-order mark, every line end (LF,
// CR LF or a lone CR) written as CR LF. Invalid UTF-8 becomes U+FFFD.
std::u16string decodeConfigurationSource(std::string_view bytes);

// The file the installer reads: byte-order mark, UTF-16LE text, enciphered with `key`.
std::vector<std::uint8_t> encipherConfigurationText(std::u16string_view text, std::string_view key);

// The text of an enciphered file (without its byte-order mark); nothing when the
// deciphered bytes do not begin with the mark, i.e. the file is not one for this key.
std::optional<std::u16string> decipherConfigurationFile(std::string_view bytes,
                                                        std::string_view key);

}  // namespace autorun::host
