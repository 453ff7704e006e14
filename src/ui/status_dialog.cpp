#include "ui/status_dialog.h"

#include <memory>

#include "base/dialog_ids.h"
#include "context/installer_context.h"
#include "ui/question_dialog.h"

namespace autorun {

bool StatusDialogHandler::onInitDialog(WindowHandle dialog) {
  PlatformServices& platform = context_.platform;
  const int logoWidth = logoBoxWidth(context_);
  const int logoHeight = logoBoxHeight(context_);
  // Without the shell's set-up the dialog keeps its template layout and no logo.
  if (!platform.shellInitDialog(dialog, kShidiFullScreenWithDone)) return false;

  Rect client;
  platform.clientRect(dialog, client);
  const int clientWidth = client.width();
  if (const WindowHandle logo = platform.dialogItem(dialog, IDC_STATUS_LOGO); logo != 0) {
    platform.moveWindow(logo, clientWidth / 2 - logoWidth / 2, 10, logoWidth, logoHeight, true);
  }
  if (const WindowHandle text = platform.dialogItem(dialog, IDC_STATUS_TEXT); text != 0) {
    platform.moveWindow(text, 10, logoHeight + 20, clientWidth - 20, 20, true);
  }
  if (const WindowHandle bar = platform.dialogItem(dialog, IDC_STATUS_PROGRESS); bar != 0) {
    platform.moveWindow(bar, 10, logoHeight + 50, clientWidth - 20, 30, true);
  }
  platform.setForegroundWindow(dialog);
  context_.statusLogo.load(platform, logoPath(context_));
  return true;
}

bool StatusDialogHandler::onCommand(WindowHandle dialog, std::uint32_t commandId) {
  // The Done button (1) and command 16 only bring the dialog forward; it never closes.
  if (commandId == kStatusCommandDone || commandId == kStatusCommandToFront) {
    context_.platform.setForegroundWindow(dialog);
  }
  return true;
}

bool StatusDialogHandler::onPaint(WindowHandle dialog) {
  paintLogo(context_.platform, dialog, IDC_STATUS_LOGO, context_.statusLogo);
  return false;
}

WindowHandle openStatusDialog(InstallerContext& context) {
  // The handler lives as long as the context: the dialog stays open until the process ends.
  auto handler = std::make_unique<StatusDialogHandler>(context);
  StatusDialogHandler& running = *handler;
  context.statusDialogHandlers.push_back(std::move(handler));
  const WindowHandle dialog =
      context.platform.createModelessDialog(context.moduleHandle, IDD_STATUS, running);
  if (dialog == 0) context.statusDialogHandlers.pop_back();
  return dialog;
}

void setProgress(PlatformServices& platform, int position, WindowHandle statusDialog) {
  if (statusDialog == 0) return;
  platform.sendDialogItemMessage(statusDialog, IDC_STATUS_PROGRESS, kPbmSetPos,
                                 static_cast<std::uintptr_t>(static_cast<std::intptr_t>(position)),
                                 0);
  platform.updateWindow(statusDialog);
}

}  // namespace autorun
