// The modeless status dialog with logo and progress bar, shown while installing.
#pragma once

#include "platform/platform_services.h"

namespace autorun {

struct InstallerContext;

// Commands that bring the status dialog forward: its Done button, and 16.
inline constexpr std::uint32_t kStatusCommandDone = 1;
inline constexpr std::uint32_t kStatusCommandToFront = 16;

class StatusDialogHandler : public DialogHandler {
 public:
  explicit StatusDialogHandler(InstallerContext& context) : context_(context) {}
  bool onInitDialog(WindowHandle dialog) override;
  bool onCommand(WindowHandle dialog, std::uint32_t commandId) override;
  bool onPaint(WindowHandle dialog) override;

 private:
  InstallerContext& context_;
};

// Opens a further status dialog; 0 when it cannot be created. Its handler is kept in
// context.statusDialogHandlers until the context ends.
WindowHandle openStatusDialog(InstallerContext& context);
// Moves the progress bar to `position` (0..100) and repaints the dialog at once. Does
// nothing when `statusDialog` is 0.
void setProgress(PlatformServices& platform, int position, WindowHandle statusDialog);

}  // namespace autorun
