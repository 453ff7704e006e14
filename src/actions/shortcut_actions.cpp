#include "actions/shortcut_actions.h"

#include <limits>

#include "actions/action_list.h"
#include "base/config_store.h"
#include "context/installer_context.h"
#include "platform/platform_services.h"
#include "ui/message_boxes.h"

namespace autorun {

bool createShortcut(InstallerContext& context, const std::u16string& linkPath,
                    const std::u16string& targetPath) {
  PlatformServices& platform = context.platform;
  // Shortcuts are made only to programs that exist.
  if (!platform.openFile(targetPath, FileOpenMode::ReadShared)) return false;

  const std::unique_ptr<File> link = platform.openFile(linkPath, FileOpenMode::WriteTruncate);
  if (!link) {
    showMessageBox(context, MessageBoxId::LinkFailed, linkPath);
    return false;
  }

  // 1#"target": the leading 1 is fixed, not a length. No NUL, line break or byte-order mark.
  std::string content = "1#\"";
  content += platform.toMultiByte(targetPath);
  content += '"';
  if (content.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  const auto size = static_cast<std::uint32_t>(content.size());
  std::uint32_t written = 0;
  if (!link->write(content.data(), size, written)) return false;
  return written == size;
}

void runLinkActions(InstallerContext& context, std::u16string_view listName) {
  walkActionList(context.config, listName, u"link_name",
                 [&](std::uint32_t n, const std::u16string& linkPath) {
                   const std::u16string target =
                       context.config.getString(actionKey(listName, u"link_prg", n), u"");
                   createShortcut(context, linkPath, target);
                 });
}

void runRemoveLinkActions(InstallerContext& context, std::u16string_view listName) {
  walkActionList(context.config, listName, u"remove_link",
                 [&](std::uint32_t, const std::u16string& path) {
                   // Taken literally; a path the device cannot hold names nothing.
                   if (path.size() <= kMaxPathLength) context.platform.deleteFile(path);
                 });
}

}  // namespace autorun
