#pragma once

namespace autorun {
struct InstallerContext;
void runUninstall(InstallerContext& context, bool interactive);
void askReinstall(InstallerContext& context);
void closeContactsWindow(InstallerContext& context);
}  // namespace autorun
