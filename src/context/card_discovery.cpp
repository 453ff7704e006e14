#include "context/card_discovery.h"

#include <array>

#include "context/config_loader.h"
#include "context/installer_context.h"

namespace autorun {

namespace {

// Room for the enumerated cards; the last entry is fetched but never examined.
constexpr int kCardRoom = kMaxCardsExamined + 1;

}  // namespace

std::u16string installerFolder(InstallerContext& context) {
  std::u16string path = context.platform.moduleFileName(context.moduleHandle);
  const std::size_t slash = path.rfind(u'\\');
  if (slash == std::u16string::npos) return {};
  path.resize(slash);
  return path;
}

std::u16string findCardFolder(InstallerContext& context) {
  if (context.config.getInt(u"common/dont_find_sd", 0) != 0) return installerFolder(context);

  std::array<std::u16string, kCardRoom> cards;
  int examined = 0;
  {
    std::unique_ptr<CardEnumeration> enumeration = context.platform.findFirstCard(cards[0]);
    if (!enumeration) return {};
    int entry = 1;
    while (entry < kCardRoom && enumeration->next(cards[entry])) ++entry;
    examined = entry < kCardRoom ? entry : kMaxCardsExamined;
  }

  for (int k = 0; k < examined; ++k) {
    std::u16string path = u"\\" + cards[k] + u"\\";
    path += kAutorunFolderName;
    path += u"\\";
    path += kConfigurationFileName;
    if (fileReadable(context.platform, path)) return u"\\" + cards[k];
  }

  // No card carries the file: the folder two levels above the installer file.
  std::u16string path = context.platform.moduleFileName(context.moduleHandle);
  for (int cut = 0; cut < 2; ++cut) {
    const std::size_t slash = path.rfind(u'\\');
    if (slash == std::u16string::npos) return {};
    path.resize(slash);
  }
  if (path.empty()) return u"\\";
  return path;
}

std::u16string specialFolderPath(InstallerContext& context, int number) {
  if (number == kSpecialFolderNone) return {};
  return context.platform.specialFolderPath(number);
}

bool fileReadable(PlatformServices& platform, const std::u16string& path) {
  return platform.openFile(path, FileOpenMode::ReadShared) != nullptr;
}

}  // namespace autorun
