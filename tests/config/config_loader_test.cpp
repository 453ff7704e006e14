#include "context/config_loader.h"

#include <gtest/gtest.h>

#include <string>

#include "common/config_text.h"
#include "context/installer_context.h"
#include "support/memory_platform.h"
#include "support/test_keys.h"

namespace autorun {
namespace {

using testing::Bytes;
using testing::kOtherKey;
using testing::kTestKey;
using testing::MemoryPlatform;

const std::u16string kCardFile = u"\\Storage Card\\2577\\autorun_8.qlm";
const std::u16string kSystemFile = u"\\Windows\\autorun_8.qlm";
const std::u16string kFatal1 = u"Fatal error: cannot open configuration file. (1)";
const std::u16string kFatal3 = u"Fatal error: configuration is invalid. (3)";

const std::u16string kCardText =
    u"[common]\r\n"
    u"brand = \"Atlas\"\r\n"
    u"website = \"www.atlas-nav.example\"\r\n"
    u"[navigation]\r\n"
    u"exe_parent = \"PROGRAM_FILES\"\r\n"
    u"[install]\r\n"
    u"title = \"%s setup\"\r\n";

const std::u16string kSystemText =
    u"[common]\r\n"
    u"brand = \"System\"\r\n"
    u"website = \"www.system.example\"\r\n"
    u"preinstalled = \"1\"\r\n"
    u"[install]\r\n"
    u"title = \"%s preinstalled\"\r\n";

Bytes file(std::u16string_view text, std::string_view key = kTestKey) {
  return host::encipherConfigurationText(text, key);
}

// A card-file text padded with a comment line to exactly `bytes` bytes once enciphered.
std::u16string paddedTo(std::u16string text, std::size_t bytes) {
  const std::size_t units = (bytes - 2) / 2;
  text += u";";
  text.append(units - text.size(), u'x');
  return text;
}

struct Installer {
  MemoryPlatform device;
  InstallerContext context{device, std::string(kTestKey)};
};

TEST(LoadConfiguration, LoadsTheCardConfigurationAndPreparesTheTexts) {
  Installer installer;
  installer.device.modulePath = u"\\Storage Card\\2577\\AutoRun.exe";
  installer.device.files[kCardFile] = file(kCardText);
  InstallerContext& context = installer.context;

  EXPECT_EQ(loadConfiguration(context), kLoadOk);
  EXPECT_TRUE(installer.device.boxes.empty());
  EXPECT_EQ(context.installerPath, u"\\storage card\\2577\\autorun.exe");
  EXPECT_EQ(context.config.getString(u"install/title", u""), u"Atlas setup");
  EXPECT_EQ(context.launchFolderNumber, 38);
}

TEST(LoadConfiguration, ReportsFailuresUnlessUninstalling) {
  struct Case {
    const char* what;
    std::u16string_view cardText;  // empty: no file on the card
    std::u16string commandLine;
    int expected;
    std::u16string message;  // empty: no message box
  };
  const Case cases[] = {
      {"no file anywhere", u"", u"", kLoadCannotOpen, kFatal1},
      {"no file, install", u"", u"install", kLoadCannotOpen, kFatal1},
      {"no file, uninstall", u"", u"uninstall", kLoadCannotOpen, u""},
      {"no file, other case", u"", u"UNINSTALL", kLoadCannotOpen, kFatal1},
      {"no website", u"[common]\r\nbrand = \"Atlas\"", u"", kLoadInvalid, kFatal3},
      {"no brand", u"[common]\r\nwebsite = \"w\"", u"", kLoadInvalid, kFatal3},
      {"no brand, uninstall", u"[common]\r\nwebsite = \"w\"", u"uninstall", kLoadInvalid, u""},
  };
  for (const Case& c : cases) {
    Installer installer;
    if (!c.cardText.empty()) installer.device.files[kCardFile] = file(c.cardText);
    installer.context.commandLine = c.commandLine;
    EXPECT_EQ(loadConfiguration(installer.context), c.expected) << c.what;
    if (c.message.empty()) {
      EXPECT_TRUE(installer.device.boxes.empty()) << c.what;
    } else {
      ASSERT_EQ(installer.device.boxes.size(), 1u) << c.what;
      EXPECT_EQ(installer.device.boxes[0].text, c.message) << c.what;
      EXPECT_EQ(installer.device.boxes[0].caption, u"Error") << c.what;
      EXPECT_EQ(installer.device.boxes[0].style, 0x00050010u) << c.what;
    }
  }
}

TEST(LoadConfiguration, ConfigurationWithoutWebsitePreparesNoText) {
  Installer installer;
  installer.device.files[kCardFile] =
      file(u"[common]\r\nbrand = \"Atlas\"\r\n[install]\r\ntitle = \"%s\"");
  EXPECT_EQ(loadConfiguration(installer.context), kLoadInvalid);
  EXPECT_EQ(installer.context.config.getString(u"install/title", u""), u"%s");
}

TEST(LoadConfiguration, RefusesFilesLargerThanTheLimit) {
  struct Case {
    std::size_t size;
    int expected;
  };
  for (const Case& c : {Case{100000, kLoadOk}, Case{100001, kLoadCannotOpen}}) {
    Installer installer;
    Bytes bytes = file(paddedTo(kCardText, c.size & ~std::size_t{1}));
    if (bytes.size() < c.size) bytes.push_back(0);  // an odd size
    ASSERT_EQ(bytes.size(), c.size);
    installer.device.files[kCardFile] = bytes;
    installer.device.files[kSystemFile] = file(kCardText);  // never a fall-back for size
    EXPECT_EQ(loadConfiguration(installer.context), c.expected) << c.size;
    EXPECT_EQ(installer.device.boxes.size(), c.expected == kLoadOk ? 0u : 1u) << c.size;
  }
}

TEST(LoadConfiguration, PreinstalledDeviceIgnoresOrdinaryCards) {
  struct Case {
    const char* what;
    std::u16string_view systemText;
    std::u16string_view cardText;  // empty: no card file
    bool cardTooLarge;
    int expected;
    std::size_t boxes;
    std::u16string_view title;
  };
  const std::u16string preinstalledCard = kCardText + u"[common]\r\npreinstalled = \"1\"\r\n";
  const Case cases[] = {
      {"ordinary card", kSystemText, kCardText, false, kLoadPreinstalled, 0, u"Atlas setup"},
      {"no card file: the system copy", kSystemText, u"", false, kLoadOk, 0,
       u"System preinstalled"},
      {"preinstalled card", kSystemText, preinstalledCard, false, kLoadOk, 0, u"Atlas setup"},
      {"card too large", kSystemText, kCardText, true, kLoadPreinstalled, 1, u""},
      {"system copy not preinstalled", kCardText, kCardText, false, kLoadOk, 0, u"Atlas setup"},
  };
  for (const Case& c : cases) {
    Installer installer;
    installer.device.files[kSystemFile] = file(c.systemText);
    if (!c.cardText.empty()) {
      std::u16string text(c.cardText);
      if (c.cardTooLarge) text = paddedTo(text, 100002);
      installer.device.files[kCardFile] = file(text);
    }
    EXPECT_EQ(loadConfiguration(installer.context), c.expected) << c.what;
    EXPECT_EQ(installer.device.boxes.size(), c.boxes) << c.what;
    if (c.boxes > 0) {
      EXPECT_EQ(installer.device.boxes[0].text, kFatal1) << c.what;
    }
    EXPECT_EQ(installer.context.config.getString(u"install/title", u""), c.title) << c.what;
  }
}

TEST(LoadConfiguration, SectionCarriesFromTheSystemCopyIntoTheCardText) {
  Installer installer;
  installer.device.files[kSystemFile] = file(u"[common]\r\nother = \"1\"");
  installer.device.files[kCardFile] = file(u"brand = \"A\"\r\nwebsite = \"w\"");
  EXPECT_EQ(loadConfiguration(installer.context), kLoadOk);
  EXPECT_FALSE(installer.context.config.hasKey(u"common/other"));  // cleared between loads
  EXPECT_EQ(installer.context.config.getString(u"common/brand", u""), u"A");
}

TEST(LoadConfigurationFile, FindsTheFileAndFallsBackToTheSystemCopy) {
  struct Case {
    const char* what;
    bool onCard;
    bool cardHeldShared;  // another program reads it: an exclusive open fails
    bool inInstallerFolder;
    bool inSystemFolder;
    int expected;
    std::u16string_view brand;
  };
  const Case cases[] = {
      {"card", true, false, true, true, kLoadOk, u"Card"},
      {"card held open", true, true, true, true, kLoadOk, u"System"},
      {"card held open, no system copy", true, true, true, false, kLoadCannotOpen, u""},
      {"installer folder", false, false, true, true, kLoadOk, u"Installer"},
      {"system folder", false, false, false, true, kLoadOk, u"System"},
      {"nowhere", false, false, false, false, kLoadCannotOpen, u""},
  };
  const auto text = [](std::u16string_view brand) {
    return u"[common]\r\nbrand = \"" + std::u16string(brand) + u"\"\r\nwebsite = \"w\"";
  };
  for (const Case& c : cases) {
    Installer installer;
    installer.device.cards = {u"SD"};
    installer.device.modulePath = u"\\Install\\autorun.exe";
    if (c.onCard) installer.device.files[u"\\SD\\2577\\autorun_8.qlm"] = file(text(u"Card"));
    if (c.cardHeldShared) installer.device.heldShared.insert(u"\\SD\\2577\\autorun_8.qlm");
    if (c.inInstallerFolder) {
      installer.device.files[u"\\Install\\autorun_8.qlm"] = file(text(u"Installer"));
    }
    if (c.inSystemFolder) installer.device.files[kSystemFile] = file(text(u"System"));
    EXPECT_EQ(loadConfigurationFile(installer.context, u""), c.expected) << c.what;
    EXPECT_EQ(installer.context.config.getString(u"common/brand", u""), c.brand) << c.what;
  }
}

TEST(LoadConfigurationFile, AddsToTheStoreAndChecksWithTheContextKey) {
  Installer installer;
  installer.device.files[kCardFile] = file(kCardText, kOtherKey);
  installer.context.config.setValue(u"keep/me", u"1");
  EXPECT_EQ(loadConfigurationFile(installer.context, kCardFile), kLoadInvalid);

  installer.context.configurationKey = std::string(kOtherKey);
  EXPECT_EQ(loadConfigurationFile(installer.context, kCardFile), kLoadOk);
  EXPECT_TRUE(installer.context.config.hasKey(u"keep/me"));
  EXPECT_EQ(installer.device.opens.front().second, FileOpenMode::ReadExclusive);
}

TEST(FillMessageTexts, FillsBrandAndWebsiteInOrder) {
  const char16_t* const keys[] = {
      u"install/title",      u"install/ready",      u"install/question",       u"update/title",
      u"update/ready",       u"reinstall/question", u"uninstall/title",        u"uninstall/ready",
      u"uninstall/question", u"uninstall/link",     u"uninstall/notinstalled", u"error/tail",
      u"error/freespace"};
  ConfigStore store;
  store.setValue(u"common/brand", u"Atlas");
  store.setValue(u"common/website", u"www.atlas-nav.example");
  for (const char16_t* key : keys) store.setValue(key, u"[%s|%s]");
  store.setValue(u"other/text", u"%s");
  store.setValue(u"install/title", u"no placeholder");
  store.setValue(u"update/ready", u"%S");

  fillMessageTexts(store);
  for (const char16_t* key : keys) {
    const std::u16string k(key);
    std::u16string expected = k == u"error/tail" ? u"[www.atlas-nav.example|%s]" : u"[Atlas|%s]";
    if (k == u"install/title") expected = u"no placeholder";
    if (k == u"update/ready") expected = u"%S";
    EXPECT_EQ(store.getString(key, u""), expected) << std::string(k.begin(), k.end());
  }
  EXPECT_EQ(store.getString(u"other/text", u""), u"%s");

  ConfigStore sparse;
  sparse.setValue(u"common/brand", u"Atlas");
  fillMessageTexts(sparse);
  EXPECT_EQ(sparse.entries().size(), 1u);  // texts without entry stay without
}

TEST(LoadConfiguration, FreeSpaceTextKeepsItsSecondPlaceholder) {
  Installer installer;
  installer.device.files[kCardFile] =
      file(kCardText + u"[error]\r\nfreespace = \"%s needs %s kB\"");
  ASSERT_EQ(loadConfiguration(installer.context), kLoadOk);
  EXPECT_EQ(installer.context.config.getString(u"error/freespace", u""), u"Atlas needs %s kB");
}

TEST(FolderIdFromName, ComparesExactly) {
  struct Case {
    std::u16string_view name;
    int id;
  };
  const Case cases[] = {{u"PROGRAM_FILES", 38}, {u"WINDOWS", 36},    {u"PERSONAL", 5},
                        {u"program_files", -1}, {u"PROGRAMS", -1},   {u"", -1},
                        {u" WINDOWS", -1},      {u"PERSONAL\\x", -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(folderIdFromName(c.name), c.id) << std::string(c.name.begin(), c.name.end());
  }

  Installer installer;
  installer.device.files[kCardFile] =
      file(kCardText + u"[navigation]\r\nexe_parent = \"program_files\"");
  ASSERT_EQ(loadConfiguration(installer.context), kLoadOk);
  EXPECT_EQ(installer.context.launchFolderNumber, -1);
}

TEST(FatalLoadMessage, TextsByResult) {
  EXPECT_EQ(fatalLoadMessage(1), kFatal1);
  EXPECT_EQ(fatalLoadMessage(2), u"Fatal error: configuration is invalid. (2)");
  EXPECT_EQ(fatalLoadMessage(3), kFatal3);
  EXPECT_EQ(fatalLoadMessage(4), u"Fatal error: cannot open configuration file.");
  EXPECT_EQ(fatalLoadMessage(-1), u"Fatal error: cannot open configuration file.");
}

}  // namespace
}  // namespace autorun
