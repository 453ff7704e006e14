// Placeholders of other installer builders (Inno Setup, MSBuild or make, NSIS) in values,
// and this installer's own folder variable for each well-known folder name.
#include "base/wide_text.h"
#include "common/config_lint_internal.h"

namespace autorun::host::lint {

std::u16string upper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return out;
}

namespace {

// What the well-known folder names of other builders are here.
std::u16string ownVariableFor(std::u16string_view name) {
  struct Alias {
    std::u16string_view name;  // upper case
    std::u16string_view variable;
  };
  constexpr Alias kAliases[] = {
      {u"PF", u"%PROGRAM_FILES%"},
      {u"COMMONPF", u"%PROGRAM_FILES%"},
      {u"PROGRAMFILES", u"%PROGRAM_FILES%"},
      {u"PROGRAMFILESDIR", u"%PROGRAM_FILES%"},
      {u"WIN", u"%WINDOWS%"},
      {u"WINDIR", u"%WINDOWS%"},
      {u"SYS", u"%WINDOWS%"},
      {u"SYSDIR", u"%WINDOWS%"},
      {u"USERDOCS", u"%PERSONAL%"},
      {u"DOCUMENTS", u"%PERSONAL%"},
      {u"MYDOCUMENTS", u"%PERSONAL%"},
      {u"GROUP", u"%PROGRAMS%"},
      {u"SMPROGRAMS", u"%PROGRAMS%"},
      {u"PROGRAMS", u"%PROGRAMS%"},
      {u"SRC", u"%SDCARD%"},
      {u"EXEDIR", u"%SDCARD%"},
      {u"SDCARD", u"%SDCARD%"},
      {u"SD_CARD", u"%SDCARD%"},
      {u"PROGRAM_FILES", u"%PROGRAM_FILES%"},
      {u"WINDOWS", u"%WINDOWS%"},
      {u"PERSONAL", u"%PERSONAL%"},
  };
  const std::u16string big = upper(name);
  for (const Alias& alias : kAliases) {
    if (alias.name == big) return std::u16string(alias.variable);
  }
  return {};
}

}  // namespace

std::vector<ForeignPlaceholder> foreignPlaceholders(std::u16string_view value) {
  std::vector<ForeignPlaceholder> found;
  const auto word = [&value](std::size_t from) {
    std::size_t end = from;
    while (end < value.size() && isIdentifierCharacter(value[end])) ++end;
    return end;
  };
  for (std::size_t k = 0; k < value.size(); ++k) {
    if (value[k] == u'{' && (k == 0 || value[k - 1] != u'$')) {
      const std::size_t end = word(k + 1);
      if (end > k + 1 && end < value.size() && value[end] == u'}') {
        const std::u16string_view name = value.substr(k + 1, end - k - 1);
        std::u16string instead =
            upper(name) == u"APP" ? u"%PROGRAM_FILES%\\..." : ownVariableFor(name);
        found.push_back({std::u16string(value.substr(k, end - k + 1)), "Inno Setup", instead});
        k = end;
      }
    } else if (value[k] == u'$' && k + 1 < value.size() && value[k + 1] == u'(') {
      const std::size_t end = word(k + 2);
      if (end > k + 2 && end < value.size() && value[end] == u')') {
        const std::u16string_view name = value.substr(k + 2, end - k - 2);
        found.push_back({std::u16string(value.substr(k, end - k + 1)), "MSBuild or make",
                         ownVariableFor(name)});
        k = end;
      }
    } else if (value[k] == u'$' && k + 1 < value.size() && value[k + 1] >= u'A' &&
               value[k + 1] <= u'Z') {
      const std::size_t end = word(k + 1);
      const std::u16string_view name = value.substr(k + 1, end - k - 1);
      if (name.size() >= 3 && upper(name) == name) {
        const std::u16string instead =
            name == u"INSTDIR" ? u"%PROGRAM_FILES%\\..." : ownVariableFor(name);
        found.push_back({std::u16string(value.substr(k, end - k)), "NSIS", instead});
        k = end - 1;
      }
    }
  }
  return found;
}

}  // namespace autorun::host::lint
