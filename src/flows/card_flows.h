#pragma once

namespace autorun {
struct InstallerContext;
void onCardInserted(InstallerContext& context);
void onCardRemoved(InstallerContext& context);
}  // namespace autorun
