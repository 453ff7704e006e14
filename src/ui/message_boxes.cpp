#include "ui/message_boxes.h"

#include "base/config_store.h"
#include "context/installer_context.h"
#include "platform/platform_services.h"

namespace autorun {

namespace {

constexpr MessageBoxEntry kMessageBoxes[] = {
    {MessageBoxId::CopyFailed, "copy-failed", u"", u"Can't copy:\n%s", u"", kMbErrorStyle, true},
    {MessageBoxId::LinkFailed, "link-failed", u"", u"Cannot create link file: %s!", u"",
     kMbErrorStyle, true},
    {MessageBoxId::NoFreeSpace, "no-free-space", u"error/freespace", u"", u"install/title", kMbOk,
     true},
    {MessageBoxId::ReinstallQuestion, "reinstall-question", u"reinstall/question", u"",
     u"uninstall/title", kMbQuestionStyle, false},
    {MessageBoxId::UpdateNewer, "update-newer", u"update/newer", u"", u"update/title",
     kMbQuestionStyle, false},
    {MessageBoxId::UpdateOlder, "update-older", u"update/older", u"", u"update/title",
     kMbQuestionStyle, false},
    {MessageBoxId::UninstallQuestion, "uninstall-question", u"uninstall/question", u"",
     u"uninstall/title", kMbQuestionStyle, false},
    {MessageBoxId::ApplicationRunning, "application-running", u"error/running", u"",
     u"uninstall/title", kMbOk, false},
    {MessageBoxId::UninstallDone, "uninstall-done", u"uninstall/ready", u"", u"uninstall/title",
     kMbOkForegroundTopmost, false},
    {MessageBoxId::NotInstalled, "not-installed", u"uninstall/notinstalled", u"",
     u"uninstall/title", kMbWarningStyle, false},
};

}  // namespace

std::span<const MessageBoxEntry> messageBoxTable() {
  return kMessageBoxes;
}

const MessageBoxEntry& messageBoxEntry(MessageBoxId id) {
  for (const MessageBoxEntry& box : kMessageBoxes) {
    if (box.id == id) return box;
  }
  return kMessageBoxes[0];  // unreachable: every id has a row
}

std::u16string messageBoxText(const InstallerContext& context, MessageBoxId id,
                              std::u16string_view detail) {
  const MessageBoxEntry& box = messageBoxEntry(id);
  std::u16string text = box.textKey.empty() ? std::u16string(box.fixedText)
                                            : context.config.getString(box.textKey, u"");
  if (box.takesDetail) {
    if (const std::size_t at = text.find(u"%s"); at != std::u16string::npos) {
      text.replace(at, 2, detail);
    }
  }
  return text;
}

std::u16string messageBoxTitle(const InstallerContext& context, MessageBoxId id) {
  const MessageBoxEntry& box = messageBoxEntry(id);
  if (box.titleKey.empty()) return context.installerPath;
  return context.config.getString(box.titleKey, u"");
}

int showMessageBox(InstallerContext& context, MessageBoxId id, std::u16string_view detail) {
  return context.platform.messageBox(messageBoxText(context, id, detail),
                                     messageBoxTitle(context, id), messageBoxEntry(id).style);
}

}  // namespace autorun
