// DLL registration, starting the navigation program and finding its window.
#pragma once

#include <string_view>

namespace autorun {

struct InstallerContext;

bool runRegisterDllActions(InstallerContext& context, std::u16string_view listName);
bool runUnregisterDllActions(InstallerContext& context, std::u16string_view listName);
void launchApplication(InstallerContext& context);
bool isApplicationRunning(InstallerContext& context);
void closeApplication(InstallerContext& context);

}  // namespace autorun
