#include "flows/card_flows.h"

#include <optional>

#include "actions/copy_actions.h"
#include "actions/program_actions.h"
#include "actions/registry_actions.h"
#include "actions/shortcut_actions.h"
#include "context/installer_context.h"
#include "flows/upgrade_flow.h"
#include "ui/message_boxes.h"

namespace autorun {

namespace {

constexpr std::u16string_view kInsertList = u"card_insert_actions";
constexpr std::u16string_view kRemoveList = u"card_remove_actions";

// Saved Today value meaning "the item was already on": leave it alone on both sides.
constexpr std::uint32_t kTodayWasOn = 2;

std::u16string setting(const InstallerContext& context, std::u16string_view key) {
  return context.config.getString(key, u"");
}

// Puts the Today item back as it was before the card went out.
void restoreTodayItem(InstallerContext& context) {
  PlatformServices& platform = context.platform;
  const std::u16string todayLocation = setting(context, u"registry/today_enabled");
  const std::u16string savedLocation = setting(context, u"registry/today_enabled_save");

  const std::uint32_t saved = readRegistryDword(platform, savedLocation);
  std::uint32_t restore = 1;  // nothing saved: switch the item on
  if (saved != kAbsentMarker) {
    restore = readRegistryDword(platform, todayLocation) == 1 ? kTodayWasOn : saved;
  }
  if (restore != kTodayWasOn) writeRegistryDword(platform, todayLocation, restore);
  writeRegistryDword(platform, savedLocation, restore);
}

// The question for a card that carries another build, or none.
std::optional<MessageBoxId> updateQuestion(InstallerContext& context) {
  if (compareVersionStamps(context) == 1) return MessageBoxId::UpdateNewer;
  if (compareVersionStamps(context) == -1) return MessageBoxId::UpdateOlder;
  return std::nullopt;
}

void offerUpdate(InstallerContext& context) {
  const std::optional<MessageBoxId> question = updateQuestion(context);
  if (!question) return;
  const int answer = showMessageBox(context, *question);
  if (answer == kIdYes) runUpgrade(context);
}

}  // namespace

void onCardInserted(InstallerContext& context) {
  PlatformServices& platform = context.platform;
  restoreTodayItem(context);

  // Folders are not made here: a copy into a missing folder is skipped like any failure.
  CopyPlan plan;
  collectCopyActions(context, kInsertList, plan);
  copyJobsOnly(context, plan);

  runLinkActions(context, kInsertList);
  runRegistryActions(context, kInsertList);
  runRemoveRegistryActions(context, kInsertList);
  platform.broadcastSettingChange();

  offerUpdate(context);

  if (readRegistryDword(platform, setting(context, u"registry/autorun")) == 1) {
    launchApplication(context);
  }
}

void onCardRemoved(InstallerContext& context) {
  PlatformServices& platform = context.platform;
  closeApplication(context);

  const std::u16string todayLocation = setting(context, u"registry/today_enabled");
  const std::u16string savedLocation = setting(context, u"registry/today_enabled_save");
  const std::uint32_t previouslySaved = readRegistryDword(platform, savedLocation);
  const std::uint32_t today = readRegistryDword(platform, todayLocation);
  // An unreadable today value is saved as the absent marker: nothing saved next time.
  writeRegistryDword(platform, savedLocation, today);
  if (previouslySaved != kTodayWasOn) writeRegistryDword(platform, todayLocation, 0);

  runRemoveLinkActions(context, kRemoveList);
  runRemoveRegistryActions(context, kRemoveList);
  runRegistryActions(context, kRemoveList);
  platform.broadcastSettingChange();
}

}  // namespace autorun
