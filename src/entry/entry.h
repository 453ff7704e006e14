// The installer's entry: load the configuration, publish the folder variables, choose and
// run one flow by the command line, the own file name and the installed mark.
#pragma once

#include <string>

#include "platform/platform_services.h"

namespace autorun {

struct InstallerContext;

// Process exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitCannotOpen = 1;
inline constexpr int kExitInvalid = 3;
inline constexpr int kExitPreinstalled = 4;

// What the entry calls of the later steps; the default calls the real operations.
// Tests substitute it to watch the dispatch.
class StartupSteps {
 public:
  virtual ~StartupSteps() = default;
  virtual int loadConfiguration(InstallerContext& context);
  virtual bool runInstall(InstallerContext& context, bool interactive);
  virtual void runUninstall(InstallerContext& context, bool interactive);
  virtual void askReinstall(InstallerContext& context);
  virtual void onCardInserted(InstallerContext& context);
  virtual void onCardRemoved(InstallerContext& context);
};

// Runs the installer; returns the process exit code.
int runEntry(InstallerContext& context, ModuleHandle module, const std::u16string& commandLine,
             StartupSteps& steps);
int runEntry(InstallerContext& context, ModuleHandle module, const std::u16string& commandLine);

// Publishes PERSONAL, PROGRAM_FILES, WINDOWS, PROGRAMS and SDCARD, in this order.
void publishFolderVariables(InstallerContext& context);
// Whether the registry value named by "registry/installed" is 1.
bool isInstalled(InstallerContext& context);
// The own-name test: the installer path ends with "\uninstall.exe".
bool isUninstallerName(const std::u16string& installerPath);

}  // namespace autorun
