#include "ui/question_dialog.h"

#include "base/dialog_ids.h"
#include "context/card_discovery.h"
#include "context/installer_context.h"

namespace autorun {
namespace {

// Moves a control when it exists, repainting it.
void place(PlatformServices& platform, WindowHandle control, int x, int y, int width, int height) {
  if (control != 0) platform.moveWindow(control, x, y, width, height, true);
}

}  // namespace

std::u16string logoPath(InstallerContext& context) {
  // Separators are kept as they are: an empty folder name leaves two side by side.
  return findCardFolder(context) + u"\\" + context.config.getString(u"navigation/sd_dir", u"") +
         u"\\" + context.config.getString(u"common/logo", u"");
}

int logoBoxWidth(const InstallerContext& context) {
  return context.config.getInt(u"common/logo_width", 0);
}

int logoBoxHeight(const InstallerContext& context) {
  return context.config.getInt(u"common/logo_height", 0);
}

bool QuestionDialogHandler::onInitDialog(WindowHandle dialog) {
  PlatformServices& platform = context_.platform;
  // Without the shell's help the dialog keeps its template size; the layout still applies.
  platform.shellInitDialog(dialog, kShidiFullScreen);

  const WindowHandle yes = platform.dialogItem(dialog, IDC_QUESTION_YES);
  const WindowHandle no = platform.dialogItem(dialog, IDC_QUESTION_NO);
  const WindowHandle logo = platform.dialogItem(dialog, IDC_QUESTION_LOGO);
  const WindowHandle text = platform.dialogItem(dialog, IDC_QUESTION_TEXT);
  if (text != 0) {
    platform.setWindowText(text, context_.config.getString(u"install/question", u""));
  }

  Rect client;
  platform.clientRect(dialog, client);
  Rect textRect;
  if (text != 0) platform.windowRect(text, textRect);
  const int clientWidth = client.width();
  const int clientHeight = client.height();
  const int textWidth = textRect.width();
  const int textHeight = textRect.height();
  const int logoWidth = logoBoxWidth(context_);
  const int logoHeight = logoBoxHeight(context_);

  place(platform, text, (clientWidth - textWidth) / 2, 10, textWidth, textHeight);
  place(platform, yes, 10, clientHeight - 35, 60, 25);
  place(platform, no, clientWidth - 70, clientHeight - 35, 60, 25);
  place(platform, logo, (clientWidth - logoWidth) / 2, textHeight + 20, logoWidth, logoHeight);

  // A missing or unusable logo is silent: the control keeps its built-in picture.
  context_.questionLogo.load(platform, logoPath(context_));
  platform.setWindowText(dialog, context_.config.getString(u"install/title", u""));
  return true;
}

bool QuestionDialogHandler::onCommand(WindowHandle dialog, std::uint32_t commandId) {
  if (commandId == IDC_QUESTION_YES || commandId == IDC_QUESTION_NO) {
    context_.installAnswer = commandId == IDC_QUESTION_YES;
    context_.platform.endDialog(dialog, 0);
  }
  return true;
}

bool QuestionDialogHandler::onPaint(WindowHandle dialog) {
  paintLogo(context_.platform, dialog, IDC_QUESTION_LOGO, context_.questionLogo);
  return false;
}

void paintLogo(PlatformServices& platform, WindowHandle dialog, int controlId,
               const LogoImage& image) {
  const WindowHandle control = platform.dialogItem(dialog, controlId);
  if (control == 0) return;
  const DrawingSurface surface = platform.beginPaint(control);
  if (surface != 0) {
    image.draw(platform, surface, 0, 0, 0, kLogoMaxWidth, 0, kLogoMaxHeight);
  }
  platform.endPaint(control, surface);
}

bool askInstallQuestion(InstallerContext& context) {
  QuestionDialogHandler handler(context);
  const int result = context.platform.runModalDialog(context.moduleHandle, IDD_QUESTION, handler);
  // A dialog that could not be run counts as No.
  return result == 0 ? context.installAnswer : false;
}

}  // namespace autorun
