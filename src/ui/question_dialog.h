// The full-screen install question with the configured logo.
#pragma once

#include <string>

#include "platform/platform_services.h"

namespace autorun {

struct InstallerContext;

// The logo's path on the card: card folder \ navigation/sd_dir \ common/logo.
std::u16string logoPath(InstallerContext& context);

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
