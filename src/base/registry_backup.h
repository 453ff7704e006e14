// The registry values saved before an upgrade and written back after it. Kept by the
// installer's context, filled and read by the registry actions.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace autorun {

// A value that was absent is kept as absent, so that it is not written back.
struct RegistryBackup {
  std::map<std::u16string, std::optional<std::uint32_t>> dwords;
  std::map<std::u16string, std::optional<std::u16string>> strings;
};

}  // namespace autorun
