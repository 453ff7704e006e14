// Registry locations ("HKLM\Software\Key\Value"), the registry operations built on them,
// the registry action kinds and the backup of values for an upgrade.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/registry_backup.h"
#include "platform/platform_services.h"

namespace autorun {

class ConfigStore;
struct InstallerContext;

// What reading a 32-bit value gives when it cannot be read.
inline constexpr std::uint32_t kAbsentMarker = 0x80000000u;

struct RegistryLocation {
  std::optional<RegistryRoot> root;  // none for an unknown root or a text without key path
  std::u16string keyPath;
  std::u16string name;  // value name, or subkey name for deletion; empty = default value
};

RegistryLocation parseRegistryLocation(std::u16string_view text);

void writeRegistryDword(PlatformServices& platform, std::u16string_view location,
                        std::uint32_t value);
void writeRegistryString(PlatformServices& platform, std::u16string_view location,
                         std::u16string_view value);
std::uint32_t readRegistryDword(PlatformServices& platform, std::u16string_view location);
std::u16string readRegistryString(PlatformServices& platform, std::u16string_view location);
// Present-aware reads for the backup: nothing when the value cannot be read.
std::optional<std::uint32_t> tryReadRegistryDword(PlatformServices& platform,
                                                  std::u16string_view location);
std::optional<std::u16string> tryReadRegistryString(PlatformServices& platform,
                                                    std::u16string_view location);
// Deletes the subkey `name` under root\keyPath (creating the path), then broadcasts the
// settings change in every case.
bool deleteRegistryKey(PlatformServices& platform, std::optional<RegistryRoot> root,
                       std::u16string_view keyPath, std::u16string_view name);

void runRegistryActions(InstallerContext& context, std::u16string_view listName);
void runRemoveRegistryActions(InstallerContext& context, std::u16string_view listName);

bool backupRegistry(InstallerContext& context, std::u16string_view listName);

}  // namespace autorun
