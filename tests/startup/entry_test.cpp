// The entry's dispatch: the mode table row by row, the own-name test, the installed mark
// and the folder variables, with the later steps replaced by a recorder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "context/card_discovery.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "support/mock_platform.h"

namespace autorun {
namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;

constexpr char16_t kInstalledMark[] = u"HKLM\\Software\\Atlas\\Installed";
constexpr char16_t kMarkKey[] = u"Software\\Atlas";
constexpr char16_t kMarkName[] = u"Installed";
constexpr char16_t kCardConfiguration[] = u"\\Storage Card\\2577\\autorun_8.qlm";

class FakeFile : public File {
 public:
  bool read(void*, std::uint32_t, std::uint32_t& got) override {
    got = 0;
    return true;
  }
  bool write(const void*, std::uint32_t, std::uint32_t& written) override {
    written = 0;
    return false;
  }
  std::optional<std::uint64_t> size() override { return 0; }
  bool seek(std::uint64_t) override { return true; }
};

class OneCard : public CardEnumeration {
 public:
  bool next(std::u16string&) override { return false; }
};

// A key holding at most the installed mark.
class MarkKey : public RegistryKey {
 public:
  explicit MarkKey(std::uint32_t value) : value_(value) {}
  bool setDword(const std::u16string&, std::uint32_t) override { return false; }
  bool setString(const std::u16string&, const std::u16string&) override { return false; }
  bool queryValue(const std::u16string& name, std::uint32_t& type,
                  std::vector<std::uint8_t>& data) override {
    if (name != kMarkName) return false;
    type = kRegDword;
    data = {static_cast<std::uint8_t>(value_), static_cast<std::uint8_t>(value_ >> 8),
            static_cast<std::uint8_t>(value_ >> 16), static_cast<std::uint8_t>(value_ >> 24)};
    return true;
  }
  bool deleteSubkeyTree(const std::u16string&) override { return false; }
  void flush() override {}

 private:
  std::uint32_t value_;
};

// Stands in for the loader and the flows; records what the entry asked for.
class RecordingSteps : public StartupSteps {
 public:
  int loadResult = 0;
  std::u16string installerPath = u"\\storage card\\2577\\autorun.exe";
  std::map<std::u16string, std::u16string> values;
  std::vector<std::string> calls;
  // What the flow saw of a value that held the card placeholder.
  std::u16string cardValueSeenByFlow;

  int loadConfiguration(InstallerContext& context) override {
    context.installerPath = installerPath;
    for (const auto& [key, value] : values) context.config.setValue(key, value);
    calls.push_back("load");
    return loadResult;
  }
  bool runInstall(InstallerContext& context, bool interactive) override {
    record(context, interactive ? "install interactive" : "install silent");
    return true;
  }
  void runUninstall(InstallerContext& context, bool interactive) override {
    record(context, interactive ? "uninstall interactive" : "uninstall silent");
  }
  void askReinstall(InstallerContext& context) override { record(context, "reinstall"); }
  void onCardInserted(InstallerContext& context) override { record(context, "inserted"); }
  void onCardRemoved(InstallerContext& context) override { record(context, "removed"); }

 private:
  void record(InstallerContext& context, const char* call) {
    calls.push_back(call);
    cardValueSeenByFlow = context.config.getString(u"upgrade/application_dat", u"");
  }
};

class EntryTest : public ::testing::Test {
 protected:
  EntryTest() {
    ON_CALL(platform, specialFolderPath(kSpecialFolderPersonal))
        .WillByDefault(Return(u"\\My Documents"));
    ON_CALL(platform, specialFolderPath(kSpecialFolderProgramFiles))
        .WillByDefault(Return(u"\\Program Files"));
    ON_CALL(platform, specialFolderPath(kSpecialFolderWindows)).WillByDefault(Return(u"\\Windows"));
    ON_CALL(platform, specialFolderPath(kSpecialFolderPrograms))
        .WillByDefault(Return(u"\\Windows\\Start Menu\\Programs"));
    ON_CALL(platform, findFirstCard(_)).WillByDefault([](std::u16string& first) {
      first = u"Storage Card";
      return std::make_unique<OneCard>();
    });
    ON_CALL(platform, openFile(std::u16string(kCardConfiguration), _))
        .WillByDefault(
            [](const std::u16string&, FileOpenMode) { return std::make_unique<FakeFile>(); });
    ON_CALL(platform, openKey(RegistryRoot::LocalMachine, std::u16string(kMarkKey)))
        .WillByDefault([this](RegistryRoot, const std::u16string&) -> std::unique_ptr<RegistryKey> {
          if (!mark) return nullptr;
          return std::make_unique<MarkKey>(*mark);
        });
    steps.values = {{u"registry/installed", kInstalledMark},
                    {u"uninstall/title", u"Atlas uninstall"},
                    {u"uninstall/notinstalled", u"Atlas is not installed."}};
  }

  static constexpr ModuleHandle kModule = 0x4000;
  int run(const std::u16string& commandLine) {
    return runEntry(context, kModule, commandLine, steps);
  }

  NiceMock<testing::MockPlatform> platform;
  InstallerContext context{platform, "ARN20261208053700"};
  RecordingSteps steps;
  std::optional<std::uint32_t> mark;  // the installed mark's registry value, if any
};

struct ModeRow {
  const char* name;
  std::u16string commandLine;
  std::u16string installerPath;
  std::optional<std::uint32_t> mark;
  bool preinstalled;
  std::vector<std::string> flows;  // after "load"
  int exitCode;
  bool notInstalledMessage;
};

class ModeTableTest : public EntryTest, public ::testing::WithParamInterface<ModeRow> {};

constexpr char16_t kUsualName[] = u"\\storage card\\2577\\autorun.exe";
constexpr char16_t kUninstaller[] = u"\\storage card\\2577\\uninstall.exe";

const ModeRow kModeRows[] = {
    {"InstallInstalled", u"install", kUsualName, 1, false, {"inserted"}, 0, false},
    {"InstallNotInstalled",
     u"install",
     kUsualName,
     std::nullopt,
     false,
     {"install interactive"},
     0,
     false},
    {"InstallMarkTwoIsNotInstalled",
     u"install",
     kUsualName,
     2,
     false,
     {"install interactive"},
     0,
     false},
    {"InstallUnderUninstallerName", u"install", kUninstaller, 1, false, {"inserted"}, 0, false},
    {"UninstallInstalled", u"uninstall", kUsualName, 1, false, {"removed"}, 0, false},
    {"UninstallNotInstalled", u"uninstall", kUsualName, std::nullopt, false, {}, 0, false},
    {"UninstallPreinstalled", u"uninstall", kUsualName, 1, true, {}, 4, false},
    {"UninstallPreinstalledNotInstalled",
     u"uninstall",
     kUsualName,
     std::nullopt,
     true,
     {},
     4,
     false},
    {"UninstallerInstalled", u"", kUninstaller, 1, false, {"uninstall interactive"}, 0, false},
    {"UninstallerNotInstalled", u"", kUninstaller, std::nullopt, false, {}, 0, true},
    {"UsualNameInstalled", u"", kUsualName, 1, false, {"reinstall"}, 0, false},
    {"UsualNameNotInstalled",
     u"",
     kUsualName,
     std::nullopt,
     false,
     {"install interactive"},
     0,
     false},
    // Only the exact words select the card modes.
    {"InstallInCapitals", u"Install", kUsualName, 1, false, {"reinstall"}, 0, false},
    {"InstallWithTrailingBlank",
     u"install ",
     kUsualName,
     std::nullopt,
     false,
     {"install interactive"},
     0,
     false},
    {"UninstallInCapitalsIsNotCardRemoval",
     u"UNINSTALL",
     kUninstaller,
     1,
     true,
     {"uninstall interactive"},
     0,
     false},
    {"UninstallWithTrailingBlank", u"uninstall ", kUsualName, 1, true, {"reinstall"}, 0, false},
    {"OtherArgument",
     u"-setup",
     kUsualName,
     std::nullopt,
     false,
     {"install interactive"},
     0,
     false},
    // The own-name test needs the backslash right before the name.
    {"NameOnlyEndsInUninstall",
     u"",
     u"\\storage card\\2577\\myuninstall.exe",
     std::nullopt,
     false,
     {"install interactive"},
     0,
     false},
    {"PathShorterThanSuffix", u"", u"uninstall.exe", 1, false, {"reinstall"}, 0, false},
    {"PathIsJustTheSuffix", u"", u"\\uninstall.exe", 1, false, {"uninstall interactive"}, 0, false},
};

TEST_P(ModeTableTest, RunsTheFlowOfItsRow) {
  const ModeRow& row = GetParam();
  steps.installerPath = row.installerPath;
  if (row.preinstalled) steps.values[u"common/preinstalled"] = u"1";
  mark = row.mark;
  if (row.notInstalledMessage) {
    EXPECT_CALL(platform, messageBox(std::u16string(u"Atlas is not installed."),
                                     std::u16string(u"Atlas uninstall"), 0x00050030u))
        .WillOnce(Return(kIdOk));
  } else {
    EXPECT_CALL(platform, messageBox(_, _, _)).Times(0);
  }

  EXPECT_EQ(run(row.commandLine), row.exitCode);

  std::vector<std::string> expected{"load"};
  expected.insert(expected.end(), row.flows.begin(), row.flows.end());
  EXPECT_EQ(steps.calls, expected);
  EXPECT_EQ(context.commandLine, row.commandLine);
  EXPECT_EQ(context.moduleHandle, kModule);
}

INSTANTIATE_TEST_SUITE_P(Rows, ModeTableTest, ::testing::ValuesIn(kModeRows),
                         [](const ::testing::TestParamInfo<ModeRow>& row) {
                           return std::string(row.param.name);
                         });

TEST_F(EntryTest, PreinstalledCardRemovalEndsBeforeTheMarkIsRead) {
  steps.values[u"common/preinstalled"] = u"1";
  mark = 1;
  EXPECT_CALL(platform, openKey(_, _)).Times(0);
  EXPECT_EQ(run(u"uninstall"), kExitPreinstalled);
  EXPECT_EQ(steps.calls, std::vector<std::string>{"load"});
}

TEST_F(EntryTest, PreinstalledFlagOtherThanOneDoesNotStopCardRemoval) {
  steps.values[u"common/preinstalled"] = u"2";
  mark = 1;
  EXPECT_EQ(run(u"uninstall"), kExitOk);
  EXPECT_EQ(steps.calls, (std::vector<std::string>{"load", "removed"}));
}

TEST_F(EntryTest, FailedLoadEndsWithItsResultWithoutReadingTheMark) {
  for (int result : {kExitCannotOpen, kExitInvalid, kExitPreinstalled}) {
    SCOPED_TRACE(result);
    steps.calls.clear();
    steps.loadResult = result;
    mark = 1;
    EXPECT_CALL(platform, openKey(_, _)).Times(0);
    EXPECT_CALL(platform, messageBox(_, _, _)).Times(0);
    EXPECT_EQ(run(u"install"), result);
    EXPECT_EQ(steps.calls, std::vector<std::string>{"load"});
    ::testing::Mock::VerifyAndClearExpectations(&platform);
  }
}

TEST_F(EntryTest, CommandLineIsKeptUnchanged) {
  const std::u16string odd = u"  Install \"x\"\t";
  run(odd);
  EXPECT_EQ(context.commandLine, odd);
}

TEST_F(EntryTest, FolderVariablesArePublishedInOrderAfterTheLoad) {
  {
    InSequence order;
    EXPECT_CALL(platform, specialFolderPath(kSpecialFolderPersonal));
    EXPECT_CALL(platform, specialFolderPath(kSpecialFolderProgramFiles));
    EXPECT_CALL(platform, specialFolderPath(kSpecialFolderWindows));
    EXPECT_CALL(platform, specialFolderPath(kSpecialFolderPrograms));
    EXPECT_CALL(platform, findFirstCard(_));
  }
  steps.values[u"paths/personal"] = u"%PERSONAL%\\Atlas";
  steps.values[u"paths/program_files"] = u"%PROGRAM_FILES%\\Atlas";
  steps.values[u"paths/windows"] = u"%WINDOWS%\\atlas.dll";
  steps.values[u"paths/programs"] = u"%PROGRAMS%\\Atlas.lnk";
  steps.values[u"paths/card"] = u"%SDCARD%\\Atlas";
  // A later variable after an earlier one in the same value is reached only in this order.
  steps.values[u"paths/both"] = u"%PROGRAMS%%SDCARD%";
  mark = 1;

  run(u"install");

  const ConfigStore& config = context.config;
  EXPECT_EQ(config.getString(u"paths/personal", u""), u"\\My Documents\\Atlas");
  EXPECT_EQ(config.getString(u"paths/program_files", u""), u"\\Program Files\\Atlas");
  EXPECT_EQ(config.getString(u"paths/windows", u""), u"\\Windows\\atlas.dll");
  EXPECT_EQ(config.getString(u"paths/programs", u""),
            u"\\Windows\\Start Menu\\Programs\\Atlas.lnk");
  EXPECT_EQ(config.getString(u"paths/card", u""), u"\\Storage Card\\Atlas");
  EXPECT_EQ(config.getString(u"paths/both", u""), u"\\Windows\\Start Menu\\Programs\\Storage Card");
}

TEST_F(EntryTest, FolderVariablesArePublishedEvenWhenTheLoadFailed) {
  steps.loadResult = kExitInvalid;
  steps.values[u"paths/card"] = u"%SDCARD%\\Atlas";
  steps.values[u"paths/personal"] = u"%PERSONAL%";
  EXPECT_CALL(platform, findFirstCard(_));
  EXPECT_EQ(run(u""), kExitInvalid);
  EXPECT_EQ(context.config.getString(u"paths/card", u""), u"\\Storage Card\\Atlas");
  EXPECT_EQ(context.config.getString(u"paths/personal", u""), u"\\My Documents");
}

TEST_F(EntryTest, CardPlaceholderHoldsDuringLoadAndTheCardFolderInTheFlow) {
  steps.values[u"upgrade/application_dat"] = u"%SDCARD%\\Atlas\\atlas.dat";
  mark = 1;
  run(u"install");
  EXPECT_EQ(steps.cardValueSeenByFlow, u"\\Storage Card\\Atlas\\atlas.dat");
}

TEST_F(EntryTest, NoCardLeavesTheCardPlaceholderEmpty) {
  ON_CALL(platform, findFirstCard(_)).WillByDefault([](std::u16string&) { return nullptr; });
  steps.values[u"upgrade/application_dat"] = u"%SDCARD%\\Atlas\\atlas.dat";
  mark = 1;
  run(u"install");
  EXPECT_EQ(steps.cardValueSeenByFlow, u"\\Atlas\\atlas.dat");
}

TEST(InstalledMarkTest, OnlyOneMeansInstalled) {
  struct Case {
    std::optional<std::uint32_t> value;
    bool installed;
  };
  for (const Case& c : {Case{1, true}, Case{0, false}, Case{2, false}, Case{0x80000000u, false},
                        Case{std::nullopt, false}}) {
    NiceMock<testing::MockPlatform> platform;
    InstallerContext context{platform, "ARN20261208053700"};
    context.config.setValue(u"registry/installed", kInstalledMark);
    ON_CALL(platform, openKey(RegistryRoot::LocalMachine, std::u16string(kMarkKey)))
        .WillByDefault([&c](RegistryRoot, const std::u16string&) -> std::unique_ptr<RegistryKey> {
          if (!c.value) return nullptr;
          return std::make_unique<MarkKey>(*c.value);
        });
    EXPECT_EQ(isInstalled(context), c.installed) << (c.value ? *c.value : 0xFFFFFFFFu);
  }
}

TEST(InstalledMarkTest, NoConfiguredLocationMeansNotInstalled) {
  NiceMock<testing::MockPlatform> platform;
  InstallerContext context{platform, "ARN20261208053700"};
  EXPECT_FALSE(isInstalled(context));
}

TEST(OwnNameTest, EndsWithBackslashAndUninstallExe) {
  EXPECT_TRUE(isUninstallerName(u"\\storage card\\2577\\uninstall.exe"));
  EXPECT_TRUE(isUninstallerName(u"\\uninstall.exe"));
  EXPECT_FALSE(isUninstallerName(u"uninstall.exe"));
  EXPECT_FALSE(isUninstallerName(u""));
  EXPECT_FALSE(isUninstallerName(u"\\storage card\\myuninstall.exe"));
  EXPECT_FALSE(isUninstallerName(u"\\storage card\\uninstall.exe.bak"));
  // The path is folded before the test; an unfolded one does not match.
  EXPECT_FALSE(isUninstallerName(u"\\storage card\\UNINSTALL.EXE"));
}

}  // namespace
}  // namespace autorun
