#include "common/config_text.h"

#include <utf8.h>

#include <array>

#include "base/config_codec.h"
#include "host_text/code_pages.h"
#include "host_text/utf.h"

namespace autorun::host {

namespace {

bool hasUtf8Mark(std::string_view bytes) {
  return bytes.substr(0, 3) == "\xEF\xBB\xBF";
}

std::u16string utf16From(std::string_view bytes, bool littleEndian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
    const auto first = static_cast<unsigned char>(bytes[k]);
    const auto second = static_cast<unsigned char>(bytes[k + 1]);
    text.push_back(
        static_cast<char16_t>(littleEndian ? first | (second << 8) : (first << 8) | second));
  }
  return text;
}

// UTF-16 without a byte-order mark: most code units of a configuration are ASCII, so one
// byte of nearly every pair is 0, and the other one nearly never.
std::optional<SourceEncoding> guessUtf16(std::string_view bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return std::nullopt;
  std::size_t zeroEven = 0;
  std::size_t zeroOdd = 0;
  for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
    if (bytes[k] == 0) ++zeroEven;
    if (bytes[k + 1] == 0) ++zeroOdd;
  }
  const std::size_t pairs = bytes.size() / 2;
  if (zeroOdd * 2 >= pairs && zeroEven * 8 <= pairs) return SourceEncoding::Utf16LittleEndian;
  if (zeroEven * 2 >= pairs && zeroOdd * 8 <= pairs) return SourceEncoding::Utf16BigEndian;
  return std::nullopt;
}

std::u16string withCrLf(std::u16string_view raw, bool& rewritten) {
  std::u16string text;
  text.reserve(raw.size() + raw.size() / 16);
  for (std::size_t k = 0; k < raw.size(); ++k) {
    const char16_t c = raw[k];
    if (c == u'\r' && k + 1 < raw.size() && raw[k + 1] == u'\n') {
      text += u"\r\n";
      ++k;
    } else if (c == u'\r' || c == u'\n') {
      text += u"\r\n";
      rewritten = true;
    } else {
      text.push_back(c);
    }
  }
  return text;
}

std::vector<std::uint8_t> rc4(const std::vector<std::uint8_t>& input, std::string_view key) {
  ConfigFileCodec codec(reinterpret_cast<const std::uint8_t*>(key.data()),
                        static_cast<std::uint32_t>(key.size()));
  ByteCodec::Buffer output;
  std::uint32_t count = 0;
  if (!codec.encode(input.data(), static_cast<std::uint32_t>(input.size()), output, count)) {
    return {};
  }
  return std::vector<std::uint8_t>(output.get(), output.get() + count);
}

}  // namespace

std::optional<ConfigurationSource> readConfigurationSource(std::string_view bytes) {
  ConfigurationSource source;
  const auto byte = [&bytes](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const bool markLe = bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
  const bool markBe = bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
  if (markLe || markBe) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    source.encoding = markLe ? SourceEncoding::Utf16LittleEndian : SourceEncoding::Utf16BigEndian;
    source.byteOrderMark = true;
    source.text = utf16From(bytes.substr(2), markLe);
    return source;
  }
  if (bytes.find('\0') != std::string_view::npos) {
    const std::optional<SourceEncoding> guessed = guessUtf16(bytes);
    if (!guessed) return std::nullopt;
    source.encoding = *guessed;
    source.text = utf16From(bytes, *guessed == SourceEncoding::Utf16LittleEndian);
    return source;
  }
  if (!utf8::is_valid(bytes.begin(), bytes.end())) return std::nullopt;
  source.byteOrderMark = hasUtf8Mark(bytes);
  if (source.byteOrderMark) bytes.remove_prefix(3);
  source.text = withCrLf(fromUtf8(bytes), source.lineEndsRewritten);
  return source;
}

bool isConfigurationSource(std::string_view bytes) {
  return readConfigurationSource(bytes).has_value();
}

std::u16string decodeConfigurationSource(std::string_view bytes) {
  std::optional<ConfigurationSource> source = readConfigurationSource(bytes);
  if (source) return std::move(source->text);
  bool rewritten = false;
  return withCrLf(fromUtf8(bytes), rewritten);
}

std::optional<BadByte> findBadUtf8(std::string_view bytes) {
  if (bytes.empty() || bytes.find('\0') != std::string_view::npos) return std::nullopt;
  std::optional<BadByte> first;
  std::size_t bad = 0;
  BadByte at;
  for (auto it = bytes.begin(); it != bytes.end();) {
    const auto start = it;
    if (utf8::internal::validate_next(it, bytes.end()) != utf8::internal::UTF8_OK) {
      ++bad;
      if (!first) {
        at.offset = static_cast<std::size_t>(start - bytes.begin());
        at.byte = static_cast<unsigned char>(*start);
        first = at;
      }
      it = start + 1;
      ++at.column;
      continue;
    }
    if (!first) {
      const char c = *start;
      const bool crLf = c == '\r' && it != bytes.end() && *it == '\n';
      if (c == '\n' || (c == '\r' && !crLf)) {
        ++at.line;
        at.column = 1;
      } else if (!crLf) {
        ++at.column;
      }
    }
  }
  if (!first || bad * 8 > bytes.size()) return std::nullopt;
  return first;
}

std::string windows1252Character(unsigned char byte) {
  if (byte < 0x80 || byte >= 0xA0) return toUtf8(std::u16string(1, static_cast<char16_t>(byte)));
  // The code page's own table, read back once: which character each byte 0x80 to 0x9F is.
  static const std::array<char16_t, 32> kHigh = [] {
    std::array<char16_t, 32> table{};
    for (char32_t c = 0x100; c < 0x10000; ++c) {
      if (c >= 0xD800 && c < 0xE000) continue;
      const std::string encoded = toCodePage(std::u16string(1, static_cast<char16_t>(c)), 1252);
      const auto b = encoded.size() == 1 ? static_cast<unsigned char>(encoded[0]) : 0;
      if (b >= 0x80 && b < 0xA0 && table[b - 0x80] == 0) table[b - 0x80] = static_cast<char16_t>(c);
    }
    return table;
  }();
  const char16_t c = kHigh[byte - 0x80];
  return c == 0 ? std::string() : toUtf8(std::u16string(1, c));
}

std::string describeBadByte(const BadByte& bad) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string message = "byte 0x";
  message.push_back(kHex[bad.byte >> 4]);
  message.push_back(kHex[bad.byte & 0xF]);
  message += " is not UTF-8";
  const std::string character = windows1252Character(bad.byte);
  if (!character.empty() && bad.byte >= 0x80) {
    message += " (in Windows-1252 it is '" + character + "')";
  }
  return message + ": save the file as UTF-8";
}

bool hasIrregularLineEnds(std::u16string_view text, int* line) {
  int current = 1;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const bool loneCr = text[k] == u'\r' && (k + 1 == text.size() || text[k + 1] != u'\n');
    const bool loneLf = text[k] == u'\n' && (k == 0 || text[k - 1] != u'\r');
    if (loneCr || loneLf) {
      if (line != nullptr) *line = current;
      return true;
    }
    if (text[k] == u'\n') ++current;
  }
  return false;
}

std::string utf16WithMark(std::u16string_view text) {
  std::string bytes{'\xFF', '\xFE'};
  bytes.reserve(2 + 2 * text.size());
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::vector<std::uint8_t> encipherConfigurationText(std::u16string_view text,
                                                    std::string_view key) {
  const std::string plain = utf16WithMark(text);
  return rc4(std::vector<std::uint8_t>(plain.begin(), plain.end()), key);
}

std::optional<std::u16string> decipherConfigurationFile(std::string_view bytes,
                                                        std::string_view key) {
  const std::vector<std::uint8_t> plain =
      rc4(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), key);
  if (plain.size() < 2 || plain[0] != 0xFF || plain[1] != 0xFE) return std::nullopt;
  return utf16From(
      std::string_view(reinterpret_cast<const char*>(plain.data()) + 2, plain.size() - 2), true);
}

}  // namespace autorun::host
