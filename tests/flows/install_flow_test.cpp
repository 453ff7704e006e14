// The install flow on the simulated device.
#include <gtest/gtest.h>

#include <filesystem>

#include "flow_fixture.h"
#include "flows/install_flow.h"

namespace autorun::testing {
namespace {

using sim::Operation;

class InstallFlowTest : public FlowTest {};

TEST_F(InstallFlowTest, InteractiveYesInstallsEverythingAndStartsTheProgram) {
  start({true});
  EXPECT_TRUE(runInstall(*context, true));

  const auto questions = traced("question");
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0]["text"], "Install Atlas?");
  EXPECT_EQ(questions[0]["caption"], "Atlas setup");
  EXPECT_EQ(statusDialogsOpened(), 1u);

  // Two folders and four files: six equal steps.
  EXPECT_EQ(progress(), (std::vector<int>{16, 33, 50, 66, 83, 100}));
  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp, kExeSize));
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\atlasext.dll"), std::string(kDllSize, 'd'));
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\Skins\\day.skn"),
            std::string(kDaySkinSize, 'a'));
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\Skins\\night.skn"),
            std::string(kNightSkinSize, 'n'));

  EXPECT_EQ(dword(kVolume), 5u);
  EXPECT_EQ(text(kLastCity), u"Berlin");
  EXPECT_EQ(image.readFile(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk"),
            "1#\"\\Program Files\\Atlas\\atlas.exe\"");
  const auto entries = traced("call_entry");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]["entry"], "DllRegisterServer");
  EXPECT_EQ(dword(kInstalledMark), 1u);
  EXPECT_EQ(text(kCardPath), u"\\Storage Card");

  // The card-insert work ran: Today item on, the card's copies and registry values.
  EXPECT_EQ(dword(kToday), 1u);
  EXPECT_EQ(dword(kTodaySaved), 1u);
  EXPECT_TRUE(image.exists(u"\\My Documents\\atlas.ini"));
  EXPECT_EQ(text(kMapFolder), u"\\Storage Card\\Atlas\\Maps");

  // Started once, as the very last thing.
  EXPECT_EQ(programsStarted(), std::vector<std::string>{"\\Program Files\\Atlas\\atlas.exe"});
  EXPECT_EQ(device->trace().back()["op"], "shell_open");
  EXPECT_EQ(device->answersLeft(), 0u);
}

TEST_F(InstallFlowTest, ThePlanIsMadeBeforeTheMarksAndTheMarksBeforeTheCardWork) {
  start({true});
  runInstall(*context, true);
  const long lastCopy = indexOf("copy_file", "source", "\\Storage Card\\Atlas\\Skins\\night.skn");
  const long registryAction = indexOf("set_value", "name", "Volume");
  const long link = indexOf("write_file", "path", "\\Windows\\Start Menu\\Programs\\Atlas.lnk");
  const long dll = indexOf("call_entry", "entry", "DllRegisterServer");
  const long mark = indexOf("set_value", "name", "Installed");
  const long cardPath = indexOf("set_value", "name", "CardPath");
  const long today = indexOf("set_value", "name", "Enabled");
  ASSERT_GE(lastCopy, 0);
  EXPECT_LT(lastCopy, registryAction);
  EXPECT_LT(registryAction, link);
  EXPECT_LT(link, dll);
  EXPECT_LT(dll, mark);
  EXPECT_LT(mark, cardPath);
  EXPECT_LT(cardPath, today);
}

TEST_F(InstallFlowTest, AnswerNoChangesNothing) {
  start({false});
  EXPECT_FALSE(runInstall(*context, true));
  EXPECT_EQ(count("question"), 1u);
  EXPECT_EQ(statusDialogsOpened(), 0u);
  EXPECT_EQ(count("create_directory"), 0u);
  EXPECT_EQ(count("copy_file"), 0u);
  EXPECT_EQ(count("set_value"), 0u);
  EXPECT_FALSE(image.exists(kInstalledExe));
}

TEST_F(InstallFlowTest, SilentFormAsksNothingAndStartsNothingButDoesTheCardWork) {
  setDword(kAutorun, 0);
  start();
  EXPECT_TRUE(runInstall(*context, false));
  EXPECT_EQ(count("question"), 0u);
  EXPECT_EQ(count("message_box"), 0u);
  EXPECT_EQ(statusDialogsOpened(), 1u);
  EXPECT_EQ(dword(kInstalledMark), 1u);
  EXPECT_EQ(dword(kToday), 1u);
  EXPECT_TRUE(image.exists(u"\\My Documents\\atlas.ini"));
  EXPECT_TRUE(programsStarted().empty());
}

TEST_F(InstallFlowTest, EmptyListStillMarksAndRunsTheCardWorkWithoutProgress) {
  image.writeConfiguration(R"([common]
brand = "Atlas"
website = "atlas.example"
[registry]
installed = "HKLM\\Software\\Atlas\\Installed"
cardpath = "HKLM\\Software\\Atlas\\CardPath"
today_enabled = "HKLM\\Software\\Microsoft\\Today\\Items\\Atlas\\Enabled"
today_enabled_save = "HKLM\\Software\\Atlas\\TodaySaved"
[error]
freespace = "%s needs %s bytes free."
)");
  image.writeDeviceJson({{"free_bytes", 0}});
  start();
  EXPECT_TRUE(runInstall(*context, false));
  EXPECT_TRUE(progress().empty());
  EXPECT_EQ(count("message_box"), 0u);
  EXPECT_EQ(count("create_directory"), 0u);
  EXPECT_EQ(dword(kInstalledMark), 1u);
  EXPECT_EQ(text(kCardPath), u"\\Storage Card");
  EXPECT_EQ(dword(kToday), 1u);
}

TEST_F(InstallFlowTest, FolderListEndsAtTheFirstGap) {
  image.writeConfiguration(R"([common]
brand = "Atlas"
website = "atlas.example"
[install_actions]
makedir_1 = "\\Data"
makedir_3 = "\\Data3"
)");
  start();
  EXPECT_TRUE(runInstall(*context, false));
  EXPECT_TRUE(image.exists(u"\\Data"));
  EXPECT_FALSE(image.exists(u"\\Data3"));
  EXPECT_EQ(progress(), std::vector<int>{100});
}

struct FreeSpaceCase {
  const char* name;
  std::optional<std::uint64_t> free;  // nothing: the device cannot tell
  bool installs;
};

class FreeSpaceTest : public InstallFlowTest,
                      public ::testing::WithParamInterface<FreeSpaceCase> {};

TEST_P(FreeSpaceTest, ChecksTheProgramsVolumeAgainstTheWholePlan) {
  const FreeSpaceCase& c = GetParam();
  image.writeDeviceJson({{"free_bytes", c.free ? nlohmann::json(*c.free) : nlohmann::json()}});
  start({true});
  EXPECT_EQ(runInstall(*context, true), c.installs);
  EXPECT_EQ(image.exists(kInstalledExe), c.installs);
  EXPECT_EQ(dword(kInstalledMark), c.installs ? std::optional<std::uint32_t>(1) : std::nullopt);
  const auto boxes = traced("message_box");
  if (c.installs) {
    EXPECT_TRUE(boxes.empty());
    return;
  }
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "Atlas needs " + std::to_string(kInstallBytes) + " bytes free.");
  EXPECT_EQ(boxes[0]["caption"], "Atlas setup");
  EXPECT_EQ(boxes[0]["style"], 0);
  // The status dialog was already up; nothing was made.
  EXPECT_EQ(statusDialogsOpened(), 1u);
  EXPECT_EQ(count("create_directory"), 0u);
  EXPECT_TRUE(programsStarted().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, FreeSpaceTest,
                         ::testing::Values(FreeSpaceCase{"ExactlyEnough", kInstallBytes, true},
                                           FreeSpaceCase{"OneByteShort", kInstallBytes - 1, false},
                                           FreeSpaceCase{"Nothing", 0, false},
                                           FreeSpaceCase{"Plenty", std::uint64_t{1} << 40, true},
                                           FreeSpaceCase{"DeviceCannotTell", std::nullopt, true}),
                         CaseName());

TEST_F(InstallFlowTest, NeededSizeBeyondFourGibibytesIsShownWhole) {
  // A sparse file: its size counts, its bytes take no room.
  constexpr std::uint64_t kHuge = (std::uint64_t{5} << 30) + 7;
  image.writeFile(u"\\Storage Card\\Atlas\\Skins\\huge.skn", "");
  std::filesystem::resize_file(image.hostPath(u"\\Storage Card\\Atlas\\Skins\\huge.skn"), kHuge);
  // Wrapped to 32 bits the total would fit easily in this.
  image.writeDeviceJson({{"free_bytes", std::uint64_t{4} << 30}});
  start({true});
  EXPECT_FALSE(runInstall(*context, true));
  const auto boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"],
            "Atlas needs " + std::to_string(kInstallBytes + kHuge) + " bytes free.");
  EXPECT_EQ(count("copy_file"), 0u);
}

TEST_F(InstallFlowTest, FreeSpaceTextWithOneplaceholderIsShownAsTheBrandMadeIt) {
  configuration.replace(configuration.find("freespace = \"%s needs %s bytes free.\""),
                        std::string("freespace = \"%s needs %s bytes free.\"").size(),
                        "freespace = \"Not enough room for %s.\"");
  image.writeConfiguration(configuration);
  image.writeDeviceJson({{"free_bytes", 10}});
  start({true});
  EXPECT_FALSE(runInstall(*context, true));
  EXPECT_EQ(dialogTexts(),
            (std::vector<std::string>{"Install Atlas?", "Not enough room for Atlas."}));
}

TEST_F(InstallFlowTest, CopyFailureStopsTheFlowWithTheSourceNamed) {
  start({true});
  faults->failNth(Operation::CopyFile, 3);  // the first skin
  EXPECT_FALSE(runInstall(*context, true));

  const auto boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "Can't copy:\n\\Storage Card\\Atlas\\Skins\\day.skn");
  EXPECT_EQ(boxes[0]["caption"], "\\storage card\\2577\\autorun.exe");
  EXPECT_EQ(boxes[0]["style"], 0x00050010);
  // What was done stays; nothing after the copies runs.
  EXPECT_EQ(progress(), (std::vector<int>{16, 33, 50, 66}));
  EXPECT_TRUE(image.exists(kInstalledExe));
  EXPECT_TRUE(image.exists(u"\\Program Files\\Atlas\\Skins"));
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\Skins\\night.skn"));
  EXPECT_EQ(dword(kInstalledMark), std::nullopt);
  EXPECT_EQ(text(kCardPath), std::nullopt);
  EXPECT_EQ(dword(kVolume), std::nullopt);
  EXPECT_EQ(dword(kToday), std::nullopt);
  EXPECT_FALSE(image.exists(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk"));
  EXPECT_TRUE(programsStarted().empty());
}

TEST_F(InstallFlowTest, FolderThatCannotBeMadeStopsTheFlowSilently) {
  start();
  faults->setCreateDirectoryFailure(kErrorPathNotFound);
  faults->failNth(Operation::CreateDirectory, 1, true);
  EXPECT_FALSE(runInstall(*context, false));
  EXPECT_EQ(count("message_box"), 0u);
  EXPECT_TRUE(progress().empty());
  EXPECT_EQ(count("copy_file"), 0u);
  EXPECT_EQ(dword(kInstalledMark), std::nullopt);
}

TEST_F(InstallFlowTest, InstallIntoAnExistingInstallationReplacesFiles) {
  writeInstalledApplication(0x00010001);
  start();
  EXPECT_TRUE(runInstall(*context, false));
  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp, kExeSize));
  EXPECT_EQ(progress().back(), 100);
}

}  // namespace
}  // namespace autorun::testing
