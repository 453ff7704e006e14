#include "host_text/utf.h"

#include <iterator>

#include <utf8.h>

namespace autorun::host {

namespace {

bool ascii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool isAscii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool hasLoneSurrogate(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0xD800 || c > 0xDFFF) continue;
    if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;  // a pair
      continue;
    }
    return true;
  }
  return false;
}

std::string toUtf8(std::u16string_view text) {
  // Most names are ASCII: a unit is a byte.
  if (isAscii(text)) return std::string(text.begin(), text.end());
  std::string valid;
  // Lone surrogates are not valid UTF-16: replace them before converting.
  std::u16string cleaned(text);
  for (std::size_t i = 0; i < cleaned.size(); ++i) {
    const char16_t c = cleaned[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < cleaned.size() && cleaned[i + 1] >= 0xDC00 &&
        cleaned[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      cleaned[i] = 0xFFFD;
    }
  }
  utf8::utf16to8(cleaned.begin(), cleaned.end(), std::back_inserter(valid));
  return valid;
}

std::u16string fromUtf8(std::string_view text) {
  std::u16string out;
  appendUtf8(text, out);
  return out;
}

void appendUtf8(std::string_view text, std::u16string& out) {
  if (ascii(text)) {
    // Unit by unit into room made first: appending the byte range itself would build a
    // temporary string.
    const std::size_t start = out.size();
    out.resize(start + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) out[start + i] = static_cast<char16_t>(text[i]);
    return;
  }
  std::string valid;
  utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid));
  utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
}

std::optional<std::u16string> fromUtf8Exactly(std::string_view text) {
  if (utf8::find_invalid(text.begin(), text.end()) != text.end()) return std::nullopt;
  std::u16string out;
  appendUtf8(text, out);
  return out;
}

}  // namespace autorun::host
