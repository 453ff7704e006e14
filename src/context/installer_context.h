// Everything the installer's run shares: the process-wide values, the configuration,
// the registry backup and the dialogs' logos. The entry creates one; the flows receive it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/config_store.h"
#include "base/logo_image.h"
#include "base/registry_backup.h"
#include "platform/platform_services.h"

namespace autorun {

class DialogHandler;

struct InstallerContext {
  InstallerContext(PlatformServices& devicePlatform, std::string cipherKey)
      : platform(devicePlatform), configurationKey(std::move(cipherKey)) {}
  ~InstallerContext();
  InstallerContext(const InstallerContext&) = delete;
  InstallerContext& operator=(const InstallerContext&) = delete;

  PlatformServices& platform;
  // The key the configuration files are enciphered with (ASCII letters and digits).
  std::string configurationKey;

  ModuleHandle moduleHandle = 0;
  std::u16string commandLine;
  std::u16string installerPath;  // own module path, folded to lower case
  int launchFolderNumber = -1;

  ConfigStore config;
  RegistryBackup registryBackup;

  LogoImage questionLogo;
  LogoImage statusLogo;
  bool installAnswer = false;

  // Handlers of the status dialogs opened so far; they stay open until the process ends.
  std::vector<std::unique_ptr<DialogHandler>> statusDialogHandlers;
};

}  // namespace autorun
