#include "config/wide_text.h"

namespace autorun {

char16_t foldLower(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  // Latin-1 capitals except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  // Latin Extended-A: capitals at even code points, except the dotted I and kra range.
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      return (c % 2 == 1) ? static_cast<char16_t>(c + 1) : c;
    }
    if (c == 0x178) return 0xFF;
    if (c >= 0x138 && c <= 0x149) return c;
    return (c % 2 == 0) ? static_cast<char16_t>(c + 1) : c;
  }
  // Greek capitals.
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
  // Cyrillic capitals.
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  return c;
}

std::u16string foldLower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = foldLower(c);
  return out;
}

bool endsWith(std::u16string_view text, std::u16string_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::u16string widen(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<unsigned char>(c));
  return out;
}

std::u16string decimalUnsigned(std::uint64_t value) {
  char16_t digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::u16string out;
  out.reserve(n);
  while (n > 0) out.push_back(digits[--n]);
  return out;
}

std::u16string decimal(std::int64_t value) {
  if (value >= 0) return decimalUnsigned(static_cast<std::uint64_t>(value));
  return u"-" + decimalUnsigned(0 - static_cast<std::uint64_t>(value));
}

}  // namespace autorun
