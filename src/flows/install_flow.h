#pragma once

namespace autorun {
struct InstallerContext;
struct CopyPlan;
// The installation's folders and copies, from "install_actions", walked on the card.
void planInstall(InstallerContext& context, CopyPlan& plan);
// Installs the application from the card; `interactive` asks first and starts it at the end.
bool runInstall(InstallerContext& context, bool interactive);
}  // namespace autorun
