#include "common/shown_text.h"

#include "host_text/utf.h"

namespace autorun::host {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

}  // namespace

std::string escapeControls(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t k = 0; k < utf8.size(); ++k) {
    const auto c = static_cast<unsigned char>(utf8[k]);
    switch (c) {
      case '\n':
        out += "\\n";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\b':
        out += "\\b";
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else if (c == 0xC2 && k + 1 < utf8.size() &&
               static_cast<unsigned char>(utf8[k + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[k + 1]) <= 0x9F) {
      // U+0080 to U+009F are the two bytes C2 80 to C2 9F.
      const auto low = static_cast<unsigned char>(utf8[++k]);
      out += "\\u00";
      out.push_back(kHex[low >> 4]);
      out.push_back(kHex[low & 0xF]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string escapeControls(std::u16string_view text) {
  return escapeControls(toUtf8(text));
}

}  // namespace autorun::host
