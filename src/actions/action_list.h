// The numbered action lists of the configuration: "list/kind_n", n = 1, 2, ..., ended by
// the first missing lead entry. Every executor walks its list with these helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace autorun {

class ConfigStore;

// "list/kind_n".
std::u16string actionKey(std::u16string_view listName, std::u16string_view kind, std::uint32_t n);

// Calls `action(n, leadValue)` for n = first, first + 1, ... while the lead entry exists.
// Returns the first n without a lead entry.
std::uint32_t walkActionList(
    const ConfigStore& config, std::u16string_view listName, std::u16string_view leadKind,
    const std::function<void(std::uint32_t, const std::u16string&)>& action,
    std::uint32_t first = 1);

}  // namespace autorun
