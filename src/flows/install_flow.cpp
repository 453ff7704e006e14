#include "flows/install_flow.h"

#include "actions/action_list.h"
#include "actions/copy_actions.h"
#include "actions/program_actions.h"
#include "actions/registry_actions.h"
#include "actions/shortcut_actions.h"
#include "base/wide_text.h"
#include "context/card_discovery.h"
#include "context/installer_context.h"
#include "flows/card_flows.h"
#include "ui/message_boxes.h"
#include "ui/question_dialog.h"
#include "ui/status_dialog.h"

namespace autorun {

namespace {

constexpr std::u16string_view kInstallList = u"install_actions";

// False, after telling the user, when the programs folder's volume cannot take the copies.
// A volume whose free space cannot be told is not held against the installation.
bool checkFreeSpace(InstallerContext& context, const CopyPlan& plan) {
  PlatformServices& platform = context.platform;
  const std::optional<std::uint64_t> free =
      platform.freeBytes(specialFolderPath(context, kSpecialFolderPrograms));
  if (!free || *free >= plan.totalBytes) return true;

  showMessageBox(context, MessageBoxId::NoFreeSpace, decimalUnsigned(plan.totalBytes));
  return false;
}

}  // namespace

bool runInstall(InstallerContext& context, bool interactive) {
  if (interactive && !askInstallQuestion(context)) return false;

  // Stays open until the process ends.
  const WindowHandle statusDialog = openStatusDialog(context);

  CopyPlan plan;
  planInstallCopies(context, plan);
  if (!checkFreeSpace(context, plan)) return false;
  // Nothing is undone after a failure; what was made and copied so far stays.
  if (!performCopyPlan(context, plan, statusDialog)) return false;

  runRegistryActions(context, kInstallList);
  runLinkActions(context, kInstallList);
  runRegisterDllActions(context, kInstallList);

  PlatformServices& platform = context.platform;
  const ConfigStore& config = context.config;
  writeRegistryDword(platform, config.getString(u"registry/installed", u""), 1);
  writeRegistryString(platform, config.getString(u"registry/cardpath", u""),
                      findCardFolder(context));

  onCardInserted(context);
  if (interactive) launchApplication(context);
  return true;
}

}  // namespace autorun
