#include "platform/sim/sim_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/wide_text.h"
#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::u16string_view kRootNames[] = {u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER",
                                              u"HKEY_USERS"};
constexpr std::size_t kLineWidth = 80;

bool sameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldLower(a[i]) != foldLower(b[i])) return false;
  }
  return true;
}

bool hasLoneSurrogate(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return true;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return true;
  }
  return false;
}

bool hasControl(std::u16string_view text) {
  for (char16_t c : text) {
    if (c < 0x20) return true;
  }
  return false;
}

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
    std::size_t rootIndex = std::size(kRootNames);
    for (std::size_t i = 0; i < std::size(kRootNames); ++i) {
      if (sameName(rootName, kRootNames[i])) rootIndex = i;
    }
    if (rootIndex == std::size(kRootNames)) {
      fail("unknown root \"" + host::toUtf8(rootName) +
           "\" (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS)");
    }
    std::shared_ptr<RegistryNode> node = tree.roots[rootIndex];
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
      for (char16_t c : text) {
        value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        value.data.push_back(static_cast<std::uint8_t>(c >> 8));
      }
      value.data.push_back(0);
      value.data.push_back(0);
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

void markDeleted(RegistryNode& node) {
  node.deleted = true;
  for (const auto& child : node.children) markDeleted(*child);
}

void unmarkDeleted(RegistryNode& node) {
  node.deleted = false;
  for (const auto& child : node.children) unmarkDeleted(*child);
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

RegistryNode* RegistryNode::child(std::u16string_view childName) const {
  for (const auto& node : children) {
    if (sameName(node->name, childName)) return node.get();
  }
  return nullptr;
}

RegistryValue* RegistryNode::value(std::u16string_view valueName) {
  for (RegistryValue& v : values) {
    if (sameName(v.name, valueName)) return &v;
  }
  return nullptr;
}

RegistryTree::RegistryTree() {
  for (std::size_t i = 0; i < roots.size(); ++i) {
    roots[i] = std::make_shared<RegistryNode>();
    roots[i]->name = std::u16string(kRootNames[i]);
  }
}

std::u16string_view registryRootName(RegistryRoot root) {
  return kRootNames[static_cast<std::size_t>(root)];
}

bool isStorableValueName(std::u16string_view name) {
  return !hasControl(name) && !hasLoneSurrogate(name);
}

bool isStorableKeyName(std::u16string_view name) {
  return !name.empty() && isStorableValueName(name) &&
         name.find(u'\\') == std::u16string_view::npos;
}

bool splitKeyPath(std::u16string_view path, std::vector<std::u16string>& components) {
  components.clear();
  if (path.empty()) return true;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find(u'\\', start);
    const std::u16string_view part = path.substr(
        start, slash == std::u16string_view::npos ? std::u16string_view::npos : slash - start);
    if (!isStorableKeyName(part)) return false;
    components.emplace_back(part);
    if (slash == std::u16string_view::npos) return true;
    start = slash + 1;
  }
}

RegistryTree parseRegistryText(std::string_view text, const std::string& fileName) {
  return Parser(text, fileName).parse();
}

std::string formatRegistryText(const RegistryTree& tree) {
  std::string out(kHeader);
  out += "\n";
  for (const auto& root : tree.roots) writeKey(out, *root, host::toUtf8(root->name), true);
  return out;
}

RegistryFile::RegistryFile(std::filesystem::path file) : file_(std::move(file)) {
  std::error_code error;
  const auto status = std::filesystem::status(file_, error);
  if (status.type() == std::filesystem::file_type::not_found) return;
  if (status.type() != std::filesystem::file_type::regular) {
    throw SimError(file_.string() + ": not a readable file");
  }
  std::FILE* in = std::fopen(file_.c_str(), "rb");
  if (in == nullptr) throw SimError(file_.string() + ": cannot be read: " + std::strerror(errno));
  std::string text;
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) throw SimError(file_.string() + ": cannot be read");
  tree_ = parseRegistryText(text, file_.string());
}

std::shared_ptr<RegistryNode> RegistryFile::find(const std::shared_ptr<RegistryNode>& from,
                                                 const std::vector<std::u16string>& components) {
  std::shared_ptr<RegistryNode> node = from;
  for (const std::u16string& name : components) {
    std::shared_ptr<RegistryNode> next;
    for (const auto& child : node->children) {
      if (sameName(child->name, name)) next = child;
    }
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

std::shared_ptr<RegistryNode> RegistryFile::create(const std::shared_ptr<RegistryNode>& from,
                                                   const std::vector<std::u16string>& components,
                                                   bool& created) {
  created = false;
  std::shared_ptr<RegistryNode> node = from;
  RegistryNode* firstParent = nullptr;  // where the first new key went
  for (const std::u16string& name : components) {
    std::shared_ptr<RegistryNode> next;
    for (const auto& child : node->children) {
      if (sameName(child->name, name)) next = child;
    }
    if (!next) {
      next = std::make_shared<RegistryNode>();
      next->name = name;
      if (firstParent == nullptr) firstParent = node.get();
      node->children.push_back(next);
      created = true;
    }
    node = next;
  }
  if (created && !save()) {
    firstParent->children.pop_back();
    created = false;
    return nullptr;
  }
  return node;
}

bool RegistryFile::setValue(RegistryNode& node, const std::u16string& name, std::uint32_t type,
                            std::vector<std::uint8_t> data) {
  if (!isStorableValueName(name)) return false;
  RegistryValue* existing = node.value(name);
  if (existing != nullptr) {
    RegistryValue previous = *existing;
    existing->type = type;
    existing->data = std::move(data);
    if (!save()) {
      *node.value(name) = std::move(previous);
      return false;
    }
    return true;
  }
  node.values.push_back(RegistryValue{name, type, std::move(data)});
  if (!save()) {
    node.values.pop_back();
    return false;
  }
  return true;
}

bool RegistryFile::deleteTree(RegistryNode& from, const std::vector<std::u16string>& components) {
  if (components.empty()) return false;
  RegistryNode* parent = &from;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    parent = parent->child(components[i]);
    if (parent == nullptr) return false;
  }
  auto& siblings = parent->children;
  for (std::size_t i = 0; i < siblings.size(); ++i) {
    if (!sameName(siblings[i]->name, components.back())) continue;
    std::shared_ptr<RegistryNode> removed = siblings[i];
    siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(i));
    markDeleted(*removed);
    if (!save()) {
      unmarkDeleted(*removed);
      siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(i), removed);
      return false;
    }
    return true;
  }
  return false;
}

bool RegistryFile::save() {
  const std::string text = formatRegistryText(tree_);
  const std::filesystem::path folder = file_.parent_path().empty() ? "." : file_.parent_path();
  std::string temp = (folder / ("." + file_.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  ::fchmod(fd, 0644);
  bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), file_.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace autorun::sim
