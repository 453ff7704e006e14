// Values as the installer uses them: folder placeholders as they are substituted,
// registry locations, numbers, paths and their lengths; and keys nothing reads.
#include <algorithm>
#include <set>

#include "base/wide_text.h"
#include "common/config_lint_internal.h"
#include "context/config_loader.h"
#include "host_text/utf.h"

namespace autorun::host::lint {

namespace {

bool equalsFolded(std::u16string_view a, std::u16string_view b) {
  return foldLower(a) == foldLower(b);
}

const FolderVariable* findVariable(std::u16string_view name) {
  for (const FolderVariable& variable : folderVariables()) {
    if (equalsFolded(variable.name, name)) return &variable;
  }
  return nullptr;
}

std::string variableList() {
  std::string out;
  for (const FolderVariable& variable : folderVariables()) {
    if (!out.empty()) out += ", ";
    out += u8(variable.name);
  }
  return out;
}

// A pair of percent signs around an identifier.
struct Placeholder {
  std::size_t at;  // the first "%"
  std::u16string name;
  std::u16string text() const { return u"%" + name + u"%"; }
};

std::vector<Placeholder> placeholders(std::u16string_view value) {
  std::vector<Placeholder> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t open = value.find(u'%', from);
    if (open == std::u16string_view::npos) break;
    const std::size_t close = value.find(u'%', open + 1);
    if (close == std::u16string_view::npos) break;
    const std::u16string_view inner = value.substr(open + 1, close - open - 1);
    if (!inner.empty() && isIdentifier(inner)) {
      out.push_back({open, std::u16string(inner)});
      from = close + 1;
    } else {
      from = open + 1;
    }
  }
  return out;
}

// The value after the installer publishes the folder variables in its order, each with
// a typical path: only a value's first pair of percent signs is ever looked at.
std::u16string published(std::u16string value) {
  for (const FolderVariable& variable : folderVariables()) {
    const std::size_t open = value.find(u'%');
    if (open == std::u16string::npos) break;
    const std::size_t close = value.find(u'%', open + 1);
    if (close == std::u16string::npos) break;
    const std::u16string_view inner = std::u16string_view(value).substr(open + 1, close - open - 1);
    if (isIdentifier(inner) && equalsFolded(inner, variable.name)) {
      value.replace(open, close - open + 1, variable.typicalPath);
    }
  }
  return value;
}

class ValueChecker {
 public:
  explicit ValueChecker(Context& context) : c_(context), loaded_(context.store) {
    // The message texts get the brand before the folder variables are published.
    if (loaded_.hasKey(u"common/brand") && loaded_.hasKey(u"common/website")) {
      fillMessageTexts(loaded_);
    }
  }

  void run() {
    for (const auto& [key, value] : c_.store.entries()) {
      const ValueKind kind = valueKindOf(key);
      if (kind == ValueKind::Unknown) continue;
      if (coveredBySource(key, kind)) continue;
      const std::u16string before = loaded_.getString(key, u"");
      const std::u16string after = published(before);
      checkPlaceholders(key, kind, before);
      checkForeignSyntax(key, kind, before);
      switch (kind) {
        case ValueKind::RegistryValue:
        case ValueKind::RegistryDelete:
          checkRegistryLocation(key, kind, after);
          break;
        case ValueKind::Number:
          checkNumber(key, after);
          break;
        case ValueKind::FolderName:
          checkExeParent(key, before);
          break;
        case ValueKind::CardPath:
        case ValueKind::CardSource:
          checkCardPath(key, kind, before, after);
          break;
        case ValueKind::DevicePath:
        case ValueKind::DevicePattern:
        case ValueKind::FolderToEmpty:
          checkDevicePath(key, kind, after);
          break;
        default:
          break;
      }
    }
    if (!c_.store.hasKey(u"navigation/exe_parent") && c_.store.hasKey(u"navigation/exe")) {
      c_.reportSection(u"navigation", Severity::Warning, "exe-parent",
                       "'navigation/exe_parent' is not set: the program is started from '\\" +
                           u8(published(loaded_.getString(u"navigation/exe_dir", u""))) + "\\" +
                           u8(published(loaded_.getString(u"navigation/exe", u""))) +
                           "', below the device's root");
    }
    checkJoinedPaths();
  }

 private:
  // A copied entry whose source is checked the same way: its findings are the source's.
  bool coveredBySource(const std::u16string& key, ValueKind kind) const {
    const auto it = c_.origins.find(key);
    return it != c_.origins.end() && it->second.copied &&
           valueKindOf(it->second.copiedFrom) == kind;
  }

  void checkPlaceholders(const std::u16string& key, ValueKind kind, const std::u16string& before) {
    const bool path = isPathKind(kind) || kind == ValueKind::FolderName;
    // Replay the installer's substitution, remembering which variables are still to come.
    std::u16string value = before;
    for (std::size_t index = 0; index < folderVariables().size(); ++index) {
      const std::size_t open = value.find(u'%');
      if (open == std::u16string::npos) break;
      const std::size_t close = value.find(u'%', open + 1);
      if (close == std::u16string::npos) break;
      const std::u16string_view inner =
          std::u16string_view(value).substr(open + 1, close - open - 1);
      if (isIdentifier(inner) && equalsFolded(inner, folderVariables()[index].name)) {
        value.replace(open, close - open + 1, folderVariables()[index].typicalPath);
      }
    }
    const std::size_t firstPercent = value.find(u'%');
    for (const Placeholder& placeholder : placeholders(value)) {
      const FolderVariable* variable = findVariable(placeholder.name);
      const std::string written = u8(placeholder.text());
      if (variable == nullptr) {
        if (kind == ValueKind::FolderName) continue;
        std::vector<std::u16string_view> names;
        for (const FolderVariable& v : folderVariables()) names.push_back(v.name);
        const std::u16string suggestion = closestMatch(placeholder.name, names);
        // In a text, only a near miss of a variable is one; in a path, any placeholder.
        if (!path && suggestion.empty()) continue;
        std::string message = "'" + written + "' is not a folder variable (" + variableList() +
                              "): it stays in the " + (path ? "path" : "value") + " as written";
        if (!suggestion.empty()) message += "; did you mean '%" + u8(suggestion) + "%'?";
        c_.reportInValue(key, placeholder.text(), 0, Severity::Error, "folder-variable-unknown",
                         std::move(message));
        continue;
      }
      if (kind == ValueKind::FolderName) continue;  // read before any variable is published
      if (placeholder.at == firstPercent) {
        c_.reportInValue(
            key, placeholder.text(), 0, Severity::Error, "folder-variable-order",
            "'" + written +
                "' is not replaced: the installer replaces a placeholder only while "
                "it is the first pair of percent signs in the value, and publishes " +
                variableList() + " in this order, so " + u8(variable->name) +
                " came before the placeholder in front of it was replaced; split the value or "
                "put the placeholders in that order");
      } else {
        const std::size_t from = firstPercent >= 8 ? firstPercent - 8 : 0;
        c_.reportInValue(
            key, placeholder.text(), 0, Severity::Error, "folder-variable-hidden",
            "'" + written +
                "' is not replaced: the installer looks only at the first pair of "
                "percent signs in the value, and the '%' that ends " +
                inQuotes(std::u16string_view(value).substr(from, firstPercent + 1 - from)) +
                " comes first");
      }
    }
  }

  // Other installer builders' placeholders, which this installer writes as they stand:
  // Inno Setup's {app}, MSBuild's $(Name), NSIS's $NAME.
  void checkForeignSyntax(const std::u16string& key, ValueKind kind, const std::u16string& value) {
    const bool path = isPathKind(kind) || kind == ValueKind::FolderName;
    for (const ForeignPlaceholder& found : foreignPlaceholders(value)) {
      std::string message = "'" + u8(found.written) + "' is " + std::string(found.tool) +
                            " syntax: the installer " + (path ? "uses the path" : "shows it") +
                            " with it as written. Its own are the folder variables (" +
                            variableList() + ", as %NAME%) and references (${section/name})";
      if (!found.instead.empty()) message += "; write '" + u8(found.instead) + "'";
      c_.reportInValue(key, found.written, 0, path ? Severity::Error : Severity::Warning,
                       "foreign-syntax", std::move(message));
    }
  }

  void checkRegistryLocation(const std::u16string& key, ValueKind kind,
                             const std::u16string& location) {
    const std::string name = "'" + u8(key) + "'";
    if (location.empty()) {
      c_.reportKey(key, Severity::Warning, "registry-location",
                   name + " is empty: no registry value is read or written");
      return;
    }
    if (location.size() > kLongestPath) {
      c_.reportKey(key, Severity::Error, "path-too-long",
                   name + " is " + std::to_string(location.size()) +
                       " characters long: registry locations hold at most 259");
    }
    const std::size_t separator = location.find(u'\\');
    const std::u16string root = location.substr(0, separator);
    const bool known = root == u"HKLM" || root == u"HKCU" || root == u"HKUS";
    if (!known) {
      std::string message = name + " begins with the root " + inQuotes(root) +
                            ", which the "
                            "installer does not know (HKLM, HKCU or HKUS, in capitals)";
      const std::u16string big = upper(root);
      if (big == u"HKLM" || big == u"HKCU" || big == u"HKUS") {
        message = name + ": the root " + inQuotes(root) +
                  " is not recognised, roots are case-sensitive; write '" + u8(big) + "'";
      } else if (big == u"HKEY_LOCAL_MACHINE") {
        message += "; write 'HKLM'";
      } else if (big == u"HKEY_CURRENT_USER") {
        message += "; write 'HKCU'";
      } else if (big == u"HKEY_USERS" || big == u"HKU") {
        message += "; the users' root is written 'HKUS' here";
      } else if (big == u"HKCR" || big == u"HKEY_CLASSES_ROOT") {
        message +=
            "; the classes root has no name of its own here: its keys are those below "
            "'HKLM\\Software\\Classes'";
      } else if (big == u"HKCC" || big == u"HKEY_CURRENT_CONFIG") {
        message += "; the installer cannot reach the current configuration's keys";
      } else if (root.empty()) {
        message = name +
                  " begins with a backslash: the location starts with its root, as in "
                  "'HKLM\\Software\\...'";
      } else {
        const std::u16string suggestion = closestMatch(big, {u"HKLM", u"HKCU", u"HKUS"});
        if (!suggestion.empty()) message += "; did you mean '" + u8(suggestion) + "'?";
      }
      c_.reportValue(key, 0, Severity::Error, "registry-root", std::move(message));
      return;
    }
    if (separator == std::u16string::npos || separator != 4) {
      c_.reportValue(key, 0, Severity::Error, "registry-value-name",
                     name + " names only the root: write the key path and the " +
                         (kind == ValueKind::RegistryDelete ? "subkey to delete" : "value name") +
                         ", as in 'HKLM\\Software\\Key\\Name'");
      return;
    }
    const std::u16string rest = location.substr(5);
    const std::size_t last = rest.rfind(u'\\');
    if (last == std::u16string::npos) {
      c_.reportValue(key, 0, Severity::Error, "registry-value-name",
                     name + " has no " +
                         (kind == ValueKind::RegistryDelete ? "subkey name" : "value name") +
                         ": the installer splits the location at its last backslash into the "
                         "key path and the " +
                         (kind == ValueKind::RegistryDelete ? "subkey to delete" : "value name") +
                         "; write '" + u8(location) + "\\Name'");
      return;
    }
    if (last + 1 == rest.size()) {
      if (kind == ValueKind::RegistryDelete) {
        const std::u16string keyPath = rest.substr(0, last);
        const std::size_t parentEnd = keyPath.rfind(u'\\');
        const std::u16string subkey =
            parentEnd == std::u16string::npos ? keyPath : keyPath.substr(parentEnd + 1);
        c_.reportValue(key, 0, Severity::Error, "remove-reg-trailing-backslash",
                       name +
                           " ends in a backslash, so the subkey to delete is the empty name: "
                           "the device then deletes nothing, or everything below '" +
                           u8(keyPath) + "'; write '" +
                           u8(location.substr(0, location.size() - 1)) + "' to delete the key '" +
                           u8(subkey) + "'");
      } else {
        c_.reportValue(key, 0, Severity::Warning, "registry-value-name",
                       name + " ends in a backslash, so it names the default value of key '" +
                           u8(rest.substr(0, last)) + "'; add the value name if another is meant");
      }
    }
  }

  void checkNumber(const std::u16string& key, const std::u16string& value) {
    std::size_t i = 0;
    while (i < value.size() && (value[i] == u' ' || value[i] == u'\t')) ++i;
    std::size_t digits = i;
    if (digits < value.size() && (value[digits] == u'-' || value[digits] == u'+')) ++digits;
    std::size_t end = digits;
    while (end < value.size() && value[end] >= u'0' && value[end] <= u'9') ++end;
    const std::string name = "'" + u8(key) + "'";
    if (value.empty()) return;  // read as the default, as if absent
    if (end == digits) {
      c_.reportValue(key, 0, Severity::Warning, "number",
                     name + " holds " + inQuotes(value) +
                         ", which is not a decimal number: the installer reads its default (0)");
      return;
    }
    if (end != value.size()) {
      std::string message = name + " holds " + inQuotes(value) + ": the installer reads only " +
                            inQuotes(std::u16string_view(value).substr(i, end - i)) +
                            ", the decimal digits at its start";
      if (value.substr(i, 2) == u"0x" || value.substr(i, 2) == u"0X") {
        try {
          const unsigned long number = std::stoul(u8(value.substr(i + 2)), nullptr, 16);
          message += "; write the decimal \"" + std::to_string(number) + "\"";
        } catch (const std::exception&) {
          message += "; write the number in decimal";
        }
      }
      c_.reportValue(key, 0, Severity::Warning, "number", std::move(message));
      return;
    }
    if (end - digits > 10 || std::stoll(u8(value.substr(i, end - i))) > 2147483647LL ||
        std::stoll(u8(value.substr(i, end - i))) < -2147483648LL) {
      c_.reportValue(key, 0, Severity::Warning, "number",
                     name +
                         " does not fit a signed 32-bit number: the installer reads its "
                         "default (0)");
    }
  }

  void checkExeParent(const std::u16string& key, const std::u16string& value) {
    if (value == u"PROGRAM_FILES" || value == u"WINDOWS" || value == u"PERSONAL") return;
    std::string message = "'navigation/exe_parent' is " + inQuotes(value) +
                          ": only PROGRAM_FILES, WINDOWS and PERSONAL, exactly so, name the "
                          "program's parent folder; the program is started from '\\" +
                          u8(published(loaded_.getString(u"navigation/exe_dir", u""))) + "\\" +
                          u8(published(loaded_.getString(u"navigation/exe", u""))) + "'";
    std::u16string bare = value;
    if (bare.size() > 2 && bare.front() == u'%' && bare.back() == u'%') {
      bare = bare.substr(1, bare.size() - 2);
    }
    const std::u16string big = upper(bare);
    if (big == u"PROGRAM_FILES" || big == u"WINDOWS" || big == u"PERSONAL") {
      message += bare != value ? "; write the name without percent signs: '" + u8(big) + "'"
                               : "; the name is compared case-sensitively: write '" + u8(big) + "'";
    } else {
      const std::u16string suggestion =
          closestMatch(big, {u"PROGRAM_FILES", u"WINDOWS", u"PERSONAL"});
      if (!suggestion.empty()) message += "; did you mean '" + u8(suggestion) + "'?";
    }
    c_.reportValue(key, 0, Severity::Error, "exe-parent", std::move(message));
  }

  void checkCardPath(const std::u16string& key, ValueKind kind, const std::u16string& before,
                     const std::u16string& after) {
    const std::string name = "'" + u8(key) + "'";
    if (placeholders(before).size() > 0 && before.front() == u'%') {
      c_.reportKey(key, Severity::Warning, "card-relative",
                   name +
                       " is a path relative to the card folder, which the installer puts in "
                       "front of it; a folder placeholder there names a folder twice");
    } else if (!after.empty() && after.front() != u'\\') {
      c_.reportKey(key, Severity::Warning, "card-relative",
                   name + " is put right after the card folder, without a separator: write '\\" +
                       u8(after) + "'");
    }
    checkWildcards(key, kind, after);
    const std::u16string full = std::u16string(kTypicalCardFolder) + after;
    checkLength(key, full, "with the card folder '\\Storage Card' in front");
  }

  void checkDevicePath(const std::u16string& key, ValueKind kind, const std::u16string& after) {
    checkWildcards(key, kind, after);
    checkLength(key, after, "with the folders of a typical device");
    if (kind == ValueKind::FolderToEmpty || kind == ValueKind::DevicePattern) {
      checkSweepingRemoval(key, kind, after);
    }
  }

  void checkWildcards(const std::u16string& key, ValueKind kind, const std::u16string& path) {
    const std::size_t star = path.find(u'*');
    if (star == std::u16string::npos) return;
    const std::size_t lastSlash = path.rfind(u'\\');
    const bool patterns = kind == ValueKind::CardSource || kind == ValueKind::DevicePattern;
    if (!patterns) {
      c_.reportInValue(key, u"*", 0, Severity::Warning, "wildcard",
                       "'*' is no wildcard in '" + u8(key) + "': the path is used as written");
    } else if (lastSlash != std::u16string::npos && star < lastSlash) {
      c_.reportInValue(key, u"*", 0, Severity::Warning, "wildcard",
                       "'*' matches only in the last component of the path; here it stands in "
                       "a folder name, which must exist as written");
    }
  }

  void checkLength(const std::u16string& key, const std::u16string& path, std::string_view how) {
    if (path.size() <= kLongestPath) return;
    c_.reportKey(key, Severity::Error, "path-too-long",
                 "'" + u8(key) + "' makes a path of " + std::to_string(path.size()) +
                     " characters " + std::string(how) +
                     ": the installer handles paths of at most 259 characters");
  }

  // A remove_dir or remove_file that takes every file of the device or of a system folder.
  void checkSweepingRemoval(const std::u16string& key, ValueKind kind, const std::u16string& path) {
    std::u16string folder = path;
    if (kind == ValueKind::DevicePattern) {
      const std::size_t slash = folder.rfind(u'\\');
      const std::u16string pattern =
          slash == std::u16string::npos ? folder : folder.substr(slash + 1);
      if (pattern != u"*" && pattern != u"*.*") return;
      folder = slash == std::u16string::npos ? u"" : folder.substr(0, slash);
    }
    while (!folder.empty() && folder.back() == u'\\') folder.pop_back();
    std::string what;
    if (folder.empty()) {
      what = "the device's root, so every file on the device";
    } else {
      for (const FolderVariable& variable : folderVariables()) {
        if (equalsFolded(folder, variable.typicalPath)) {
          what =
              "the whole folder of %" + u8(variable.name) + "% (" + u8(variable.typicalPath) + ")";
        }
      }
      if (equalsFolded(folder, u"\\Windows\\Start Menu")) what = "the whole start menu";
    }
    if (what.empty()) return;
    c_.reportKey(key, Severity::Error, "sweeping-removal",
                 "'" + u8(key) + "' deletes " + what +
                     (kind == ValueKind::FolderToEmpty ? ", with all its subfolders' files" : ""));
  }

  // Paths the installer joins from several entries.
  void checkJoinedPaths() {
    const auto value = [this](std::u16string_view key) {
      return published(loaded_.getString(key, u""));
    };
    if (c_.store.hasKey(u"common/logo")) {
      const std::u16string logo = std::u16string(kTypicalCardFolder) + u"\\" +
                                  value(u"navigation/sd_dir") + u"\\" + value(u"common/logo");
      checkLength(u"common/logo", logo,
                  "as the logo's path (card folder, navigation/sd_dir and common/logo)");
    }
    if (c_.store.hasKey(u"navigation/exe")) {
      std::u16string parent;
      const std::u16string parentName = c_.store.getString(u"navigation/exe_parent", u"");
      if (const FolderVariable* variable = findVariable(parentName)) {
        parent = std::u16string(variable->typicalPath);
      }
      const std::u16string program =
          parent + u"\\" + value(u"navigation/exe_dir") + u"\\" + value(u"navigation/exe");
      checkLength(u"navigation/exe", program,
                  "as the program's path (navigation/exe_parent, exe_dir and exe)");
    }
  }

  Context& c_;
  ConfigStore loaded_;
};

}  // namespace

void checkValues(Context& context) {
  ValueChecker(context).run();
}

}  // namespace autorun::host::lint
