#include "base/config_store.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "base/wide_text.h"

namespace autorun {

namespace {

bool isFormatSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool startsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The offset of the first "${", or npos.
std::size_t findReferenceStart(std::u16string_view text) {
  for (std::size_t at = findUnit(text, u'$'); at != std::u16string_view::npos;
       at = findUnit(text, u'$', at + 1)) {
    if (at + 1 < text.size() && text[at + 1] == u'{') return at;
  }
  return std::u16string_view::npos;
}

}  // namespace

ConfigStore::ConfigStore() : sectionPrefix_(u"/") {}

const std::u16string* ConfigStore::lookup(std::u16string_view keyPath) const {
  // One buffer for both tries: the folded key after a "/" that the second try includes.
  std::u16string key;
  key.reserve(keyPath.size() + 1);
  key.push_back(u'/');
  for (char16_t c : keyPath) key.push_back(foldLower(c));
  auto it = entries_.find(std::u16string_view(key).substr(1));
  if (it != entries_.end()) return &it->second;
  it = entries_.find(key);
  if (it != entries_.end()) return &it->second;
  return nullptr;
}

std::u16string ConfigStore::getString(std::u16string_view keyPath,
                                      std::u16string_view defaultValue) const {
  const std::u16string* value = lookup(keyPath);
  return value != nullptr ? *value : std::u16string(defaultValue);
}

std::int32_t ConfigStore::getInt(std::u16string_view keyPath, std::int32_t defaultValue) const {
  const std::u16string* value = lookup(keyPath);
  if (value == nullptr || value->empty()) return defaultValue;

  // The "%d" reading: white space, an optional sign, decimal digits.
  std::size_t i = 0;
  const std::size_t n = value->size();
  while (i < n && isFormatSpace((*value)[i])) ++i;
  bool negative = false;
  if (i < n && ((*value)[i] == u'+' || (*value)[i] == u'-')) {
    negative = (*value)[i] == u'-';
    ++i;
  }
  if (i == n || (*value)[i] < u'0' || (*value)[i] > u'9') return defaultValue;

  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < n && (*value)[i] >= u'0' && (*value)[i] <= u'9'; ++i) {
    magnitude = magnitude * 10 + ((*value)[i] - u'0');
    if (magnitude > kLimit) return defaultValue;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  if (magnitude == kLimit) return defaultValue;
  return static_cast<std::int32_t>(magnitude);
}

bool ConfigStore::hasKey(std::u16string_view keyPath) const {
  return lookup(keyPath) != nullptr;
}

// References are replaced one at a time, the search for the next "${" starting again at
// the beginning of the value. Text before a replaced reference holds no "${", so the
// search only has to look again from the character before the reference. What is still
// to be scanned is a stack of pieces: the rest of the value, with each replacement pushed
// on top (a view of the stored entry, which does not change while expanding), so that
// every character is copied once.
std::u16string ConfigStore::expandReferences(std::u16string_view keyPath, std::u16string value) {
  const std::size_t start = findReferenceStart(value);
  if (start == std::u16string::npos) return value;

  std::u16string base;
  if (std::size_t slash = keyPath.find(u'/'); slash != std::u16string_view::npos) {
    base = keyPath.substr(0, slash + 1);
  }

  std::u16string done(value, 0, start);
  std::vector<std::u16string_view> pending{std::u16string_view(value).substr(start)};
  std::u16string name;

  while (!pending.empty()) {
    std::u16string_view& top = pending.back();
    const std::size_t brace = findUnit(top, u'{');
    if (brace == std::u16string_view::npos) {
      done.append(top);
      pending.pop_back();
      continue;
    }
    done.append(top.substr(0, brace));
    top.remove_prefix(brace);
    if (done.empty() || done.back() != u'$') {
      done.push_back(u'{');
      top.remove_prefix(1);
      if (top.empty()) pending.pop_back();
      continue;
    }

    // "${" found: the name runs up to the next "}", possibly across pieces.
    std::size_t closePiece = pending.size();
    std::size_t closeAt = std::u16string_view::npos;
    for (std::size_t k = pending.size(); k-- > 0;) {
      const std::size_t from = k + 1 == pending.size() ? 1 : 0;
      closeAt = findUnit(pending[k], u'}', from);
      if (closeAt != std::u16string_view::npos) {
        closePiece = k;
        break;
      }
    }
    if (closeAt == std::u16string_view::npos) break;  // unfinished: the rest stays

    name.clear();
    for (std::size_t k = pending.size(); k-- > closePiece;) {
      const std::size_t from = k + 1 == pending.size() ? 1 : 0;
      const std::size_t to = k == closePiece ? closeAt : pending[k].size();
      name.append(pending[k].substr(from, to - from));
    }
    const std::u16string* replacement =
        lookup(name.find(u'/') != std::u16string::npos ? name : base + name);
    const std::size_t length = replacement != nullptr ? replacement->size() : 0;
    if (length > expansionAllowance_) {
      expansionLimitReached_ = true;
      break;  // this reference and the rest stay as they are
    }
    expansionAllowance_ -= length;

    done.pop_back();  // the "$"
    pending.resize(closePiece + 1);
    pending.back().remove_prefix(closeAt + 1);
    if (pending.back().empty()) pending.pop_back();
    if (length > 0) {
      pending.emplace_back(*replacement);
      // Room for what is left to scan and a little more, so that a long replacement is
      // copied once and the stored value does not keep twice the room it needs.
      std::size_t wanted = done.size() + length / 8 + 64;
      for (std::size_t k = pending.size(), counted = 0; k-- > 0 && counted < 16; ++counted) {
        wanted += pending[k].size();
      }
      if (wanted > done.capacity()) done.reserve(std::max(wanted, 2 * done.capacity()));
    }
  }
  for (std::size_t k = pending.size(); k-- > 0;) done.append(pending[k]);
  return done;
}

void ConfigStore::storeFolded(std::u16string foldedKey, std::u16string value) {
  // The reference base is the part up to the first "/", which folding leaves in place.
  value = expandReferences(foldedKey, std::move(value));
  entries_.insert_or_assign(std::move(foldedKey), std::move(value));
}

void ConfigStore::setValue(std::u16string_view keyPath, std::u16string_view value) {
  storeFolded(foldLower(keyPath), std::u16string(value));
}

void ConfigStore::fillPlaceholder(std::u16string_view keyPath, std::u16string_view text) {
  const std::u16string* current = lookup(keyPath);
  if (current == nullptr) return;
  std::u16string value = *current;
  if (std::size_t at = value.find(u"%s"); at != std::u16string::npos) {
    value.replace(at, 2, text);
  }
  setValue(keyPath, value);
}

void ConfigStore::applyVariable(std::u16string_view name, std::u16string_view text) {
  if (name.empty()) return;
  if (name.size() > 2 && name.front() == u'%' && name.back() == u'%') {
    name = name.substr(1, name.size() - 2);
  }
  if (!isIdentifier(name)) return;
  const std::u16string folded = foldLower(name);

  for (auto& [fullKey, value] : entries_) {
    const std::size_t open = findUnit(value, u'%');
    if (open == std::u16string::npos) continue;
    const std::size_t close = findUnit(value, u'%', open + 1);
    if (close == std::u16string::npos) continue;
    const std::size_t innerLength = close - open - 1;
    if (innerLength != folded.size()) continue;
    bool same = true;
    // `folded` holds identifier characters only, so matching it checks the inner name too.
    for (std::size_t k = 0; k < innerLength && same; ++k) {
      same = foldLower(value[open + 1 + k]) == folded[k];
    }
    if (!same) continue;
    // Only a value that may hold a reference afterwards needs expanding; the old value
    // must stay visible to the references meanwhile.
    if (findReferenceStart(value) == std::u16string::npos &&
        text.find_first_of(u"${") == std::u16string_view::npos) {
      value.replace(open, innerLength + 2, text);
      continue;
    }
    std::u16string replaced = value;
    replaced.replace(open, innerLength + 2, text);
    // Stored keys are already folded, so storing under the full key replaces this entry.
    value = expandReferences(fullKey, std::move(replaced));
  }
}

std::vector<std::u16string> ConfigStore::listKeys(std::u16string_view sectionPattern) const {
  std::vector<std::u16string> keys;
  const std::u16string pattern = foldLower(sectionPattern);
  if (pattern == u"*") {
    keys.reserve(entries_.size());
    for (const auto& entry : entries_) keys.push_back(entry.first);
    return keys;
  }
  const std::u16string prefix = (pattern.empty() || pattern == u"/") ? u"/" : pattern + u"/";
  for (auto it = entries_.lower_bound(prefix); it != entries_.end(); ++it) {
    if (!startsWith(it->first, prefix)) break;
    keys.push_back(it->first);
  }
  return keys;
}

void ConfigStore::clear() {
  entries_.clear();
  expansionAllowance_ = kExpansionAllowance;
  expansionLimitReached_ = false;
}

}  // namespace autorun
