// Writing a registry tree in the registry editor's text format (sim_registry.h), laid out
// as the editor lays out its exports: the header, then each key as a blank line, its
// [key] line and its values, then a blank line at the end; long hex lists wrapped at the
// editor's width. Keys are written in a loop, not by recursion, however deep they nest.
#include <cstdio>

#include "host_text/code_pages.h"
#include "host_text/utf.h"
#include "platform/sim/registry_text.h"
#include "platform/sim/sim_registry.h"

namespace autorun::sim {

namespace {

using Charset = RegistryFormat::Charset;

// The editor wraps a hex list once its line reaches this many characters.
constexpr std::size_t kWrapAt = 77;

void appendAscii(std::u16string& out, std::string_view text) {
  out.append(text.begin(), text.end());
}

void appendQuoted(std::u16string& out, std::u16string_view text) {
  out.push_back(u'"');
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  out.push_back(u'"');
}

class Writer {
 public:
  explicit Writer(const RegistryFormat& format) : format_(format) {}

  std::optional<std::string> write(const RegistryTree& tree) {
    text_ += format_.regedit4 ? kRegistryHeader4 : kRegistryHeader5;
    text_ += newline_;
    // Depth first in creation order, each key with its full path.
    std::vector<std::pair<const RegistryNode*, std::u16string>> pending;
    for (auto root = tree.roots.rbegin(); root != tree.roots.rend(); ++root) {
      pending.emplace_back(root->get(), (*root)->name());
    }
    while (!pending.empty() && ok_) {
      auto [node, path] = std::move(pending.back());
      pending.pop_back();
      if (node->listed || !node->values().empty()) writeKey(*node, path);
      const auto& children = node->children();
      for (auto child = children.rbegin(); child != children.rend(); ++child) {
        pending.emplace_back(child->get(), path + u'\\' + (*child)->name());
      }
    }
    text_ += newline_;
    if (!ok_) return std::nullopt;
    return encoded();
  }

 private:
  void writeKey(const RegistryNode& node, const std::u16string& path) {
    text_ += newline_;
    text_.push_back(u'[');
    text_ += path;
    text_.push_back(u']');
    text_ += newline_;
    for (const RegistryValue& value : node.values()) writeValue(value);
  }

  // The text of a type-1 value when its bytes are exactly a text and its terminating NUL
  // that a quoted text can carry.
  bool storedText(const RegistryValue& value, std::u16string& text) const {
    if (value.type != kRegString || value.data.size() < 2 || value.data.size() % 2 != 0)
      return false;
    text = utf16Of(value.data);
    if (text.back() != 0) return false;
    text.pop_back();
    if (text.find(u'\0') != std::u16string::npos) return false;
    // Line breaks would split the line; lone surrogates exist only in UTF-16.
    if (text.find_first_of(u"\r\n") != std::u16string::npos) return false;
    return format_.charset == Charset::Utf16 || !host::hasLoneSurrogate(text);
  }

  static std::u16string utf16Of(const std::vector<std::uint8_t>& data) {
    std::u16string text(data.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    return text;
  }

  void writeValue(const RegistryValue& value) {
    const std::size_t lineStart = text_.size();
    if (value.name.empty()) {
      text_.push_back(u'@');
    } else {
      appendQuoted(text_, value.name);
    }
    text_.push_back(u'=');
    std::u16string text;
    if (storedText(value, text)) {
      appendQuoted(text_, text);
      text_ += newline_;
      return;
    }
    char buffer[16];
    if (value.type == kRegDword && value.data.size() == 4) {
      const std::uint32_t number = static_cast<std::uint32_t>(value.data[0]) |
                                   (static_cast<std::uint32_t>(value.data[1]) << 8) |
                                   (static_cast<std::uint32_t>(value.data[2]) << 16) |
                                   (static_cast<std::uint32_t>(value.data[3]) << 24);
      std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
      appendAscii(text_, buffer);
      text_ += newline_;
      return;
    }
    if (value.type == 3) {
      appendAscii(text_, "hex:");
    } else {
      std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
      appendAscii(text_, buffer);
    }
    if (format_.regedit4 && isRegistryTextType(value.type)) {
      // In a "REGEDIT4" file these bytes are the text in the file's charset.
      if (value.data.size() % 2 != 0) {
        ok_ = false;
        return;
      }
      const int codePage =
          format_.charset == Charset::CodePage ? format_.codePage : host::kCodePageUtf8;
      const std::optional<std::string> bytes =
          host::toCodePageExactly(utf16Of(value.data), codePage);
      if (!bytes) {
        ok_ = false;
        return;
      }
      writeHex(std::vector<std::uint8_t>(bytes->begin(), bytes->end()), lineStart);
    } else {
      writeHex(value.data, lineStart);
    }
  }

  void writeHex(const std::vector<std::uint8_t>& data, std::size_t lineStart) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::size_t width = text_.size() - lineStart;
    for (std::size_t i = 0; i < data.size(); ++i) {
      text_.push_back(kDigits[data[i] >> 4]);
      text_.push_back(kDigits[data[i] & 15]);
      if (i + 1 == data.size()) break;
      text_.push_back(u',');
      width += 3;
      if (width >= kWrapAt) {
        text_.push_back(u'\\');
        text_ += newline_;
        text_ += u"  ";
        width = 2;
      }
    }
    text_ += newline_;
  }

  std::optional<std::string> encoded() const {
    if (format_.charset == Charset::Utf16) {
      std::string out = "\xFF\xFE";
      out.reserve(2 + 2 * text_.size());
      for (char16_t c : text_) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
      }
      return out;
    }
    const int codePage =
        format_.charset == Charset::CodePage ? format_.codePage : host::kCodePageUtf8;
    std::optional<std::string> bytes = host::toCodePageExactly(text_, codePage);
    if (bytes && format_.byteOrderMark) bytes->insert(0, "\xEF\xBB\xBF");
    return bytes;
  }

  const RegistryFormat& format_;
  const std::u16string_view newline_ = format_.crlf ? u"\r\n" : u"\n";
  std::u16string text_;
  bool ok_ = true;
};

}  // namespace

std::optional<std::string> formatRegistryText(const RegistryTree& tree,
                                              const RegistryFormat& format) {
  return Writer(format).write(tree);
}

}  // namespace autorun::sim
