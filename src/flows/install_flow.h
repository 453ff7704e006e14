#pragma once

namespace autorun {
struct InstallerContext;
// Installs the application from the card; `interactive` asks first and starts it at the end.
bool runInstall(InstallerContext& context, bool interactive);
}  // namespace autorun
