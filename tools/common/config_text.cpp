#include "common/config_text.h"

#include <utf8.h>

#include "base/config_codec.h"
#include "host_text/utf.h"

namespace autorun::host {

namespace {

bool hasUtf16Mark(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

bool hasUtf8Mark(std::string_view bytes) {
  return bytes.substr(0, 3) == "\xEF\xBB\xBF";
}

std::u16string utf16FromLittleEndian(const std::uint8_t* bytes, std::size_t count) {
  std::u16string text;
  text.reserve(count / 2);
  for (std::size_t k = 0; k + 1 < count; k += 2) {
    text.push_back(static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8)));
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

bool isConfigurationSource(std::string_view bytes) {
  if (hasUtf16Mark(bytes)) return bytes.size() % 2 == 0;
  return utf8::is_valid(bytes.begin(), bytes.end());
}

std::u16string decodeConfigurationSource(std::string_view bytes) {
  std::u16string raw;
  if (hasUtf16Mark(bytes)) {
    raw = utf16FromLittleEndian(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2,
                                bytes.size() - 2);
  } else {
    if (hasUtf8Mark(bytes)) bytes.remove_prefix(3);
    raw = fromUtf8(bytes);
  }

  std::u16string text;
  text.reserve(raw.size() + raw.size() / 16);
  for (std::size_t k = 0; k < raw.size(); ++k) {
    const char16_t c = raw[k];
    if (c == u'\r') {
      text += u"\r\n";
      if (k + 1 < raw.size() && raw[k + 1] == u'\n') ++k;
    } else if (c == u'\n') {
      text += u"\r\n";
    } else {
      text.push_back(c);
    }
  }
  return text;
}

std::vector<std::uint8_t> encipherConfigurationText(std::u16string_view text,
                                                    std::string_view key) {
  std::vector<std::uint8_t> plain;
  plain.reserve(2 + 2 * text.size());
  plain.push_back(0xFF);
  plain.push_back(0xFE);
  for (char16_t c : text) {
    plain.push_back(static_cast<std::uint8_t>(c & 0xFF));
    plain.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return rc4(plain, key);
}

std::optional<std::u16string> decipherConfigurationFile(std::string_view bytes,
                                                        std::string_view key) {
  const std::vector<std::uint8_t> plain =
      rc4(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), key);
  if (plain.size() < 2 || plain[0] != 0xFF || plain[1] != 0xFE) return std::nullopt;
  return utf16FromLittleEndian(plain.data() + 2, plain.size() - 2);
}

}  // namespace autorun::host
