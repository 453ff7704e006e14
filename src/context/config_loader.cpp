#include "context/config_loader.h"

#include "base/config_codec.h"
#include "base/config_store.h"
#include "base/wide_text.h"
#include "context/card_discovery.h"
#include "context/installer_context.h"

namespace autorun {

namespace {

// The message texts that receive the brand (or, for "error/tail", the website), in the
// order in which they are filled.
struct MessageText {
  std::u16string_view key;
  bool website;
};
constexpr MessageText kMessageTexts[] = {
    {u"install/title", false},   {u"install/ready", false},          {u"install/question", false},
    {u"update/title", false},    {u"update/ready", false},           {u"reinstall/question", false},
    {u"uninstall/title", false}, {u"uninstall/ready", false},        {u"uninstall/question", false},
    {u"uninstall/link", false},  {u"uninstall/notinstalled", false}, {u"error/tail", true},
    {u"error/freespace", false},
};

std::u16string systemCopyPath(InstallerContext& context) {
  std::u16string path = specialFolderPath(context, kSpecialFolderWindows);
  path += u"\\";
  path += kConfigurationFileName;
  return path;
}

}  // namespace

void fillMessageTexts(ConfigStore& store) {
  const std::u16string brand = store.getString(u"common/brand", u"");
  const std::u16string website = store.getString(u"common/website", u"");
  for (const MessageText& text : kMessageTexts) {
    store.fillPlaceholder(text.key, text.website ? website : brand);
  }
}

int loadConfiguration(InstallerContext& context) {
  context.installerPath = foldLower(context.platform.moduleFileName(context.moduleHandle));

  // The system copy only tells whether the device is preinstalled.
  const int systemResult = loadConfigurationFile(context, systemCopyPath(context));
  const std::int32_t preinstalled =
      systemResult == kLoadOk ? context.config.getInt(u"common/preinstalled", 0) : 0;
  context.config.clear();

  const int result = loadConfigurationFile(context, std::u16string());
  if (result != kLoadOk && context.commandLine != u"uninstall") {
    context.platform.messageBox(fatalLoadMessage(result), u"Error", kMbErrorStyle);
  }
  if (preinstalled == 1 && context.config.getInt(u"common/preinstalled", 0) != 1) {
    return kLoadPreinstalled;
  }
  return result;
}

int loadConfigurationFile(InstallerContext& context, std::u16string path) {
  PlatformServices& platform = context.platform;
  if (path.empty()) path = findConfigurationFile(context);

  std::optional<std::uint64_t> size;
  {
    std::unique_ptr<File> file = platform.openFile(path, FileOpenMode::ReadExclusive);
    if (!file) {
      path = systemCopyPath(context);
      file = platform.openFile(path, FileOpenMode::ReadExclusive);
      if (!file) return kLoadCannotOpen;
    }
    size = file->size();
  }
  // A size that cannot be told counts as too large.
  if (!size || *size > kMaxConfigurationFileSize) return kLoadCannotOpen;

  const std::string& key = context.configurationKey;
  readConfigurationFile(platform, context.config, path,
                        reinterpret_cast<const std::uint8_t*>(key.data()),
                        static_cast<std::uint32_t>(key.size()));

  // A configuration whose references exceed the store's bound is never used altered.
  if (context.config.expansionLimitReached() || !context.config.hasKey(u"common/brand") ||
      !context.config.hasKey(u"common/website")) {
    return kLoadInvalid;
  }
  fillMessageTexts(context.config);
  context.launchFolderNumber =
      folderIdFromName(context.config.getString(u"navigation/exe_parent", u""));
  return kLoadOk;
}

std::u16string findConfigurationFile(InstallerContext& context) {
  std::u16string path = findCardFolder(context);
  path += u"\\";
  path += kAutorunFolderName;
  path += u"\\";
  path += kConfigurationFileName;
  if (context.platform.fileAttributes(path) != kInvalidAttributes) return path;

  path = installerFolder(context);
  path += u"\\";
  path += kConfigurationFileName;
  return path;
}

int folderIdFromName(std::u16string_view name) {
  if (name == u"PROGRAM_FILES") return kSpecialFolderProgramFiles;
  if (name == u"WINDOWS") return kSpecialFolderWindows;
  if (name == u"PERSONAL") return kSpecialFolderPersonal;
  return kSpecialFolderNone;
}

std::u16string fatalLoadMessage(int loadResult) {
  switch (loadResult) {
    case kLoadCannotOpen:
      return u"Fatal error: cannot open configuration file. (1)";
    case 2:
      return u"Fatal error: configuration is invalid. (2)";
    case kLoadInvalid:
      return u"Fatal error: configuration is invalid. (3)";
    default:
      return u"Fatal error: cannot open configuration file.";
  }
}

}  // namespace autorun
