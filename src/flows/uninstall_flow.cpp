#include "flows/uninstall_flow.h"

#include "actions/copy_actions.h"
#include "actions/program_actions.h"
#include "actions/registry_actions.h"
#include "actions/shortcut_actions.h"
#include "context/installer_context.h"
#include "flows/install_flow.h"
#include "ui/message_boxes.h"

namespace autorun {

namespace {

constexpr std::u16string_view kUninstallList = u"uninstall_actions";

}  // namespace

void runUninstall(InstallerContext& context, bool interactive) {
  if (interactive && showMessageBox(context, MessageBoxId::UninstallQuestion) != kIdYes) {
    return;
  }
  // A running application stops only an uninstall the user asked for; a silent one
  // closes it and goes on.
  if (isApplicationRunning(context) && interactive) {
    showMessageBox(context, MessageBoxId::ApplicationRunning);
    return;
  }
  closeApplication(context);
  closeContactsWindow(context);

  // Kind by kind, each over all its entries before the next begins.
  runUnregisterDllActions(context, kUninstallList);
  runRemoveRegistryActions(context, kUninstallList);
  runRemoveLinkActions(context, kUninstallList);
  runRemoveFileActions(context, kUninstallList);
  runRemoveDirActions(context, kUninstallList);

  if (interactive) {
    showMessageBox(context, MessageBoxId::UninstallDone);
  }
}

void closeContactsWindow(InstallerContext& context) {
  PlatformServices& platform = context.platform;
  const std::u16string windowClass =
      context.config.getString(u"navigation/poclass", u"MSContactsUI");
  const WindowHandle window = platform.findWindowByClass(windowClass);
  if (window == 0) return;

  const std::unique_ptr<Process> process = platform.openWindowProcess(window);
  const bool posted = platform.postCloseRequest(window);
  // Not waited for any longer than this; the flow goes on whether it ended or not.
  if (posted && process) process->waitForExit(kProcessWaitMilliseconds);
}

void askReinstall(InstallerContext& context) {
  const int answer = showMessageBox(context, MessageBoxId::ReinstallQuestion);
  if (answer != kIdYes) return;
  runUninstall(context, false);
  runInstall(context, false);
}

}  // namespace autorun
