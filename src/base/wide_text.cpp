#include "base/wide_text.h"

#include <bit>
#include <cstring>

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

std::size_t findUnit(std::u16string_view text, char16_t unit, std::size_t from) {
  if (from >= text.size()) return std::u16string_view::npos;
  // Short texts are quicker to walk than to hand to memchr.
  if (text.size() - from < 32) return text.find(unit, from);
  if constexpr (std::endian::native == std::endian::little) {
    if (unit != 0 && unit < 0x100) {
      // Search the bytes for the low byte; a hit counts where it starts a code unit whose
      // high byte is zero.
      const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
      const std::size_t total = 2 * text.size();
      std::size_t at = 2 * from;
      while (at < total) {
        const void* hit = std::memchr(bytes + at, unit, total - at);
        if (hit == nullptr) return std::u16string_view::npos;
        const auto offset =
            static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - bytes);
        if (offset % 2 == 0 && bytes[offset + 1] == 0) return offset / 2;
        at = offset + 1;
      }
      return std::u16string_view::npos;
    }
  }
  return text.find(unit, from);
}

bool CodeUnitLess::operator()(std::u16string_view a, std::u16string_view b) const {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Four code units at a time; the lowest differing bits belong to the first differing
    // unit.
    for (; i + 4 <= common; i += 4) {
      std::uint64_t x = 0;
      std::uint64_t y = 0;
      std::memcpy(&x, a.data() + i, sizeof x);
      std::memcpy(&y, b.data() + i, sizeof y);
      if (x != y) {
        const std::size_t unit = i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 16;
        return a[unit] < b[unit];
      }
    }
  }
  for (; i < common; ++i) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return a.size() < b.size();
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
