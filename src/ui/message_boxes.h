// The message boxes the installer shows: for each, where its text and title come from and
// which buttons and icon it has. The flows show them through showMessageBox; the dialog
// preview draws every one from the same table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace autorun {

struct InstallerContext;

enum class MessageBoxId {
  CopyFailed,
  LinkFailed,
  NoFreeSpace,
  UninstallQuestion,
  ApplicationRunning,
  UninstallDone,
  ReinstallQuestion,
  UpdateNewer,
  UpdateOlder,
  NotInstalled,
};

struct MessageBoxEntry {
  MessageBoxId id;
  std::string_view name;          // a short name for reports and pictures
  std::u16string_view textKey;    // the configuration key of the text; empty: fixedText
  std::u16string_view fixedText;  // the installer's own text when there is no key
  std::u16string_view titleKey;   // the configuration key of the title; empty: installer path
  std::uint32_t style;            // buttons and icon (kMb...)
  // The first "%s" left in the text receives a detail: a path or a size.
  bool takesDetail;
};

// Every message box, in the order a reader meets them.
std::span<const MessageBoxEntry> messageBoxTable();
const MessageBoxEntry& messageBoxEntry(MessageBoxId id);

// The text and title as the loaded configuration gives them; `detail` fills the first "%s"
// of the text of a box that takes one.
std::u16string messageBoxText(const InstallerContext& context, MessageBoxId id,
                              std::u16string_view detail = {});
std::u16string messageBoxTitle(const InstallerContext& context, MessageBoxId id);

// Shows the box; the button pressed (kIdOk, kIdYes, kIdNo), 0 when it cannot be shown.
int showMessageBox(InstallerContext& context, MessageBoxId id, std::u16string_view detail = {});

}  // namespace autorun
