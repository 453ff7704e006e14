#include "host_text/escape.h"
#include "host_text/utf.h"

namespace autorun::host {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void hexByte(unsigned char c, std::string& out) {
  out += "\\x";
  out.push_back(kHex[c >> 4]);
  out.push_back(kHex[c & 0xF]);
}

// The length of the well-formed UTF-8 sequence at `at` (2 to 4), or 0 when it is not one.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;   // the second byte's range, which rules out overlong forms,
  unsigned char high = 0xBF;  // surrogates and code points beyond U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string escapeControls(std::string_view utf8, LineBreaks lineBreaks) {
  const bool keepLines = lineBreaks == LineBreaks::Kept;
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[at]);
    if (c >= 0x80) {
      const std::size_t length = sequenceLength(utf8, at);
      if (length == 0) {
        hexByte(c, out);
        ++at;
      } else if (c == 0xC2 && static_cast<unsigned char>(utf8[at + 1]) < 0xA0) {
        out += "\\u00";  // C1: U+0080 to U+009F
        out.push_back(kHex[static_cast<unsigned char>(utf8[at + 1]) >> 4]);
        out.push_back(kHex[utf8[at + 1] & 0xF]);
        at += 2;
      } else {
        out.append(utf8.substr(at, length));
        at += length;
      }
      continue;
    }
    ++at;
    switch (c) {
      case '\n':
        out += keepLines ? "\n" : "\\n";
        break;
      case '\r':
        if (keepLines && at < utf8.size() && utf8[at] == '\n') break;  // CR LF: one break
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          hexByte(c, out);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

std::string escapeControls(std::u16string_view text, LineBreaks lineBreaks) {
  return escapeControls(toUtf8(text), lineBreaks);
}

}  // namespace autorun::host
