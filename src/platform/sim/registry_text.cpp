// Reading the registry editor's text format (sim_registry.h) into a tree, in any of the
// encodings it comes in, with the file name and line in every error. One pass over the
// lines, each decoded once; nothing here recurses or copies what it has read before.
#include <algorithm>
#include <cstdio>

#include "host_text/code_pages.h"
#include "host_text/utf.h"
#include "platform/sim/registry_text.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"

namespace autorun::sim {

namespace {

using Charset = RegistryFormat::Charset;

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}
std::u16string_view trimLeft(std::u16string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  return s;
}
std::u16string_view trimRight(std::u16string_view s) {
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}
std::u16string_view trim(std::u16string_view s) {
  return trimLeft(trimRight(s));
}

int hexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::string codePageName(const RegistryFormat& format) {
  return format.charset == Charset::CodePage ? "code page " + std::to_string(format.codePage)
                                             : std::string("UTF-8");
}

// The lines of a file's bytes in one charset, each decoded when it is reached.
class LineReader {
 public:
  LineReader(std::string_view bytes, const RegistryFormat& format)
      : bytes_(bytes), format_(format) {}

  // The next line without its line end; false at the end. `error` says why a line could
  // not be decoded (empty when it could).
  bool next(std::u16string& line, std::string& error) {
    error.clear();
    if (position_ >= bytes_.size()) return false;
    ++number_;
    const bool wide = format_.charset == Charset::Utf16;
    std::size_t end = position_;
    if (wide) {
      while (end + 1 < bytes_.size() && !(bytes_[end] == '\n' && bytes_[end + 1] == 0)) end += 2;
      if (end + 1 >= bytes_.size()) end = bytes_.size();
    } else {
      end = bytes_.find('\n', position_);
      if (end == std::string_view::npos) end = bytes_.size();
    }
    raw_ = bytes_.substr(position_, end - position_);
    position_ = end == bytes_.size() ? end : end + (wide ? 2 : 1);
    if (wide) {
      if (raw_.size() % 2 != 0) {
        error = "UTF-16 text with an odd number of bytes";
        raw_.remove_suffix(1);
      }
      line.resize(raw_.size() / 2);
      for (std::size_t i = 0; i < line.size(); ++i) {
        line[i] = static_cast<char16_t>(static_cast<unsigned char>(raw_[2 * i]) |
                                        (static_cast<unsigned char>(raw_[2 * i + 1]) << 8));
      }
      crlf_ = !line.empty() && line.back() == u'\r';
      if (crlf_) line.pop_back();
      return true;
    }
    crlf_ = !raw_.empty() && raw_.back() == '\r';
    if (crlf_) raw_.remove_suffix(1);
    const std::string_view text = raw_;
    std::optional<std::u16string> decoded = format_.charset == Charset::CodePage
                                                ? host::fromCodePage(text, format_.codePage)
                                                : host::fromUtf8Exactly(text);
    if (decoded) {
      line = std::move(*decoded);
    } else {
      line = host::fromUtf8(text);
      error =
          format_.charset == Charset::CodePage
              ? "a byte here is not a character of code page " + std::to_string(format_.codePage)
              : std::string("the text is not valid UTF-8");
    }
    return true;
  }

  std::size_t number() const { return number_; }
  // The current line's bytes, without its line end.
  std::string_view raw() const { return raw_; }
  bool crlf() const { return crlf_; }

 private:
  std::string_view bytes_;
  const RegistryFormat& format_;
  std::size_t position_ = 0;
  std::size_t number_ = 0;
  std::string_view raw_;
  bool crlf_ = false;
};

class Parser {
 public:
  Parser(std::string_view bytes, const std::string& fileName, int codePage)
      : fileName_(fileName), codePage_(codePage), lines_(detect(bytes), format_) {}

  RegistryTree parse() {
    RegistryTree tree;
    readHeader();
    std::shared_ptr<RegistryNode> section;
    while (nextLine()) {
      const std::u16string_view line = trim(line_);
      if (line.empty() || line.front() == u';') continue;
      if (line.front() == u'[') {
        section = parseSection(tree, trimRight(line_));
      } else if (line.front() == u'"' || line.front() == u'@') {
        if (!section) fail("a value before the first [key] line");
        parseValue(*section, line);
      } else {
        fail("expected a [key] line, a value line (\"name\"=... or @=...) or a comment");
      }
    }
    return tree;
  }

  const RegistryFormat& format() const { return format_; }

 private:
  [[noreturn]] void fail(const std::string& message) const {
    throw SimError(fileName_ + ":" + std::to_string(lines_.number()) + ": " + message);
  }

  // The charset from the byte-order mark or, without one, from the first line; returns
  // the bytes after the mark.
  std::string_view detect(std::string_view bytes) {
    const auto startsWith = [&](std::string_view mark) {
      return bytes.substr(0, mark.size()) == mark;
    };
    if (startsWith("\xFF\xFE")) {
      format_ = RegistryFormat::utf16();
      return bytes.substr(2);
    }
    if (startsWith("\xFE\xFF")) {
      throw SimError(fileName_ +
                     ":1: UTF-16 big-endian is not read; the registry editor writes UTF-16 "
                     "little-endian with the mark FF FE");
    }
    if (startsWith("\xEF\xBB\xBF")) {
      format_.byteOrderMark = true;
      return bytes.substr(3);
    }
    if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) {
      throw SimError(fileName_ +
                     ":1: UTF-16 without a byte-order mark is not read; the registry editor "
                     "begins its files with the mark FF FE");
    }
    // No mark: a "REGEDIT4" file is in the device's code page, anything else UTF-8.
    if (firstLine(bytes) == "REGEDIT4" && codePage_ != host::kCodePageUtf8) {
      format_.charset = Charset::CodePage;
      format_.codePage = codePage_;
    }
    return bytes;
  }

  static std::string_view firstLine(std::string_view bytes) {
    while (!bytes.empty()) {
      const std::size_t end = bytes.find('\n');
      std::string_view line = bytes.substr(0, end);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      if (!line.empty() || end == std::string_view::npos) return line;
      bytes.remove_prefix(end + 1);
    }
    return {};
  }

  void readHeader() {
    while (true) {
      std::string error;
      const bool more = lines_.next(line_, error);
      const std::u16string_view line = trim(line_);
      if (more && line.empty() && error.empty()) continue;
      format_.crlf = lines_.crlf();
      if (error.empty() && line == kRegistryHeader5) return;
      if (error.empty() && line == kRegistryHeader4 && format_.charset != Charset::Utf16) {
        format_.regedit4 = true;
        return;
      }
      std::string expected = "the first line must be \"" + host::toUtf8(kRegistryHeader5) + "\"";
      if (format_.charset != Charset::Utf16) {
        expected += " (or \"REGEDIT4\" for a file in the device's code page)";
      }
      if (!more) {
        throw SimError(fileName_ + ":" + std::to_string(std::max<std::size_t>(lines_.number(), 1)) +
                       ": " + expected + ", found nothing");
      }
      const std::string found = format_.charset == Charset::Utf16 || error.empty()
                                    ? escapedText(line)
                                    : escapedBytes(lines_.raw());
      fail(expected + ", found \"" + found + "\"");
    }
  }

  bool nextLine() {
    std::string error;
    if (!lines_.next(line_, error)) return false;
    if (!error.empty()) fail(error);
    return true;
  }

  std::shared_ptr<RegistryNode> parseSection(RegistryTree& tree, std::u16string_view line) {
    line = trimLeft(line);
    if (line.back() != u']') fail("a [key] line must end with ']'");
    const std::u16string_view path = line.substr(1, line.size() - 2);
    if (!path.empty() && path.front() == u'-')
      fail("key deletion lines ([-...]) are not supported");
    const std::size_t slash = path.find(u'\\');
    const std::u16string_view rootName = path.substr(0, slash);
    const std::optional<RegistryRoot> root = registryRootNamed(rootName);
    if (!root) {
      fail("unknown root \"" + escapedText(rootName) +
           "\" (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS)");
    }
    RegistryNode* node = tree.roots[static_cast<std::size_t>(*root)].get();
    if (slash != std::u16string_view::npos) {
      std::u16string_view keyPath = path.substr(slash + 1);
      const auto depth =
          static_cast<std::size_t>(std::count(keyPath.begin(), keyPath.end(), u'\\')) + 1;
      if (depth > kMaxRegistryDepth) {
        fail("a key " + std::to_string(depth) + " levels deep; the registry holds at most " +
             std::to_string(kMaxRegistryDepth));
      }
      while (true) {
        const std::size_t end = keyPath.find(u'\\');
        const std::u16string_view name = keyPath.substr(0, end);
        if (!isStorableKeyName(name)) {
          fail("a key name is empty or holds control characters or a lone surrogate");
        }
        RegistryNode* next = node->findChild(name);
        node = next != nullptr ? next : node->addChild(std::u16string(name)).get();
        if (end == std::u16string_view::npos) break;
        keyPath.remove_prefix(end + 1);
      }
    }
    node->listed = true;
    return node->shared_from_this();
  }

  // A quoted text with \\ and \" escapes; `s` starts at the opening quote. Returns the
  // text and leaves `s` after the closing quote.
  std::u16string quoted(std::u16string_view& s) const {
    std::u16string text;
    std::size_t i = 1;
    for (;; ++i) {
      if (i >= s.size()) fail("a quoted text has no closing quote");
      const char16_t c = s[i];
      if (c == u'"') break;
      if (c == u'\\') {
        if (i + 1 >= s.size() || (s[i + 1] != u'\\' && s[i + 1] != u'"')) {
          fail("a backslash in a quoted text must be written \\\\ (or \\\" for a quote)");
        }
        text.push_back(s[++i]);
      } else {
        text.push_back(c);
      }
    }
    s.remove_prefix(i + 1);
    return text;
  }

  std::uint32_t hexNumber(std::u16string_view digits, const char* what) const {
    if (digits.empty() || digits.size() > 8)
      fail(std::string("expected 1 to 8 hex digits for ") + what);
    std::uint32_t value = 0;
    for (char16_t c : digits) {
      const int d = hexDigit(c);
      if (d < 0) fail(std::string("expected hex digits for ") + what);
      value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
  }

  // Comma-separated hex bytes; `list` is the rest of the value's line. A line ending in a
  // comma and a backslash goes on in the next line; blank lines and comments between are
  // skipped, as the registry editor does. Each line is read once.
  std::vector<std::uint8_t> hexBytes(std::u16string_view list) {
    std::vector<std::uint8_t> bytes;
    list = trim(list);
    while (true) {
      const bool continued = !list.empty() && list.back() == u'\\';
      if (continued) {
        list = trimRight(list.substr(0, list.size() - 1));
        if (!list.empty() && list.back() != u',')
          fail("a hex list goes on in the next line after a comma and a backslash");
        if (!list.empty()) list.remove_suffix(1);
      }
      if (!list.empty() || !continued) appendHexBytes(list, bytes);
      if (!continued) return bytes;
      do {
        if (!nextLine()) fail("the file ends inside a continued hex list");
        list = trim(line_);
      } while (list.empty() || list.front() == u';');
      if (hexDigit(list.front()) < 0)
        fail("a continued hex list goes on in a line that does not start with hex bytes");
    }
  }

  void appendHexBytes(std::u16string_view list, std::vector<std::uint8_t>& bytes) const {
    if (list.empty()) return;
    while (true) {
      const std::size_t comma = list.find(u',');
      const std::u16string_view token = trim(list.substr(0, comma));
      if (token.empty() || token.size() > 2) fail("expected hex bytes separated by commas");
      bytes.push_back(static_cast<std::uint8_t>(hexNumber(token, "a byte")));
      if (comma == std::u16string_view::npos) return;
      list.remove_prefix(comma + 1);
    }
  }

  // In a "REGEDIT4" file the bytes of texts are in the file's charset.
  std::vector<std::uint8_t> hexText(const std::vector<std::uint8_t>& bytes,
                                    std::uint32_t type) const {
    const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::optional<std::u16string> text = format_.charset == Charset::CodePage
                                                   ? host::fromCodePage(raw, format_.codePage)
                                                   : host::fromUtf8Exactly(raw);
    if (!text) {
      char what[16];
      std::snprintf(what, sizeof what, "hex(%x)", type);
      fail(std::string("the bytes of a ") + what + " text are not text in " +
           codePageName(format_));
    }
    std::vector<std::uint8_t> data;
    data.reserve(text->size() * 2);
    for (char16_t c : *text) {
      data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return data;
  }

  void parseValue(RegistryNode& node, std::u16string_view line) {
    std::u16string name;
    if (line.front() == u'@') {
      line.remove_prefix(1);
    } else {
      name = quoted(line);
      if (name.empty()) fail("an empty value name; the default value is written @");
      if (!isStorableValueName(name))
        fail("a value name holds control characters or a lone surrogate");
    }
    line = trimLeft(line);
    if (line.empty() || line.front() != u'=') fail("expected '=' after the value name");
    line = trimLeft(line.substr(1));

    RegistryValue value;
    value.name = std::move(name);
    if (!line.empty() && line.front() == u'"') {
      const std::u16string text = quoted(line);
      if (!trimLeft(line).empty()) fail("text after the closing quote");
      value.type = kRegString;
      value.data = registryStringBytes(text);
    } else if (line.substr(0, 6) == u"dword:") {
      const std::uint32_t number = hexNumber(trimRight(line.substr(6)), "a dword");
      value.type = kRegDword;
      for (int shift = 0; shift < 32; shift += 8) {
        value.data.push_back(static_cast<std::uint8_t>(number >> shift));
      }
    } else if (line.substr(0, 4) == u"hex:") {
      value.type = 3;
      value.data = hexBytes(line.substr(4));
    } else if (line.substr(0, 4) == u"hex(") {
      const std::size_t close = line.find(u"):");
      if (close == std::u16string_view::npos) fail("expected hex(type):bytes");
      value.type = hexNumber(line.substr(4, close - 4), "a value type");
      value.data = hexBytes(line.substr(close + 2));
      if (format_.regedit4 && isRegistryTextType(value.type)) {
        value.data = hexText(value.data, value.type);
      }
    } else if (line == u"-") {
      fail("value deletion lines (=-) are not supported");
    } else {
      fail("expected \"text\", dword:, hex: or hex(type): after '='");
    }
    node.setValue(std::move(value));
  }

  const std::string& fileName_;
  int codePage_;
  RegistryFormat format_;
  LineReader lines_;
  std::u16string line_;
};

}  // namespace

std::string escapedText(std::u16string_view text) {
  constexpr std::size_t kMost = 60;
  std::u16string shown;
  std::string out;
  const auto flush = [&] {
    out += host::toUtf8(shown);
    shown.clear();
  };
  for (std::size_t i = 0; i < text.size() && i < kMost; ++i) {
    const char16_t c = text[i];
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                      text[i + 1] <= 0xDFFF;
    char escape[8] = {};
    if (c == u'\\' || c == u'"') {
      std::snprintf(escape, sizeof escape, "\\%c", static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
    } else if (c >= 0xD800 && c <= 0xDFFF && !pair) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
    }
    if (escape[0] != 0) {
      flush();
      out += escape;
      continue;
    }
    shown.push_back(c);
    if (pair) shown.push_back(text[++i]);
  }
  flush();
  if (text.size() > kMost) out += "...";
  return out;
}

std::string escapedBytes(std::string_view bytes) {
  constexpr std::size_t kMost = 60;
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && i < kMost; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b == '\\' || b == '"') {
      out.push_back('\\');
      out.push_back(static_cast<char>(b));
    } else if (b < 0x20 || b >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(b));
      out += escape;
    } else {
      out.push_back(static_cast<char>(b));
    }
  }
  if (bytes.size() > kMost) out += "...";
  return out;
}

bool isRegistryTextType(std::uint32_t type) {
  return type == kRegString || type == 2 || type == 7;
}

RegistryTree parseRegistryText(std::string_view bytes, const std::string& fileName, int codePage,
                               RegistryFormat* format) {
  Parser parser(bytes, fileName, codePage);
  RegistryTree tree = parser.parse();
  if (format != nullptr) *format = parser.format();
  return tree;
}

}  // namespace autorun::sim
