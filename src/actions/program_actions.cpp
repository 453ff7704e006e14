#include "actions/program_actions.h"

#include <string>

#include "actions/action_list.h"
#include "base/config_store.h"
#include "context/card_discovery.h"
#include "context/installer_context.h"

namespace autorun {

namespace {

// Loads every library of the list and calls `entry` in each; false when one could not be
// loaded. A library without the entry counts as loaded.
bool runDllActions(InstallerContext& context, std::u16string_view listName,
                   std::u16string_view kind, std::string_view entry) {
  bool allLoaded = true;
  walkActionList(context.config, listName, kind, [&](std::uint32_t, const std::u16string& path) {
    const std::unique_ptr<Library> library = context.platform.loadLibrary(path);
    if (!library) {
      allLoaded = false;
      return;
    }
    library->callEntry(entry);
  });
  return allLoaded;
}

WindowHandle findApplicationWindow(InstallerContext& context) {
  return context.platform.findWindow(context.config.getString(u"navigation/windowclass", u""),
                                     context.config.getString(u"navigation/windowname", u""));
}

}  // namespace

bool runRegisterDllActions(InstallerContext& context, std::u16string_view listName) {
  return runDllActions(context, listName, u"register_dll", "DllRegisterServer");
}

bool runUnregisterDllActions(InstallerContext& context, std::u16string_view listName) {
  return runDllActions(context, listName, u"unregister_dll", "DllUnregisterServer");
}

void launchApplication(InstallerContext& context) {
  // Plain concatenation: no separator is added or removed beyond these two.
  std::u16string path = specialFolderPath(context, context.launchFolderNumber);
  path += u'\\';
  path += context.config.getString(u"navigation/exe_dir", u"");
  path += u'\\';
  path += context.config.getString(u"navigation/exe", u"");
  context.platform.shellOpen(path);
}

bool isApplicationRunning(InstallerContext& context) {
  return findApplicationWindow(context) != 0;
}

void closeApplication(InstallerContext& context) {
  if (const WindowHandle window = findApplicationWindow(context)) {
    context.platform.postCloseRequest(window);
  }
}

}  // namespace autorun
