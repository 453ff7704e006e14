#include "actions/registry_actions.h"

#include <vector>

#include "actions/action_list.h"
#include "base/config_store.h"
#include "context/installer_context.h"

namespace autorun {

namespace {

std::optional<RegistryRoot> rootByName(std::u16string_view name) {
  if (name == u"HKLM") return RegistryRoot::LocalMachine;
  if (name == u"HKCU") return RegistryRoot::CurrentUser;
  if (name == u"HKUS") return RegistryRoot::Users;
  return std::nullopt;
}

// Root name (4 characters) and its separator.
constexpr std::size_t kRootPrefixLength = 5;

}  // namespace

RegistryLocation parseRegistryLocation(std::u16string_view text) {
  RegistryLocation location;
  // A location the device's buffers cannot hold names nothing.
  if (text.size() > kMaxPathLength) return location;
  // The text starts with the root name, ended by a backslash or the end of the text.
  const std::size_t tokenEnd = text.find(u'\\');
  const std::optional<RegistryRoot> root =
      rootByName(text.substr(0, tokenEnd == std::u16string_view::npos ? text.size() : tokenEnd));
  if (!root || text.size() < kRootPrefixLength) return location;
  const std::u16string_view rest = text.substr(kRootPrefixLength);
  const std::size_t split = rest.rfind(u'\\');
  if (split == std::u16string_view::npos) return location;  // no key path
  location.root = root;
  location.keyPath.assign(rest.substr(0, split));
  location.name.assign(rest.substr(split + 1));
  return location;
}

void writeRegistryDword(PlatformServices& platform, std::u16string_view location,
                        std::uint32_t value) {
  const RegistryLocation parsed = parseRegistryLocation(location);
  if (!parsed.root) return;
  const std::unique_ptr<RegistryKey> key = platform.createKey(*parsed.root, parsed.keyPath);
  if (!key) return;
  key->setDword(parsed.name, value);
  key->flush();
}

void writeRegistryString(PlatformServices& platform, std::u16string_view location,
                         std::u16string_view value) {
  const RegistryLocation parsed = parseRegistryLocation(location);
  if (!parsed.root) return;
  const std::unique_ptr<RegistryKey> key = platform.createKey(*parsed.root, parsed.keyPath);
  if (!key) return;
  key->setString(parsed.name, std::u16string(value));
  key->flush();
}

std::optional<std::uint32_t> tryReadRegistryDword(PlatformServices& platform,
                                                  std::u16string_view location) {
  const RegistryLocation parsed = parseRegistryLocation(location);
  if (!parsed.root) return std::nullopt;
  const std::unique_ptr<RegistryKey> key = platform.openKey(*parsed.root, parsed.keyPath);
  if (!key) return std::nullopt;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  // The type is not checked; only what fits into 32 bits is a value.
  if (!key->queryValue(parsed.name, type, data) || data.size() > 4) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < data.size(); ++i) value |= std::uint32_t{data[i]} << (8 * i);
  return value;
}

std::optional<std::u16string> tryReadRegistryString(PlatformServices& platform,
                                                    std::u16string_view location) {
  const RegistryLocation parsed = parseRegistryLocation(location);
  if (!parsed.root) return std::nullopt;
  const std::unique_ptr<RegistryKey> key = platform.openKey(*parsed.root, parsed.keyPath);
  if (!key) return std::nullopt;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (!key->queryValue(parsed.name, type, data)) return std::nullopt;
  // Whatever the type, the bytes are read as UTF-16 text up to its first NUL; an odd
  // last byte counts as a character of its own.
  std::u16string text;
  text.reserve(data.size() / 2 + 1);
  for (std::size_t i = 0; i < data.size(); i += 2) {
    const char16_t high = i + 1 < data.size() ? data[i + 1] : 0;
    const auto c = static_cast<char16_t>(data[i] | (high << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::uint32_t readRegistryDword(PlatformServices& platform, std::u16string_view location) {
  return tryReadRegistryDword(platform, location).value_or(kAbsentMarker);
}

std::u16string readRegistryString(PlatformServices& platform, std::u16string_view location) {
  return tryReadRegistryString(platform, location).value_or(std::u16string());
}

bool deleteRegistryKey(PlatformServices& platform, std::optional<RegistryRoot> root,
                       std::u16string_view keyPath, std::u16string_view name) {
  bool deleted = false;
  // An empty subkey name would name the key itself and everything below it: a location
  // ending in a backslash deletes nothing.
  if (root && !name.empty()) {
    if (const std::unique_ptr<RegistryKey> key =
            platform.createKey(*root, std::u16string(keyPath))) {
      deleted = key->deleteSubkeyTree(std::u16string(name));
      key->flush();
    }
  }
  // The shell re-reads its Today items whatever happened.
  platform.broadcastSettingChange();
  return deleted;
}

void runRegistryActions(InstallerContext& context, std::u16string_view listName) {
  const ConfigStore& config = context.config;
  walkActionList(
      config, listName, u"reg_key", [&](std::uint32_t n, const std::u16string& location) {
        const std::u16string dwordKey = actionKey(listName, u"reg_dw_value", n);
        if (config.hasKey(dwordKey)) {
          writeRegistryDword(context.platform, location,
                             static_cast<std::uint32_t>(config.getInt(dwordKey, 0)));
        } else {
          writeRegistryString(context.platform, location,
                              config.getString(actionKey(listName, u"reg_str_value", n), u""));
        }
      });
}

void runRemoveRegistryActions(InstallerContext& context, std::u16string_view listName) {
  walkActionList(context.config, listName, u"remove_reg",
                 [&](std::uint32_t, const std::u16string& location) {
                   const RegistryLocation parsed = parseRegistryLocation(location);
                   deleteRegistryKey(context.platform, parsed.root, parsed.keyPath, parsed.name);
                 });
}

bool backupRegistry(InstallerContext& context, std::u16string_view listName) {
  RegistryBackup& backup = context.registryBackup;
  backup.dwords.clear();  // the string part keeps what it holds
  const std::uint32_t next = walkActionList(
      context.config, listName, u"backup_dw", [&](std::uint32_t, const std::u16string& location) {
        backup.dwords[location] = tryReadRegistryDword(context.platform, location);
      });
  // The string entries are numbered on from where the 32-bit entries stopped.
  walkActionList(
      context.config, listName, u"backup_str",
      [&](std::uint32_t, const std::u16string& location) {
        backup.strings[location] = tryReadRegistryString(context.platform, location);
      },
      next);
  return true;
}

}  // namespace autorun
