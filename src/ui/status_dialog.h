// The modeless status dialog with logo and progress bar, shown while installing.
#pragma once

#include "platform/platform_services.h"

namespace autorun {

struct InstallerContext;

class StatusDialogHandler : public DialogHandler {
 public:
  explicit StatusDialogHandler(InstallerContext& context) : context_(context) {}
  bool onInitDialog(WindowHandle dialog) override;
  bool onCommand(WindowHandle dialog, std::uint32_t commandId) override;
  bool onPaint(WindowHandle dialog) override;

 private:
  InstallerContext& context_;
};

// Opens a further status dialog; 0 when it cannot be created.
WindowHandle openStatusDialog(InstallerContext& context);
// Moves the progress bar to `position` (0..100) and repaints the dialog at once.
void setProgress(PlatformServices& platform, int position, WindowHandle statusDialog);

}  // namespace autorun
