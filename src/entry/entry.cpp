#include "entry/entry.h"

#include <string_view>

#include "actions/registry_actions.h"
#include "base/wide_text.h"
#include "context/card_discovery.h"
#include "context/config_loader.h"
#include "context/installer_context.h"
#include "flows/card_flows.h"
#include "flows/install_flow.h"
#include "flows/uninstall_flow.h"
#include "ui/message_boxes.h"

namespace autorun {

namespace {

constexpr std::u16string_view kInstallCommand = u"install";
constexpr std::u16string_view kUninstallCommand = u"uninstall";
constexpr std::u16string_view kUninstallerSuffix = u"\\uninstall.exe";

}  // namespace

int StartupSteps::loadConfiguration(InstallerContext& context) {
  return autorun::loadConfiguration(context);
}

bool StartupSteps::runInstall(InstallerContext& context, bool interactive) {
  return autorun::runInstall(context, interactive);
}

void StartupSteps::runUninstall(InstallerContext& context, bool interactive) {
  autorun::runUninstall(context, interactive);
}

void StartupSteps::askReinstall(InstallerContext& context) {
  autorun::askReinstall(context);
}

void StartupSteps::onCardInserted(InstallerContext& context) {
  autorun::onCardInserted(context);
}

void StartupSteps::onCardRemoved(InstallerContext& context) {
  autorun::onCardRemoved(context);
}

void publishFolderVariables(InstallerContext& context) {
  ConfigStore& config = context.config;
  config.applyVariable(u"PERSONAL", specialFolderPath(context, kSpecialFolderPersonal));
  config.applyVariable(u"PROGRAM_FILES", specialFolderPath(context, kSpecialFolderProgramFiles));
  config.applyVariable(u"WINDOWS", specialFolderPath(context, kSpecialFolderWindows));
  config.applyVariable(u"PROGRAMS", specialFolderPath(context, kSpecialFolderPrograms));
  config.applyVariable(u"SDCARD", findCardFolder(context));
}

bool isInstalled(InstallerContext& context) {
  const std::u16string location = context.config.getString(u"registry/installed", u"");
  return readRegistryDword(context.platform, location) == 1;
}

bool isUninstallerName(const std::u16string& installerPath) {
  return endsWith(installerPath, kUninstallerSuffix);
}

int runEntry(InstallerContext& context, ModuleHandle module, const std::u16string& commandLine,
             StartupSteps& steps) {
  context.moduleHandle = module;
  context.commandLine = commandLine;

  const int loadResult = steps.loadConfiguration(context);
  // Published before the result is looked at; nothing reads them after a failed load.
  publishFolderVariables(context);
  if (loadResult != kLoadOk) return loadResult;

  if (commandLine == kInstallCommand) {
    if (isInstalled(context)) {
      steps.onCardInserted(context);
    } else {
      steps.runInstall(context, true);
    }
    return kExitOk;
  }

  if (commandLine == kUninstallCommand) {
    // A preinstalled application stays when its card is taken out; the mark is not read.
    if (context.config.getInt(u"common/preinstalled", 0) == 1) return kExitPreinstalled;
    if (isInstalled(context)) steps.onCardRemoved(context);
    return kExitOk;
  }

  const bool installed = isInstalled(context);
  if (isUninstallerName(context.installerPath)) {
    if (installed) {
      steps.runUninstall(context, true);
    } else {
      showMessageBox(context, MessageBoxId::NotInstalled);
    }
  } else if (installed) {
    steps.askReinstall(context);
  } else {
    steps.runInstall(context, true);
  }
  return kExitOk;
}

int runEntry(InstallerContext& context, ModuleHandle module, const std::u16string& commandLine) {
  StartupSteps steps;
  return runEntry(context, module, commandLine, steps);
}

}  // namespace autorun
