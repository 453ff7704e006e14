// The full-screen install question with the configured logo.
#pragma once

#include <string>

#include "platform/platform_services.h"

namespace autorun {

struct InstallerContext;
class LogoImage;

// The largest logo the dialogs paint, in pixels; larger ones are silently left out.
inline constexpr int kLogoMaxWidth = 240;
inline constexpr int kLogoMaxHeight = 100;

// The logo's path on the card: card folder \ navigation/sd_dir \ common/logo.
std::u16string logoPath(InstallerContext& context);
// The logo control's size in pixels: common/logo_width and common/logo_height, 0 when unset.
int logoBoxWidth(const InstallerContext& context);
int logoBoxHeight(const InstallerContext& context);
// Paints `image` at the top left of the dialog's control `controlId`, when it fits the
// largest logo size.
void paintLogo(PlatformServices& platform, WindowHandle dialog, int controlId,
               const LogoImage& image);

class QuestionDialogHandler : public DialogHandler {
 public:
  explicit QuestionDialogHandler(InstallerContext& context) : context_(context) {}
  bool onInitDialog(WindowHandle dialog) override;
  bool onCommand(WindowHandle dialog, std::uint32_t commandId) override;
  bool onPaint(WindowHandle dialog) override;

 private:
  InstallerContext& context_;
};

// Runs the question dialog; true when the user answered Yes.
bool askInstallQuestion(InstallerContext& context);

}  // namespace autorun
