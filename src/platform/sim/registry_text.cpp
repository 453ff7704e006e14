// The registry editor's text format (sim_registry.h): reading it into a tree, with the
// file name and line in every error, and writing a tree back.
#include <cstdio>

#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"

namespace autorun::sim {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::size_t kLineWidth = 80;

// ---- Reading ---------------------------------------------------------------------------

class Parser {
 public:
  Parser(std::string_view text, const std::string& fileName) : text_(text), fileName_(fileName) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
  }

  RegistryTree parse() {
    RegistryTree tree;
    bool sawHeader = false;
    std::shared_ptr<RegistryNode> section;
    while (nextLine()) {
      std::string_view line = trimRight(line_);
      if (trimLeft(line).empty()) continue;
      if (!sawHeader) {
        if (trimLeft(line) != kHeader)
          fail("the first line must be \"" + std::string(kHeader) + "\"");
        sawHeader = true;
        continue;
      }
      line = trimLeft(line);
      if (line.front() == ';') continue;
      if (line.front() == '[') {
        section = parseSection(tree, line);
      } else if (line.front() == '"' || line.front() == '@') {
        if (!section) fail("a value before the first [key] line");
        parseValue(*section, line);
      } else {
        fail("expected a [key] line, a value line (\"name\"=... or @=...) or a comment");
      }
    }
    if (!sawHeader) {
      lineNumber_ = 1;
      fail("the first line must be \"" + std::string(kHeader) + "\"");
    }
    return tree;
  }

 private:
  [[noreturn]] void fail(const std::string& message) const {
    throw SimError(fileName_ + ":" + std::to_string(lineNumber_) + ": " + message);
  }

  bool nextLine() {
    if (position_ >= text_.size()) return false;
    const std::size_t end = text_.find('\n', position_);
    const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
    line_ = text_.substr(position_, stop - position_);
    if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
    position_ = end == std::string_view::npos ? text_.size() : end + 1;
    ++lineNumber_;
    return true;
  }

  static std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
  }
  static std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  }

  std::u16string decode(std::string_view utf8) const {
    // Invalid UTF-8 would be silently replaced and then written back changed.
    std::u16string text = host::fromUtf8(utf8);
    if (host::toUtf8(text) != utf8) fail("the text is not valid UTF-8");
    return text;
  }

  std::shared_ptr<RegistryNode> parseSection(RegistryTree& tree, std::string_view line) {
    if (line.back() != ']') fail("a [key] line must end with ']'");
    std::string_view path = line.substr(1, line.size() - 2);
    if (!path.empty() && path.front() == '-') fail("key deletion lines ([-...]) are not supported");
    const std::u16string wide = decode(path);
    const std::size_t slash = wide.find(u'\\');
    const std::u16string_view rootName = std::u16string_view(wide).substr(0, slash);
    const std::optional<RegistryRoot> root = registryRootNamed(rootName);
    if (!root) {
      fail("unknown root \"" + host::toUtf8(rootName) +
           "\" (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS)");
    }
    std::shared_ptr<RegistryNode> node = tree.roots[static_cast<std::size_t>(*root)];
    if (slash == std::u16string::npos) return node;
    std::vector<std::u16string> components;
    if (!splitKeyPath(std::u16string_view(wide).substr(slash + 1), components)) {
      fail("a key name is empty or holds control characters");
    }
    for (const std::u16string& name : components) {
      RegistryNode* existing = node->child(name);
      if (existing != nullptr) {
        for (const auto& child : node->children) {
          if (child.get() == existing) node = child;
        }
      } else {
        auto child = std::make_shared<RegistryNode>();
        child->name = name;
        node->children.push_back(child);
        node = child;
      }
    }
    return node;
  }

  // A quoted text with \\ and \" escapes; `s` starts at the opening quote. Returns the
  // text and leaves `s` after the closing quote.
  std::u16string quoted(std::string_view& s) const {
    std::string raw;
    std::size_t i = 1;
    for (;; ++i) {
      if (i >= s.size()) fail("a quoted text has no closing quote");
      const char c = s[i];
      if (c == '"') break;
      if (c == '\\') {
        if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
          fail("a backslash in a quoted text must be written \\\\ (or \\\" for a quote)");
        }
        raw.push_back(s[++i]);
      } else {
        raw.push_back(c);
      }
    }
    s.remove_prefix(i + 1);
    return decode(raw);
  }

  static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::uint32_t hexNumber(std::string_view digits, const char* what) const {
    if (digits.empty() || digits.size() > 8)
      fail(std::string("expected 1 to 8 hex digits for ") + what);
    std::uint32_t value = 0;
    for (char c : digits) {
      const int d = hexDigit(c);
      if (d < 0) fail(std::string("expected hex digits for ") + what);
      value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
  }

  std::vector<std::uint8_t> hexBytes(std::string_view list) {
    std::vector<std::uint8_t> bytes;
    // Continuation lines: a line ending in a backslash goes on in the next line.
    std::string joined(list);
    while (!joined.empty() && trimRight(joined).back() == '\\') {
      joined = std::string(trimRight(joined));
      joined.pop_back();
      if (!nextLine()) fail("the file ends inside a continued value");
      joined += trimRight(trimLeft(line_));
    }
    std::string_view rest = trimRight(trimLeft(joined));
    if (rest.empty()) return bytes;
    while (true) {
      const std::size_t comma = rest.find(',');
      const std::string_view token = trimRight(trimLeft(rest.substr(0, comma)));
      if (token.empty() || token.size() > 2 || hexDigit(token[0]) < 0 ||
          (token.size() == 2 && hexDigit(token[1]) < 0)) {
        fail("expected hex bytes separated by commas");
      }
      bytes.push_back(static_cast<std::uint8_t>(hexNumber(token, "a byte")));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    return bytes;
  }

  void parseValue(RegistryNode& node, std::string_view line) {
    std::u16string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else {
      name = quoted(line);
      if (name.empty()) fail("an empty value name; the default value is written @");
      if (!isStorableValueName(name)) fail("a value name holds control characters");
    }
    line = trimLeft(line);
    if (line.empty() || line.front() != '=') fail("expected '=' after the value name");
    line = trimLeft(line.substr(1));

    RegistryValue value;
    value.name = name;
    if (!line.empty() && line.front() == '"') {
      const std::u16string text = quoted(line);
      if (!trimLeft(line).empty()) fail("text after the closing quote");
      value.type = kRegString;
      value.data = registryStringBytes(text);
    } else if (line.substr(0, 6) == "dword:") {
      const std::uint32_t number = hexNumber(trimRight(line.substr(6)), "a dword");
      value.type = kRegDword;
      for (int shift = 0; shift < 32; shift += 8) {
        value.data.push_back(static_cast<std::uint8_t>(number >> shift));
      }
    } else if (line.substr(0, 4) == "hex:") {
      value.type = 3;
      value.data = hexBytes(line.substr(4));
    } else if (line.substr(0, 4) == "hex(") {
      const std::size_t close = line.find("):");
      if (close == std::string_view::npos) fail("expected hex(type):bytes");
      value.type = hexNumber(line.substr(4, close - 4), "a value type");
      value.data = hexBytes(line.substr(close + 2));
    } else if (line == "-") {
      fail("value deletion lines (=-) are not supported");
    } else {
      fail("expected \"text\", dword:, hex: or hex(type): after '='");
    }
    if (RegistryValue* existing = node.value(name)) {
      *existing = std::move(value);
    } else {
      node.values.push_back(std::move(value));
    }
  }

  std::string_view text_;
  const std::string& fileName_;
  std::size_t position_ = 0;
  std::size_t lineNumber_ = 0;
  std::string_view line_;
};

// ---- Writing ---------------------------------------------------------------------------

std::string quote(std::u16string_view text) {
  std::string out = "\"";
  for (char c : host::toUtf8(text)) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// The text of a type-1 value when its bytes are exactly a text and its terminating NUL.
bool storedText(const RegistryValue& value, std::u16string& text) {
  if (value.type != kRegString || value.data.size() < 2 || value.data.size() % 2 != 0) return false;
  text.clear();
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    text.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
  }
  if (text.back() != 0) return false;
  text.pop_back();
  if (text.find(u'\0') != std::u16string::npos) return false;
  // Line breaks would split the line; lone surrogates would not survive UTF-8.
  if (text.find_first_of(u"\r\n") != std::u16string::npos || hasLoneSurrogate(text)) return false;
  return true;
}

void writeValue(std::string& out, const RegistryValue& value) {
  std::string line = value.name.empty() ? "@=" : quote(value.name) + "=";
  std::u16string text;
  if (storedText(value, text)) {
    out += line + quote(text) + "\n";
    return;
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    char digits[9];
    const std::uint32_t number = static_cast<std::uint32_t>(value.data[0]) |
                                 (static_cast<std::uint32_t>(value.data[1]) << 8) |
                                 (static_cast<std::uint32_t>(value.data[2]) << 16) |
                                 (static_cast<std::uint32_t>(value.data[3]) << 24);
    std::snprintf(digits, sizeof digits, "%08x", number);
    out += line + "dword:" + digits + "\n";
    return;
  }
  if (value.type == 3) {
    line += "hex:";
  } else {
    char type[16];
    std::snprintf(type, sizeof type, "hex(%x):", value.type);
    line += type;
  }
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", value.data[i]);
    line += byte;
    if (i + 1 < value.data.size()) {
      line += ',';
      // Wrap long lists as the registry editor does, with a trailing backslash.
      if (line.size() > kLineWidth - 4) {
        out += line + "\\\n";
        line = "  ";
      }
    }
  }
  out += line + "\n";
}

void writeKey(std::string& out, const RegistryNode& node, const std::string& path, bool isRoot) {
  if (!isRoot || !node.values.empty()) {
    out += "\n[" + path + "]\n";
    for (const RegistryValue& value : node.values) writeValue(out, value);
  }
  for (const auto& child : node.children) {
    writeKey(out, *child, path + "\\" + host::toUtf8(child->name), false);
  }
}

}  // namespace

RegistryTree parseRegistryText(std::string_view text, const std::string& fileName) {
  return Parser(text, fileName).parse();
}

std::string formatRegistryText(const RegistryTree& tree) {
  std::string out(kHeader);
  out += "\n";
  for (const auto& root : tree.roots) writeKey(out, *root, host::toUtf8(root->name), true);
  return out;
}

}  // namespace autorun::sim
