// The executors on a simulated device: device images built in a temporary folder, with
// assertions on the resulting files, registry and trace.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "actions/copy_actions.h"
#include "actions/program_actions.h"
#include "actions/registry_actions.h"
#include "actions/shortcut_actions.h"
#include "context/installer_context.h"
#include "platform/sim/fault_injecting_platform.h"
#include "support/device_image.h"
#include "support/test_keys.h"
#include "ui/status_dialog.h"

namespace autorun::testing {
namespace {

using nlohmann::json;

class DeviceActionsTest : public ::testing::Test {
 protected:
  DeviceActionsTest() { image.writeFile(u"\\Storage Card\\2577\\autorun_8.qlm", "configuration"); }

  // Starts the device; call after the image is prepared.
  InstallerContext& start() {
    sim = image.platform();
    context = std::make_unique<InstallerContext>(*sim, std::string(kTestKey));
    context->installerPath = u"\\storage card\\2577\\autorun.exe";
    return *context;
  }

  void set(std::u16string_view key, std::u16string_view value) {
    context->config.setValue(key, value);
  }

  // The trace entries of one kind, without fields that do not matter here.
  std::vector<json> traced(const std::string& op) const {
    std::vector<json> found;
    for (const json& entry : sim->trace()) {
      if (entry.value("op", "") == op) found.push_back(entry);
    }
    return found;
  }

  std::vector<int> progress() const {
    std::vector<int> positions;
    for (const json& entry : traced("progress")) positions.push_back(entry["position"]);
    return positions;
  }

  DeviceImage image;
  std::unique_ptr<sim::SimPlatform> sim;
  std::unique_ptr<InstallerContext> context;
};

// ---- Shortcuts -------------------------------------------------------------------------

TEST_F(DeviceActionsTest, ShortcutFilesHoldTheTargetInTheDeviceCodePage) {
  image.writeFile(u"\\Program Files\\Atlas\\a.exe", "MZ");
  image.writeFile(u"\\Program Files\\Atlas\\Stra\u00dfe\u03a9.exe", "MZ");
  image.writeFile(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk",
                  "an older and much longer shortcut content\r\n");
  start();
  set(u"install_actions/link_name_1", u"\\Windows\\Start Menu\\Programs\\Atlas.lnk");
  set(u"install_actions/link_prg_1", u"\\Program Files\\Atlas\\a.exe");  // 26 characters
  set(u"install_actions/link_name_2", u"\\Windows\\Start Menu\\Programs\\Other.lnk");
  set(u"install_actions/link_prg_2", u"\\Program Files\\Atlas\\Stra\u00dfe\u03a9.exe");
  set(u"install_actions/link_name_3", u"\\Windows\\Start Menu\\Programs\\Missing.lnk");
  set(u"install_actions/link_prg_3", u"\\Program Files\\Atlas\\missing.exe");
  set(u"install_actions/link_name_4", u"\\No Such Folder\\Atlas.lnk");
  set(u"install_actions/link_prg_4", u"\\Program Files\\Atlas\\a.exe");
  runLinkActions(*context, u"install_actions");

  // Replaced whole: 1#"target" with nothing before or after.
  EXPECT_EQ(image.readFile(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk"),
            std::optional<std::string>("1#\"\\Program Files\\Atlas\\a.exe\""));
  EXPECT_EQ(image.readFile(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk")->size(), 30u);
  // Code page 1252 has the sharp s (0xDF) but no omega.
  EXPECT_EQ(image.readFile(u"\\Windows\\Start Menu\\Programs\\Other.lnk"),
            std::optional<std::string>("1#\"\\Program Files\\Atlas\\Stra\xdf"
                                       "e?.exe\""));
  EXPECT_FALSE(image.exists(u"\\Windows\\Start Menu\\Programs\\Missing.lnk"));

  const std::vector<json> boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "Cannot create link file: \\No Such Folder\\Atlas.lnk!");
  EXPECT_EQ(boxes[0]["caption"], "\\storage card\\2577\\autorun.exe");
  EXPECT_EQ(boxes[0]["style"], 0x00050010);
}

TEST_F(DeviceActionsTest, RemoveLinkDeletesOnlyTheNamedFile) {
  image.writeFile(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk", "1#\"x\"");
  image.writeFile(u"\\Windows\\Start Menu\\Programs\\Keep.lnk", "1#\"y\"");
  start();
  set(u"uninstall_actions/remove_link_1", u"\\Windows\\Start Menu\\Programs\\*.lnk");
  set(u"uninstall_actions/remove_link_2", u"\\Windows\\Start Menu\\Programs");
  set(u"uninstall_actions/remove_link_3", u"\\Windows\\Start Menu\\Programs\\atlas.lnk");
  runRemoveLinkActions(*context, u"uninstall_actions");
  EXPECT_FALSE(image.exists(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk"));
  EXPECT_TRUE(image.exists(u"\\Windows\\Start Menu\\Programs\\Keep.lnk"));
  EXPECT_TRUE(image.exists(u"\\Windows\\Start Menu\\Programs"));
}

// ---- Registry --------------------------------------------------------------------------

TEST_F(DeviceActionsTest, RegistryListWritesValuesAndDeletesKeys) {
  image.writeRegistry(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Atlas]\n\"Keep\"=dword:00000001\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Atlas\\Today]\n\"Enabled\"=dword:00000001\n");
  start();
  set(u"l/reg_key_1", u"HKLM\\Software\\Atlas\\Minus");
  set(u"l/reg_dw_value_1", u"-1");
  set(u"l/reg_key_2", u"HKCU\\Software\\Atlas\\");
  set(u"l/reg_str_value_2", u"default text");
  set(u"l/reg_key_3", u"hklm\\Software\\Atlas\\Lower");
  set(u"l/reg_dw_value_3", u"3");
  runRegistryActions(*context, u"l");

  set(u"l/remove_reg_1", u"HKLM\\Software\\Atlas\\Today");
  set(u"l/remove_reg_2", u"HKLM\\Software\\Missing\\Parent\\Child");
  set(u"l/remove_reg_3", u"HKLM\\Software\\");
  runRemoveRegistryActions(*context, u"l");

  const std::string registry = image.registryText();
  EXPECT_NE(registry.find("\"Minus\"=dword:ffffffff"), std::string::npos) << registry;
  EXPECT_NE(registry.find("[HKEY_CURRENT_USER\\Software\\Atlas]\n@=\"default text\""),
            std::string::npos)
      << registry;
  EXPECT_EQ(registry.find("Lower"), std::string::npos) << registry;
  EXPECT_EQ(registry.find("Today"), std::string::npos) << registry;
  // The missing parent is made, empty; the empty subkey name took nothing away.
  EXPECT_NE(registry.find("[HKEY_LOCAL_MACHINE\\Software\\Missing\\Parent]"), std::string::npos)
      << registry;
  EXPECT_NE(registry.find("\"Keep\"=dword:00000001"), std::string::npos) << registry;
  EXPECT_EQ(traced("broadcast").size(), 3u);
}

TEST_F(DeviceActionsTest, BackedUpAbsentValueIsKeptAsAbsent) {
  image.writeRegistry(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Atlas]\n\"Units\"=dword:00000002\n\"Voice\"=\"Anna\"\n");
  start();
  set(u"upgrade/backup_dw_1", u"HKLM\\Software\\Atlas\\Units");
  set(u"upgrade/backup_dw_2", u"HKLM\\Software\\Atlas\\NoNumber");
  set(u"upgrade/backup_str_3", u"HKLM\\Software\\Atlas\\Voice");
  set(u"upgrade/backup_str_4", u"HKLM\\Software\\Atlas\\NoText");
  EXPECT_TRUE(backupRegistry(*context, u"upgrade"));
  const RegistryBackup& backup = context->registryBackup;
  EXPECT_EQ(backup.dwords.at(u"HKLM\\Software\\Atlas\\Units"), std::optional<std::uint32_t>(2));
  EXPECT_FALSE(backup.dwords.at(u"HKLM\\Software\\Atlas\\NoNumber").has_value());
  EXPECT_EQ(backup.strings.at(u"HKLM\\Software\\Atlas\\Voice"),
            std::optional<std::u16string>(u"Anna"));
  EXPECT_FALSE(backup.strings.at(u"HKLM\\Software\\Atlas\\NoText").has_value());
  EXPECT_TRUE(traced("set_value").empty());
}

// ---- Copying ---------------------------------------------------------------------------

TEST_F(DeviceActionsTest, InstallCopyFollowsTheDestinationRules) {
  image.writeFile(u"\\Storage Card\\Atlas\\nav.exe", "program");
  image.writeFile(u"\\Storage Card\\Atlas\\Data\\a.dat", "aa");
  image.makeFolder(u"\\Storage Card\\Atlas\\Empty");
  image.writeFile(u"\\Storage Card\\Atlas\\Voices\\anna.wav", "wave");
  image.writeFile(u"\\Storage Card\\Atlas\\zz.dll", "library");
  image.writeFile(u"\\Storage Card\\Single\\readme.txt", "read me");
  image.writeFile(u"\\Storage Card\\Maps\\europe.map", "map");
  image.writeFile(u"\\Storage Card\\Maps\\world.map", "world");
  image.writeFile(u"\\Storage Card\\Maps\\notes.txt", "notes");
  start();
  set(u"install_actions/src_1", u"\\Atlas");  // whole folder into a planned folder
  set(u"install_actions/dst_1", u"\\Program Files\\Atlas");
  set(u"install_actions/src_2", u"\\Single\\readme.txt");  // into an existing folder
  set(u"install_actions/dst_2", u"\\My Documents");
  set(u"install_actions/src_3", u"\\Single\\readme.txt");  // a rename
  set(u"install_actions/dst_3", u"\\Windows\\atlas.txt");
  set(u"install_actions/src_4", u"\\Maps\\*.map");  // a pattern
  set(u"install_actions/dst_4", u"\\Program Files\\Atlas\\Maps");

  CopyPlan plan;
  plan.addDirectory(u"\\Program Files\\Atlas");
  plan.addDirectory(u"\\Program Files\\Atlas\\Maps");
  collectCopyActions(*context, u"install_actions", plan);
  EXPECT_EQ(plan.totalBytes, 7u + 2 + 4 + 7 + 7 + 7 + 3 + 5);

  const WindowHandle dialog = openStatusDialog(*context);
  ASSERT_NE(dialog, 0u);
  EXPECT_TRUE(performCopyPlan(*context, plan, dialog));

  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\nav.exe"), "program");
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\Data\\a.dat"), "aa");
  EXPECT_TRUE(image.exists(u"\\Program Files\\Atlas\\Empty"));
  // Files after an empty subfolder are copied too.
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\Voices\\anna.wav"), "wave");
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\zz.dll"), "library");
  EXPECT_EQ(image.readFile(u"\\My Documents\\readme.txt"), "read me");
  EXPECT_EQ(image.readFile(u"\\Windows\\atlas.txt"), "read me");
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\Maps\\europe.map"), "map");
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\Maps\\world.map"), "world");
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\Maps\\notes.txt"));

  // 2 planned + 3 found folders, 8 files: 13 steps ending at 100.
  const std::vector<int> positions = progress();
  ASSERT_EQ(positions.size(), 13u);
  EXPECT_EQ(positions.front(), 7);
  EXPECT_EQ(positions.back(), 100);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
}

TEST_F(DeviceActionsTest, FolderIntoUnplannedDestinationPutsTopFilesAtThatPath) {
  image.writeFile(u"\\Storage Card\\Skins\\day.skn", "day");
  image.writeFile(u"\\Storage Card\\Skins\\night.skn", "night");
  image.writeFile(u"\\Storage Card\\Skins\\Extra\\dusk.skn", "dusk");
  start();
  set(u"card_insert_actions/src_1", u"\\Skins");
  set(u"card_insert_actions/dst_1", u"\\Windows\\Skins");
  CopyPlan plan;
  collectCopyActions(*context, u"card_insert_actions", plan);
  EXPECT_EQ(plan.directories, (std::vector<std::u16string>{u"\\Windows\\Skins\\Extra"}));
  ASSERT_EQ(plan.jobs.size(), 3u);
  for (const CopyJob& job : plan.jobs) {
    if (job.source.ends_with(u"dusk.skn")) {
      EXPECT_EQ(job.destination, u"\\Windows\\Skins\\Extra\\dusk.skn");
    } else {
      EXPECT_EQ(job.destination, u"\\Windows\\Skins");
    }
  }
  // Plain copies create no folder: the one inside the missing folder fails, silently.
  copyJobsOnly(*context, plan);
  EXPECT_TRUE(traced("create_directory").empty());
  EXPECT_TRUE(traced("message_box").empty());
  EXPECT_EQ(traced("copy_file").size(), 3u);
  EXPECT_FALSE(image.exists(u"\\Windows\\Skins\\Extra\\dusk.skn"));
}

TEST_F(DeviceActionsTest, FailedCopyShowsTheSourceAndStops) {
  image.writeFile(u"\\Storage Card\\App\\a.exe", "a");
  image.writeFile(u"\\Storage Card\\App\\b.exe", "b");
  image.writeFile(u"\\Storage Card\\App\\c.exe", "c");
  start();
  set(u"install_actions/src_1", u"\\App");
  set(u"install_actions/dst_1", u"\\Program Files\\App");
  CopyPlan plan;
  plan.addDirectory(u"\\Program Files\\App");
  collectCopyActions(*context, u"install_actions", plan);
  ASSERT_EQ(plan.jobs.size(), 3u);
  std::filesystem::remove(image.hostPath(u"\\Storage Card\\App\\b.exe"));  // gone meanwhile

  EXPECT_FALSE(performCopyPlan(*context, plan, 0));
  const std::vector<json> boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "Can't copy:\n\\Storage Card\\App\\b.exe");
  EXPECT_EQ(boxes[0]["style"], 0x00050010);
  EXPECT_TRUE(image.exists(u"\\Program Files\\App\\a.exe"));
  EXPECT_FALSE(image.exists(u"\\Program Files\\App\\c.exe"));
}

TEST_F(DeviceActionsTest, MissingFoldersAreMadeFromTheRoot) {
  start();
  CopyPlan plan;
  plan.addDirectory(u"\\Program Files\\Atlas\\Deep\\Deeper");
  EXPECT_TRUE(performCopyPlan(*context, plan, 0));
  EXPECT_TRUE(image.exists(u"\\Program Files\\Atlas\\Deep\\Deeper"));
}

// ---- Deleting --------------------------------------------------------------------------

TEST_F(DeviceActionsTest, RemoveDirAndRemoveFile) {
  image.writeFile(u"\\Program Files\\Atlas\\nav.exe", "x");
  image.writeFile(u"\\Program Files\\Atlas\\Data\\a.dat", "x");
  image.writeFile(u"\\Program Files\\Atlas\\Data\\Deep\\b.dat", "x");
  image.writeFile(u"\\My Documents\\Atlas\\route1.gpx", "x");
  image.writeFile(u"\\My Documents\\Atlas\\route2.gpx", "x");
  image.writeFile(u"\\My Documents\\Atlas\\keep.txt", "x");
  image.writeFile(u"\\My Documents\\Atlas\\Old\\route3.gpx", "x");
  image.writeFile(u"\\Windows\\system.dll", "x");
  start();
  set(u"uninstall_actions/remove_file_1", u"\\My Documents\\Atlas\\*.gpx");
  set(u"uninstall_actions/remove_dir_1", u"\\Program Files\\Atlas");
  set(u"uninstall_actions/remove_dir_2", u"");
  runRemoveFileActions(*context, u"uninstall_actions");
  runRemoveDirActions(*context, u"uninstall_actions");

  EXPECT_FALSE(image.exists(u"\\My Documents\\Atlas\\route1.gpx"));
  EXPECT_FALSE(image.exists(u"\\My Documents\\Atlas\\route2.gpx"));
  EXPECT_TRUE(image.exists(u"\\My Documents\\Atlas\\keep.txt"));
  EXPECT_TRUE(image.exists(u"\\My Documents\\Atlas\\Old\\route3.gpx"));

  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\nav.exe"));
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\Data\\a.dat"));
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\Data\\Deep\\b.dat"));
  EXPECT_TRUE(image.exists(u"\\Program Files\\Atlas\\Data\\Deep"));
  // The empty value did not wipe the device.
  EXPECT_TRUE(image.exists(u"\\Windows\\system.dll"));
  EXPECT_TRUE(image.exists(u"\\Storage Card\\2577\\autorun_8.qlm"));
}

// ---- Libraries and the program ---------------------------------------------------------

TEST_F(DeviceActionsTest, RegistersEveryLibraryThatLoads) {
  image.writeFile(u"\\Windows\\one.dll", "x");
  image.writeFile(u"\\Windows\\three.dll", "x");
  start();
  set(u"install_actions/register_dll_1", u"\\Windows\\one.dll");
  set(u"install_actions/register_dll_2", u"\\Windows\\two.dll");
  set(u"install_actions/register_dll_3", u"\\Windows\\three.dll");
  EXPECT_FALSE(runRegisterDllActions(*context, u"install_actions"));
  const std::vector<json> calls = traced("call_entry");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0]["path"], "\\Windows\\one.dll");
  EXPECT_EQ(calls[1]["path"], "\\Windows\\three.dll");
  EXPECT_EQ(calls[1]["entry"], "DllRegisterServer");
  EXPECT_EQ(traced("load_library").size(), 3u);
}

TEST_F(DeviceActionsTest, LaunchWithoutParentFolderStartsAtTheRoot) {
  start();
  set(u"navigation/exe", u"app.exe");
  set(u"navigation/exe_dir", u"App");
  context->launchFolderNumber = -1;
  launchApplication(*context);
  context->launchFolderNumber = 38;
  launchApplication(*context);
  const std::vector<json> opened = traced("shell_open");
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0]["path"], "\\App\\app.exe");
  EXPECT_EQ(opened[1]["path"], "\\Program Files\\App\\app.exe");
}

// ---- Failing device operations ---------------------------------------------------------

class FailingDeviceTest : public DeviceActionsTest {
 protected:
  InstallerContext& startFailing() {
    sim = image.platform();
    faults = std::make_unique<sim::FaultInjectingPlatform>(*sim);
    context = std::make_unique<InstallerContext>(*faults, std::string(kTestKey));
    context->installerPath = u"\\storage card\\2577\\autorun.exe";
    return *context;
  }

  std::unique_ptr<sim::FaultInjectingPlatform> faults;
};

TEST_F(FailingDeviceTest, FolderThatCannotBeMadeStopsTheCopySilently) {
  image.writeFile(u"\\Storage Card\\App\\a.exe", "a");
  startFailing();
  set(u"install_actions/src_1", u"\\App");
  set(u"install_actions/dst_1", u"\\Program Files\\App");
  CopyPlan plan;
  plan.addDirectory(u"\\Program Files\\App");
  collectCopyActions(*context, u"install_actions", plan);
  faults->setCreateDirectoryFailure(kErrorPathNotFound);
  faults->failNth(sim::Operation::CreateDirectory, 1, true);
  EXPECT_FALSE(performCopyPlan(*context, plan, 0));
  EXPECT_TRUE(traced("copy_file").empty());
  EXPECT_TRUE(traced("message_box").empty());
  EXPECT_FALSE(image.exists(u"\\Program Files\\App"));
}

TEST_F(FailingDeviceTest, ShortcutWriteFailureIsReportedAsFalse) {
  image.writeFile(u"\\Program Files\\a.exe", "MZ");
  startFailing();
  faults->failNth(sim::Operation::FileWrite, 1);
  EXPECT_FALSE(createShortcut(*context, u"\\Windows\\a.lnk", u"\\Program Files\\a.exe"));
  EXPECT_TRUE(createShortcut(*context, u"\\Windows\\a.lnk", u"\\Program Files\\a.exe"));
  EXPECT_EQ(image.readFile(u"\\Windows\\a.lnk"), "1#\"\\Program Files\\a.exe\"");
}

TEST_F(FailingDeviceTest, RegistryKeyThatCannotBeOpenedLeavesNothing) {
  startFailing();
  faults->failNth(sim::Operation::CreateKey, 1);
  writeRegistryDword(*faults, u"HKLM\\Software\\Atlas\\Installed", 1);
  EXPECT_EQ(readRegistryDword(*faults, u"HKLM\\Software\\Atlas\\Installed"), kAbsentMarker);
  EXPECT_EQ(image.registryText().find("Installed"), std::string::npos);
  // Deleting when the key cannot be opened: nothing deleted, the shell still told.
  faults->failNth(sim::Operation::CreateKey, 1);
  EXPECT_FALSE(deleteRegistryKey(*faults, RegistryRoot::LocalMachine, u"Software", u"Atlas"));
  EXPECT_EQ(traced("broadcast").size(), 1u);
}

}  // namespace
}  // namespace autorun::testing
