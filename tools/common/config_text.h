// Configuration files on the host: plain source text to and from the enciphered form that
// the installer reads (UTF-16LE with its byte-order mark, RC4 under the configuration key).
//
// A source is UTF-8 (with or without its byte-order mark) or UTF-16 (little or big endian,
// with or without its mark). UTF-8 is text for an editor: every line end (LF, CR LF or a
// lone CR) becomes CR LF, as the installer needs. UTF-16 is taken code unit for code unit,
// line ends included, since it is the form the installer itself reads; `decode` writes
// that form for a text whose line ends UTF-8 could not carry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autorun::host {

enum class SourceEncoding { Utf8, Utf16LittleEndian, Utf16BigEndian };

struct ConfigurationSource {
  // The text after the byte-order mark as the installer will read it.
  std::u16string text;
  SourceEncoding encoding = SourceEncoding::Utf8;
  bool byteOrderMark = false;
  // A UTF-8 source whose line ends were not all CR LF.
  bool lineEndsRewritten = false;
};

// The source's text, or nothing when the bytes are no source: invalid UTF-8 (see
// findBadUtf8), NUL bytes in what is not UTF-16, an odd number of bytes of UTF-16.
std::optional<ConfigurationSource> readConfigurationSource(std::string_view bytes);

// Shorthands of the above.
bool isConfigurationSource(std::string_view bytes);
std::u16string decodeConfigurationSource(std::string_view bytes);

// The first byte that is not part of valid UTF-8, in bytes that are otherwise text (no NUL
// byte, at most one byte in eight invalid): a file saved in a single-byte code page.
struct BadByte {
  std::size_t offset = 0;
  int line = 1;    // 1-based, lines ended by LF, CR LF or CR
  int column = 1;  // 1-based, in characters
  unsigned char byte = 0;
};
std::optional<BadByte> findBadUtf8(std::string_view bytes);
// The character that a byte stands for in Windows-1252, as UTF-8 ("" for the five bytes
// that code page leaves unused).
std::string windows1252Character(unsigned char byte);
// "byte 0xE9 is not UTF-8 (in Windows-1252 it is 'é'): save the file as UTF-8"
std::string describeBadByte(const BadByte& bad);

// Whether the text holds a line end that UTF-8 source cannot carry through `encode`: a
// carriage return without a line feed after it, or a line feed without one before it.
// `line` is the 1-based line of the first (lines ended at LF, CR LF or CR).
bool hasIrregularLineEnds(std::u16string_view text, int* line = nullptr);

// The file the installer reads: byte-order mark, UTF-16LE text, enciphered with `key`.
std::vector<std::uint8_t> encipherConfigurationText(std::u16string_view text, std::string_view key);

// The text of an enciphered file (without its byte-order mark); nothing when the
// deciphered bytes do not begin with the mark, i.e. the file is not one for this key.
std::optional<std::u16string> decipherConfigurationFile(std::string_view bytes,
                                                        std::string_view key);

// UTF-16LE with its byte-order mark, as the installer reads it once deciphered.
std::string utf16WithMark(std::u16string_view text);

}  // namespace autorun::host
