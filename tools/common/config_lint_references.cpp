#include "common/config_lint_references.h"

#include <algorithm>

#include "base/wide_text.h"

namespace autorun::host::lint {

namespace {

// Whether the installer reads this full key (a plain key or an action entry of a list).
bool readByInstaller(std::u16string_view fullKey) {
  return valueKindOf(fullKey) != ValueKind::Unknown;
}

}  // namespace

void ReferenceChecker::check(std::u16string_view value, const std::vector<std::size_t>& offsets,
                             const std::u16string& prefix) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t open = value.find(u"${", from);
    if (open == std::u16string_view::npos) return;
    const std::size_t close = value.find(u'}', open);
    if (close == std::u16string_view::npos) {
      c_.report(offsets[open], Severity::Warning, "reference-unfinished",
                "'${' without a closing '}': the installer leaves it and the rest of the "
                "value as written");
      return;
    }
    const std::u16string name(value.substr(open + 2, close - open - 2));
    const bool absolute = name.find(u'/') != std::u16string::npos;
    const std::u16string lookupKey = absolute ? name : prefix + name;
    if (!replay_.hasKey(lookupKey)) {
      pending_.push_back({offsets[open], name, lookupKey, prefix,
                          !absolute && prefix != u"/" && replay_.hasKey(u"/" + name)});
    }
    from = close + 1;
  }
}

void ReferenceChecker::judge() {
  for (const Pending& ref : pending_) {
    const std::string written = "'${" + u8(ref.name) + "}'";
    const bool absolute = ref.name.find(u'/') != std::u16string::npos;
    const std::u16string target = foldLower(ref.lookupKey);
    if (!absolute && ref.sectionBase != u"/" &&
        (ref.globalAbove || c_.store.entries().count(u"/" + foldLower(ref.name)) > 0)) {
      c_.report(ref.offset, Severity::Error, "reference-global",
                written + " looks up '" + u8(target) +
                    "'; from a named section a name without '/' never reaches the global "
                    "entry '" +
                    u8(ref.name) + "', so it expands to the empty text: write '${/" + u8(ref.name) +
                    "}'");
      continue;
    }
    std::string message;
    if (c_.store.hasKey(target)) {
      const std::u16string stored = c_.store.entries().count(target) > 0 ? target : u"/" + target;
      message = written + " refers to '" + u8(target) + "', which is set only further down (line " +
                std::to_string(c_.positions.lineOf(c_.offsetOfKey(stored))) +
                "): a reference sees only the lines above it, so it expands to the empty "
                "text";
    } else {
      message = undefined(ref, target);
    }
    c_.report(ref.offset, Severity::Error, "reference-undefined", std::move(message));
  }
}

std::string ReferenceChecker::undefined(const Pending& ref, const std::u16string& target) const {
  const std::string written = "'${" + u8(ref.name) + "}'";
  std::string message =
      written + " refers to '" + u8(target) + "', which is not set: it expands to the empty text";
  const bool absolute = ref.name.find(u'/') != std::u16string::npos;
  std::vector<std::u16string_view> candidates;
  std::u16string sameName;  // an entry of that name in another section
  const std::u16string tail = u"/" + foldLower(ref.name);
  for (const auto& [key, value] : c_.store.entries()) {
    const std::u16string_view view(key);
    candidates.push_back(view.front() == u'/' ? view.substr(1) : view);
    if (!absolute && sameName.empty() && view.front() != u'/' && view.size() > tail.size() &&
        view.substr(view.size() - tail.size()) == tail) {
      sameName = key;
    }
  }
  if (!sameName.empty()) return message + "; did you mean '${" + u8(sameName) + "}'?";
  const std::u16string suggestion = closestMatch(target, candidates);
  if (suggestion.empty()) return message;
  // The reference names a key the installer reads and the near miss is one it does not, or
  // several references agree on the name: the entry is misspelled, not the references.
  const std::u16string suggestionKey =
      c_.store.entries().count(suggestion) > 0 ? suggestion : u"/" + suggestion;
  const auto agreeing = std::count_if(pending_.begin(), pending_.end(), [&](const Pending& p) {
    return foldLower(p.lookupKey) == target;
  });
  if ((readByInstaller(target) || agreeing > 1) && !readByInstaller(suggestionKey)) {
    return message + "; the entry '" + u8(suggestionKey) + "' on line " +
           std::to_string(c_.positions.lineOf(c_.offsetOfKey(suggestionKey))) +
           " looks like a misspelling of it";
  }
  return message + "; did you mean '${" + u8(suggestion) + "}'?";
}

}  // namespace autorun::host::lint
