// The entry's dispatch: the mode table row by row, the own-name test, the installed mark
// and the folder variables, with the later steps replaced by a recorder, on the in-memory
// device. The order in which the entry asks the device for the folders is in
// entry_calls_test.cpp.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "context/card_discovery.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "platform/sim/fault_injecting_platform.h"
#include "startup/entry_fixture.h"
#include "support/memory_platform.h"
#include "support/test_keys.h"

namespace autorun {
namespace {

using sim::Operation;
using testing::kCardConfiguration;
using testing::kInstalledMark;
using testing::kMarkKey;
using testing::kMarkName;
using testing::MemoryPlatform;
using testing::RecordingSteps;

// Gives the device the installed mark with this value, or no mark at all.
void putMark(MemoryPlatform& device, std::optional<std::uint32_t> mark) {
  device.registry.clear();
  if (mark) device.setDword(RegistryRoot::LocalMachine, kMarkKey, kMarkName, *mark);
}

class EntryTest : public ::testing::Test {
 protected:
  EntryTest() {
    device.files[kCardConfiguration] = {};
    steps.values = {{u"registry/installed", kInstalledMark},
                    {u"uninstall/title", u"Atlas uninstall"},
                    {u"uninstall/notinstalled", u"Atlas is not installed."}};
  }

  static constexpr ModuleHandle kModule = 0x4000;
  int run(const std::u16string& commandLine) {
    putMark(device, mark);
    return runEntry(context, kModule, commandLine, steps);
  }
  std::uint64_t calls(Operation operation) const { return platform.callCount(operation); }

  MemoryPlatform device;
  sim::FaultInjectingPlatform platform{device};  // counts the entry's calls
  InstallerContext context{platform, std::string(testing::kTestKey)};
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

  EXPECT_EQ(run(row.commandLine), row.exitCode);

  std::vector<MemoryPlatform::Box> boxes;
  if (row.notInstalledMessage) {
    boxes.push_back({u"Atlas is not installed.", u"Atlas uninstall", 0x00050030u});
  }
  EXPECT_EQ(device.boxes, boxes);
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
  EXPECT_EQ(run(u"uninstall"), kExitPreinstalled);
  EXPECT_EQ(steps.calls, std::vector<std::string>{"load"});
  EXPECT_EQ(calls(Operation::OpenKey), 0u);
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
    platform.resetCounts();
    EXPECT_EQ(run(u"install"), result);
    EXPECT_EQ(steps.calls, std::vector<std::string>{"load"});
    EXPECT_EQ(calls(Operation::OpenKey), 0u);
    EXPECT_TRUE(device.boxes.empty());
  }
}

TEST_F(EntryTest, CommandLineIsKeptUnchanged) {
  const std::u16string odd = u"  Install \"x\"\t";
  run(odd);
  EXPECT_EQ(context.commandLine, odd);
}

TEST_F(EntryTest, FolderVariablesArePublishedInOrderAfterTheLoad) {
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
  EXPECT_EQ(run(u""), kExitInvalid);
  EXPECT_EQ(context.config.getString(u"paths/card", u""), u"\\Storage Card\\Atlas");
  EXPECT_EQ(context.config.getString(u"paths/personal", u""), u"\\My Documents");
  EXPECT_EQ(calls(Operation::FindFirstCard), 1u);
}

TEST_F(EntryTest, CardPlaceholderHoldsDuringLoadAndTheCardFolderInTheFlow) {
  steps.values[u"upgrade/application_dat"] = u"%SDCARD%\\Atlas\\atlas.dat";
  mark = 1;
  run(u"install");
  EXPECT_EQ(steps.cardValueSeenByFlow, u"\\Storage Card\\Atlas\\atlas.dat");
}

TEST_F(EntryTest, NoCardLeavesTheCardPlaceholderEmpty) {
  device.cards.clear();
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
    MemoryPlatform device;
    putMark(device, c.value);
    InstallerContext context{device, std::string(testing::kTestKey)};
    context.config.setValue(u"registry/installed", kInstalledMark);
    EXPECT_EQ(isInstalled(context), c.installed) << (c.value ? *c.value : 0xFFFFFFFFu);
  }
}

TEST(InstalledMarkTest, NoConfiguredLocationMeansNotInstalled) {
  MemoryPlatform device;
  putMark(device, 1);
  InstallerContext context{device, std::string(testing::kTestKey)};
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
