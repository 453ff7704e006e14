#include "actions/action_list.h"

#include "base/config_store.h"

namespace autorun {

std::u16string actionKey(std::u16string_view listName, std::u16string_view kind, std::uint32_t n) {
  std::u16string key;
  key.reserve(listName.size() + kind.size() + 12);
  key.append(listName);
  key.push_back(u'/');
  key.append(kind);
  key.push_back(u'_');
  // Decimal, without leading zeros.
  char16_t digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + n % 10);
    n /= 10;
  } while (n != 0);
  while (count > 0) key.push_back(digits[--count]);
  return key;
}

std::uint32_t walkActionList(
    const ConfigStore& config, std::u16string_view listName, std::u16string_view leadKind,
    const std::function<void(std::uint32_t, const std::u16string&)>& action, std::uint32_t first) {
  std::uint32_t n = first;
  for (;; ++n) {
    const std::u16string key = actionKey(listName, leadKind, n);
    if (!config.hasKey(key)) return n;  // a gap ends the list
    action(n, config.getString(key, u""));
  }
}

}  // namespace autorun
