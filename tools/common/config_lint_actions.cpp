// Action lists: numbering as the executors walk it, companions and their leads, kinds
// that a list's flow never runs, and lists that no flow runs.
#include <algorithm>
#include <set>

#include "base/wide_text.h"
#include "common/config_lint_internal.h"
#include "host_text/utf.h"

namespace autorun::host::lint {

namespace {

std::u16string numbered(std::u16string_view kind, std::uint32_t n) {
  return std::u16string(kind) + u"_" + widen(std::to_string(n));
}

std::string kindsOf(const ActionList& list) {
  std::string out;
  for (std::u16string_view kind : list.kinds) {
    const ActionKind* info = findActionKind(kind);
    if (info == nullptr || !info->lead.empty()) continue;
    if (!out.empty()) out += ", ";
    out += u8(kind);
    if (kind == u"src") out += "/dst";
  }
  return out;
}

std::string listsRunning(std::u16string_view kind) {
  std::string out;
  for (const ActionList& list : actionLists()) {
    if (!listReadsKind(list, kind)) continue;
    if (!out.empty()) out += " or ";
    out += "'" + u8(list.name) + "'";
  }
  return out;
}

class ListChecker {
 public:
  ListChecker(Context& context, const ActionList& list) : c_(context), list_(list) {
    const std::u16string prefix = std::u16string(list.name) + u"/";
    for (auto it = c_.store.entries().lower_bound(prefix); it != c_.store.entries().end(); ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      keys_.push_back(it->first);
    }
  }

  void run() {
    // The first number each lead kind's walk does not read.
    std::map<std::u16string, std::uint32_t> ends;
    std::uint32_t strStart = 1;
    for (std::u16string_view kind : list_.kinds) {
      const ActionKind* info = findActionKind(kind);
      if (info == nullptr || !info->lead.empty()) continue;
      std::uint32_t first = 1;
      if (kind == u"backup_str") first = strStart;
      std::uint32_t n = first;
      while (has(numbered(kind, n))) ++n;
      ends[std::u16string(kind)] = n;
      if (kind == u"backup_dw") strStart = n;
      starts_[std::u16string(kind)] = first;
    }

    for (const std::u16string& key : keys_) {
      const KeyParts parts = splitKey(key);
      if (list_.name == u"upgrade" && findKnownKey(parts.section, parts.name) != nullptr) continue;
      if (parts.kind.empty()) {
        checkUnnumbered(key, parts);
        continue;
      }
      const ActionKind* kind = findActionKind(parts.kind);
      if (kind == nullptr) {
        checkUnknownKind(key, parts);
        continue;
      }
      if (!listReadsKind(list_, kind->name)) {
        if (!copied(key)) {
          c_.reportKey(key, Severity::Warning, "action-kind-unused",
                       "'" + u8(key) + "' is never run: '" + u8(list_.name) + "' runs " +
                           kindsOf(list_) + " (" + std::string(list_.runs) + "); '" +
                           u8(kind->name) + "' entries run in " + listsRunning(kind->name));
        }
        continue;
      }
      if (!parts.number || parts.numberText != widen(std::to_string(*parts.number)) ||
          *parts.number == 0) {
        c_.reportKey(key, Severity::Warning, "action-number",
                     "'" + u8(key) +
                         "' is never read: entries are numbered 1, 2, 3, ... in "
                         "decimal without leading zeros");
        continue;
      }
      const std::uint32_t n = *parts.number;
      if (kind->lead.empty()) {
        checkLead(key, *kind, n, ends);
      } else {
        checkCompanion(key, *kind, n);
      }
    }
  }

 private:
  bool has(const std::u16string& name) const {
    return c_.store.entries().count(std::u16string(list_.name) + u"/" + name) > 0;
  }
  bool copied(const std::u16string& key) const {
    const auto it = c_.origins.find(key);
    return it != c_.origins.end() && it->second.copied;
  }
  std::u16string full(const std::u16string& name) const {
    return std::u16string(list_.name) + u"/" + name;
  }

  void checkLead(const std::u16string& key, const ActionKind& kind, std::uint32_t n,
                 const std::map<std::u16string, std::uint32_t>& ends) {
    const std::u16string name(kind.name);
    const std::uint32_t first = starts_.at(name);
    const std::uint32_t end = ends.at(name);
    if (n < first) {
      c_.reportKey(key, Severity::Error, "backup-numbering",
                   "'" + u8(key) +
                       "' is never read: the numbers of backup_str continue after "
                       "the last backup_dw (backup_dw_" +
                       std::to_string(first - 1) + "), so the first one read is backup_str_" +
                       std::to_string(first));
      return;
    }
    if (n >= end) {
      std::string message = "'" + u8(key) + "' is never read: '" + u8(numbered(kind.name, end)) +
                            "' is missing, and a list ends at its first missing number";
      if (kind.name == u"backup_str" && first > 1) {
        message += " (backup_str numbers start at " + std::to_string(first) +
                   ", after the last backup_dw)";
      }
      c_.reportKey(key, Severity::Error, "action-gap", std::move(message));
      return;
    }
    // Companions of an entry that is read.
    if (kind.name == u"src" && !has(numbered(u"dst", n))) {
      c_.reportKey(key, Severity::Warning, "action-missing-companion",
                   "'" + u8(key) + "' has no '" + u8(numbered(u"dst", n)) +
                       "': the files are copied to the empty path, which fails");
    }
    if (kind.name == u"link_name" && !has(numbered(u"link_prg", n))) {
      c_.reportKey(key, Severity::Warning, "action-missing-companion",
                   "'" + u8(key) + "' has no '" + u8(numbered(u"link_prg", n)) +
                       "': a shortcut to an empty target is never made");
    }
    if (kind.name == u"reg_key") {
      const bool dword = has(numbered(u"reg_dw_value", n));
      const bool text = has(numbered(u"reg_str_value", n));
      if (!dword && !text) {
        c_.reportKey(key, Severity::Warning, "action-missing-companion",
                     "'" + u8(key) + "' has neither '" + u8(numbered(u"reg_dw_value", n)) +
                         "' nor '" + u8(numbered(u"reg_str_value", n)) +
                         "': the installer writes an empty string value");
      } else if (dword && text) {
        c_.reportKey(
            full(numbered(u"reg_str_value", n)), Severity::Warning, "action-companion-conflict",
            "'" + u8(full(numbered(u"reg_str_value", n))) + "' is never read: '" +
                u8(full(numbered(u"reg_dw_value", n))) + "' is set too, and the number wins");
      }
    }
  }

  // A companion of a lead that lies beyond a gap is covered by the lead's own finding.
  void checkCompanion(const std::u16string& key, const ActionKind& kind, std::uint32_t n) {
    const std::u16string lead(kind.lead);
    if (!has(numbered(lead, n))) {
      c_.reportKey(key, Severity::Warning, "action-companion",
                   "'" + u8(key) + "' has no '" + u8(numbered(lead, n)) +
                       "': an entry exists only through its lead, so this is never read");
    }
  }

  void checkUnnumbered(const std::u16string& key, const KeyParts& parts) {
    if (copied(key)) return;
    if (findActionKind(parts.name) != nullptr) {
      c_.reportKey(key, Severity::Warning, "action-number",
                   "'" + u8(key) + "' is never read: action entries carry a number, as in '" +
                       u8(parts.name) + "_1'");
      return;
    }
    reportUnknown(key, parts.name);
  }

  void checkUnknownKind(const std::u16string& key, const KeyParts& parts) {
    if (copied(key)) return;
    reportUnknown(key, parts.kind);
  }

  void reportUnknown(const std::u16string& key, const std::u16string& kind) {
    std::string message = "'" + u8(kind) + "' is not an action kind that '" + u8(list_.name) +
                          "' runs, so '" + u8(key) + "' is never read";
    std::u16string suggestion = closestMatch(kind, list_.kinds);
    if (suggestion.empty()) {
      std::vector<std::u16string_view> all;
      for (const ActionKind& k : actionKinds()) all.push_back(k.name);
      suggestion = closestMatch(kind, all);
    }
    if (!suggestion.empty()) message += "; did you mean '" + u8(suggestion) + "'?";
    c_.reportKey(key, Severity::Error, "action-kind-unknown", std::move(message));
  }

  Context& c_;
  const ActionList& list_;
  std::vector<std::u16string> keys_;
  std::map<std::u16string, std::uint32_t> starts_;
};

// Sections that look like action lists but that no flow runs.
void checkUnknownLists(Context& c) {
  std::set<std::u16string> sections;
  for (const auto& [key, value] : c.store.entries()) {
    const KeyParts parts = splitKey(key);
    if (parts.section.empty() || isKnownSection(parts.section)) continue;
    if (c.parentSections.count(parts.section) > 0) continue;  // a template for other lists
    if (parts.kind.empty() || findActionKind(parts.kind) == nullptr) continue;
    sections.insert(parts.section);
  }
  std::vector<std::u16string_view> names;
  for (const ActionList& list : actionLists()) names.push_back(list.name);
  for (const std::u16string& section : sections) {
    std::string message =
        "no flow runs a list named '" + u8(section) + "': its action entries are never run";
    const std::u16string suggestion = closestMatch(section, names);
    if (!suggestion.empty()) message += "; did you mean '" + u8(suggestion) + "'?";
    c.reportSection(section, Severity::Warning, "action-list-unknown", std::move(message));
  }
}

}  // namespace

void checkActionLists(Context& context) {
  for (const ActionList& list : actionLists()) ListChecker(context, list).run();
  checkUnknownLists(context);
}

}  // namespace autorun::host::lint
