// The configuration language's fixed tables and the rules built on them: where a line
// ends, comment markers, identifier characters, the header separator, the escapes, and
// the trimming of entry lines. The parser reads with them; the host tools' checker judges
// lines by the very same ones.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace autorun {

inline constexpr std::u16string_view kCommentMarkers[] = {u";", u"//", u"#"};
inline constexpr char16_t kHeaderOpen = u'[';
inline constexpr char16_t kHeaderClose = u']';
inline constexpr char16_t kHeaderSeparator = u':';
inline constexpr char16_t kEntrySeparator = u'=';
inline constexpr char16_t kValueQuote = u'"';
inline constexpr char16_t kLineEnd = u'\r';

inline constexpr std::u16string_view kIdentifierCharacters =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
bool isIdentifierCharacter(char16_t c);
bool isIdentifier(std::u16string_view text);  // true for the empty text

// A backslash followed by `written` stands for `meaning` in a value.
struct ConfigEscape {
  char16_t written;
  char16_t meaning;
};
inline constexpr ConfigEscape kEscapes[] = {{u'n', u'\n'}, {u'"', u'"'},   {u't', u'\t'},
                                            {u'r', u'\r'}, {u'\\', u'\\'}, {u'b', u'\b'}};
// The escape that a backslash followed by `written` is, or null.
const ConfigEscape* findEscape(char16_t written);

// One line as the parser delimits it: [start, end) is its text; the next line starts at
// `next`, two code units after the carriage return (the one after it is skipped unread).
struct ConfigLine {
  std::size_t start = 0;
  std::size_t end = 0;
  std::size_t next = 0;
  bool last = false;  // no carriage return ends it: the text ends here
};
// The line that starts at `start`, or nothing when `start` lies beyond the text's end (a
// text that ends with a carriage return, or with one and one more code unit).
std::optional<ConfigLine> configLineAt(std::u16string_view text, std::size_t start);

// Whether the line begins with a comment marker (in the first column only).
bool startsWithComment(std::u16string_view line);

// Entry lines count tabs as spaces; trimming removes both from the ends.
bool isBlank(char16_t c);
// The first and one past the last code unit that is not blank; (n, n) for a blank text.
std::pair<std::size_t, std::size_t> trimmedRange(std::u16string_view text);
std::u16string_view trimmed(std::u16string_view text);

// The value text between the quotes as the parser stores it: tabs as spaces, escapes
// replaced. A character produced by an escape never starts another one. With `offsets`,
// the offset in `written` of the first code unit behind each stored code unit.
std::u16string unescapeValue(std::u16string_view written,
                             std::vector<std::size_t>* offsets = nullptr);

}  // namespace autorun
