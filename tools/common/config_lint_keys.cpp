// What the installer reads: its sections and keys, the action kinds and the lists that
// run them, and the folder variables; and the keys and sections that nothing reads.
#include <algorithm>
#include <limits>
#include <set>

#include "base/wide_text.h"
#include "common/config_lint_internal.h"

namespace autorun::host::lint {

bool isPathKind(ValueKind kind) {
  switch (kind) {
    case ValueKind::DevicePath:
    case ValueKind::DevicePattern:
    case ValueKind::FolderToEmpty:
    case ValueKind::CardPath:
    case ValueKind::CardSource:
    case ValueKind::PathPart:
    case ValueKind::RegistryValue:
    case ValueKind::RegistryDelete:
      return true;
    default:
      return false;
  }
}

const std::vector<KnownKey>& knownKeys() {
  static const std::vector<KnownKey> keys = {
      {u"common", u"brand", ValueKind::Text},
      {u"common", u"website", ValueKind::Text},
      {u"common", u"logo", ValueKind::PathPart},
      {u"common", u"logo_width", ValueKind::Number},
      {u"common", u"logo_height", ValueKind::Number},
      {u"common", u"preinstalled", ValueKind::Number},
      {u"common", u"dont_find_sd", ValueKind::Number},
      {u"navigation", u"exe", ValueKind::PathPart},
      {u"navigation", u"exe_dir", ValueKind::PathPart},
      {u"navigation", u"exe_parent", ValueKind::FolderName},
      {u"navigation", u"windowclass", ValueKind::Text},
      {u"navigation", u"windowname", ValueKind::Text},
      {u"navigation", u"poclass", ValueKind::Text},
      {u"navigation", u"sd_dir", ValueKind::PathPart},
      {u"install", u"title", ValueKind::Text},
      {u"install", u"ready", ValueKind::Text},
      {u"install", u"question", ValueKind::Text},
      {u"update", u"title", ValueKind::Text},
      {u"update", u"ready", ValueKind::Text},
      {u"update", u"newer", ValueKind::Text},
      {u"update", u"older", ValueKind::Text},
      {u"reinstall", u"question", ValueKind::Text},
      {u"uninstall", u"title", ValueKind::Text},
      {u"uninstall", u"ready", ValueKind::Text},
      {u"uninstall", u"question", ValueKind::Text},
      {u"uninstall", u"link", ValueKind::Text},
      {u"uninstall", u"notinstalled", ValueKind::Text},
      {u"error", u"tail", ValueKind::Text},
      {u"error", u"freespace", ValueKind::Text},
      {u"error", u"running", ValueKind::Text},
      {u"registry", u"installed", ValueKind::RegistryValue},
      {u"registry", u"cardpath", ValueKind::RegistryValue},
      {u"registry", u"autorun", ValueKind::RegistryValue},
      {u"registry", u"today_enabled", ValueKind::RegistryValue},
      {u"registry", u"today_enabled_save", ValueKind::RegistryValue},
      {u"upgrade", u"application_dat", ValueKind::CardPath},
      {u"upgrade", u"application_exe", ValueKind::DevicePath},
  };
  return keys;
}

const KnownKey* findKnownKey(std::u16string_view section, std::u16string_view name) {
  for (const KnownKey& key : knownKeys()) {
    if (key.section == section && key.name == name) return &key;
  }
  return nullptr;
}

bool isKnownSection(std::u16string_view section) {
  return std::any_of(knownKeys().begin(), knownKeys().end(),
                     [section](const KnownKey& key) { return key.section == section; }) ||
         findActionList(section) != nullptr;
}

const std::vector<ActionKind>& actionKinds() {
  static const std::vector<ActionKind> kinds = {
      {u"makedir", u"", ValueKind::DevicePath},
      {u"src", u"", ValueKind::CardSource},
      {u"dst", u"src", ValueKind::DevicePath},
      {u"link_name", u"", ValueKind::DevicePath},
      {u"link_prg", u"link_name", ValueKind::DevicePath},
      {u"remove_link", u"", ValueKind::DevicePath},
      {u"reg_key", u"", ValueKind::RegistryValue},
      {u"reg_dw_value", u"reg_key", ValueKind::Number},
      {u"reg_str_value", u"reg_key", ValueKind::Text},
      {u"remove_reg", u"", ValueKind::RegistryDelete},
      {u"backup_dw", u"", ValueKind::RegistryValue},
      {u"backup_str", u"", ValueKind::RegistryValue},
      {u"register_dll", u"", ValueKind::DevicePath},
      {u"unregister_dll", u"", ValueKind::DevicePath},
      {u"remove_file", u"", ValueKind::DevicePattern},
      {u"remove_dir", u"", ValueKind::FolderToEmpty},
  };
  return kinds;
}

const ActionKind* findActionKind(std::u16string_view name) {
  for (const ActionKind& kind : actionKinds()) {
    if (kind.name == name) return &kind;
  }
  return nullptr;
}

const std::vector<ActionList>& actionLists() {
  static const std::vector<ActionList> lists = {
      {u"install_actions",
       {u"makedir", u"src", u"dst", u"reg_key", u"reg_dw_value", u"reg_str_value", u"link_name",
        u"link_prg", u"register_dll"},
       "at installation"},
      {u"uninstall_actions",
       {u"unregister_dll", u"remove_reg", u"remove_link", u"remove_file", u"remove_dir"},
       "at uninstallation"},
      {u"card_insert_actions",
       {u"src", u"dst", u"link_name", u"link_prg", u"reg_key", u"reg_dw_value", u"reg_str_value",
        u"remove_reg"},
       "when the card is inserted and after each installation"},
      {u"card_remove_actions",
       {u"remove_link", u"remove_reg", u"reg_key", u"reg_dw_value", u"reg_str_value"},
       "when the card is removed"},
      {u"upgrade", {u"backup_dw", u"backup_str"}, "before an update"},
  };
  return lists;
}

const ActionList* findActionList(std::u16string_view name) {
  for (const ActionList& list : actionLists()) {
    if (list.name == name) return &list;
  }
  return nullptr;
}

bool listReadsKind(const ActionList& list, std::u16string_view kind) {
  return std::find(list.kinds.begin(), list.kinds.end(), kind) != list.kinds.end();
}

KeyParts splitKey(std::u16string_view fullKey) {
  KeyParts parts;
  const std::size_t slash = fullKey.find(u'/');
  if (slash == std::u16string_view::npos) {
    parts.name = std::u16string(fullKey);
  } else {
    parts.section = std::u16string(fullKey.substr(0, slash));
    parts.name = std::u16string(fullKey.substr(slash + 1));
  }
  const std::size_t underscore = parts.name.rfind(u'_');
  if (underscore == std::u16string::npos || underscore + 1 == parts.name.size()) return parts;
  const std::u16string digits = parts.name.substr(underscore + 1);
  if (!std::all_of(digits.begin(), digits.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }))
    return parts;
  parts.kind = parts.name.substr(0, underscore);
  parts.numberText = digits;
  std::uint64_t value = 0;
  for (char16_t c : digits) {
    value = value * 10 + static_cast<std::uint64_t>(c - u'0');
    if (value > std::numeric_limits<std::uint32_t>::max()) return parts;
  }
  parts.number = static_cast<std::uint32_t>(value);
  return parts;
}

ValueKind valueKindOf(std::u16string_view fullKey) {
  const KeyParts parts = splitKey(fullKey);
  if (const KnownKey* known = findKnownKey(parts.section, parts.name)) return known->kind;
  if (parts.kind.empty()) return ValueKind::Unknown;
  const ActionList* list = findActionList(parts.section);
  const ActionKind* kind = findActionKind(parts.kind);
  if (list == nullptr || kind == nullptr || !listReadsKind(*list, kind->name))
    return ValueKind::Unknown;
  return kind->kind;
}

std::size_t editDistance(std::u16string_view a, std::u16string_view b) {
  // Optimal string alignment: insertions, deletions, substitutions and swaps of two
  // neighbours each cost one.
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1, 0));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

std::u16string closestMatch(std::u16string_view word,
                            const std::vector<std::u16string_view>& candidates) {
  const std::u16string folded = foldLower(word);
  // Short words allow one edit, longer ones a third of their length, at most three.
  const std::size_t allowed = std::clamp<std::size_t>(folded.size() / 3, 1, 3);
  std::u16string best;
  std::size_t bestDistance = allowed + 1;
  for (std::u16string_view candidate : candidates) {
    const std::size_t distance = editDistance(folded, foldLower(candidate));
    if (distance < bestDistance && distance > 0) {
      bestDistance = distance;
      best = std::u16string(candidate);
    }
  }
  return best;
}

const std::vector<FolderVariable>& folderVariables() {
  static const std::vector<FolderVariable> variables = {
      {u"PERSONAL", u"\\My Documents"}, {u"PROGRAM_FILES", u"\\Program Files"},
      {u"WINDOWS", u"\\Windows"},       {u"PROGRAMS", u"\\Windows\\Start Menu\\Programs"},
      {u"SDCARD", kTypicalCardFolder},
  };
  return variables;
}

void checkKeys(Context& context) {
  std::vector<std::u16string_view> sectionNames;
  std::set<std::u16string> seenSections;
  for (const KnownKey& key : knownKeys()) {
    if (seenSections.insert(std::u16string(key.section)).second)
      sectionNames.push_back(key.section);
  }
  for (const ActionList& list : actionLists()) sectionNames.push_back(list.name);

  std::set<std::u16string> reportedSections;
  for (const auto& [key, value] : context.store.entries()) {
    const KeyParts parts = splitKey(key);
    if (parts.section.empty() || parts.name.empty()) continue;  // references; empty names
    const auto origin = context.origins.find(key);
    if (origin != context.origins.end() && origin->second.copied) continue;
    if (findActionList(parts.section) != nullptr) continue;  // judged with the action lists
    if (isKnownSection(parts.section)) {
      if (findKnownKey(parts.section, parts.name) != nullptr) continue;
      std::vector<std::u16string_view> names;
      for (const KnownKey& known : knownKeys()) {
        if (known.section == parts.section) names.push_back(known.name);
      }
      std::string message = "the installer never reads '" + u8(key) + "'";
      const std::u16string suggestion = closestMatch(parts.name, names);
      if (!suggestion.empty()) {
        message += "; did you mean '" + u8(parts.section) + "/" + u8(suggestion) + "'?";
      }
      context.reportKey(key, Severity::Warning, "unknown-key", std::move(message));
      continue;
    }
    // A section of the author's own serves references; only near misses are reported.
    if (!reportedSections.insert(parts.section).second) continue;
    if (context.parentSections.count(parts.section) > 0) continue;
    const std::u16string suggestion = closestMatch(parts.section, sectionNames);
    if (suggestion.empty()) continue;
    bool looksLikeList = !parts.kind.empty() && findActionKind(parts.kind) != nullptr;
    if (looksLikeList) continue;  // reported as an unknown action list
    context.reportSection(parts.section, Severity::Warning, "unknown-section",
                          "the installer reads no section '" + u8(parts.section) +
                              "'; did you mean '" + u8(suggestion) + "'?");
  }
}

}  // namespace autorun::host::lint
