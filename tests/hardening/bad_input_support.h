// What the bad-input tests share: configuration bytes made by hand, the small card
// configuration, the message boxes of a run and paths of a given length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/config_codec.h"
#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"
#include "support/test_keys.h"

namespace autorun::testing::hardening {

// UTF-16LE bytes of the text, after the byte-order mark if asked.
inline std::string utf16(std::u16string_view text, bool mark = true) {
  std::string out = mark ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

// The text with every LF turned into CR LF.
inline std::u16string withCrLf(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return host::fromUtf8(out);
}

// The bytes enciphered under the key, as the configuration file is.
inline std::string encipher(std::string_view plain, std::string_view key) {
  ConfigFileCodec codec(reinterpret_cast<const std::uint8_t*>(key.data()),
                        static_cast<std::uint32_t>(key.size()));
  ByteCodec::Buffer out;
  std::uint32_t count = 0;
  codec.encode(reinterpret_cast<const std::uint8_t*>(plain.data()),
               static_cast<std::uint32_t>(plain.size()), out, count);
  return std::string(reinterpret_cast<const char*>(out.get()), count);
}

inline constexpr char kSmallConfiguration[] = R"([common]
brand = "Atlas"
website = "atlas.example"
[registry]
installed = "HKLM\\Software\\Atlas\\Installed"
cardpath = "HKLM\\Software\\Atlas\\CardPath"
[install]
title = "%s setup"
question = "Install %s?"
[uninstall]
title = "%s removal"
question = "Remove %s?"
ready = "%s has been removed."
)";

// The message boxes of a run, in order.
inline std::vector<std::string> messageBoxes(const sim::SimPlatform& device) {
  std::vector<std::string> texts;
  for (const nlohmann::json& entry : device.trace()) {
    if (entry.value("op", "") == "message_box") texts.push_back(entry.value("text", ""));
  }
  return texts;
}

// `prefix`, then folders of "d", then `tail`: exactly `length` characters.
inline std::u16string pathOf(std::u16string_view prefix, std::size_t length,
                             std::u16string_view tail) {
  std::u16string path(prefix);
  std::size_t left = length - prefix.size() - tail.size();
  while (left > 0) {
    std::size_t part = std::min<std::size_t>(left, 41);
    if (left - part == 1) --part;  // never leave a lone backslash
    path += u"\\" + std::u16string(part - 1, u'd');
    left -= part;
  }
  return path + std::u16string(tail);
}

}  // namespace autorun::testing::hardening
