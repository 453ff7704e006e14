// The uninstall and reinstall flows on the simulated device.
#include <gtest/gtest.h>

#include "flow_fixture.h"
#include "flows/install_flow.h"
#include "flows/uninstall_flow.h"

namespace autorun::testing {
namespace {

class UninstallFlowTest : public FlowTest {
 protected:
  // A device on which the application is installed, with `windows` open.
  void installed(const std::vector<nlohmann::json>& windows = {}) {
    writeInstalledApplication(kCardStamp);
    image.writeFile(u"\\Program Files\\Atlas\\Skins\\day.skn", "a");
    image.writeFile(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk", "1#\"x\"");
    image.writeDeviceJson({{"windows", nlohmann::json(windows)}});
    setDword(kInstalledMark, 1);
    setDword(kVolume, 7);
  }

  // Whether the uninstall list ran.
  bool removed() {
    return !image.exists(kInstalledExe) &&
           !image.exists(u"\\Program Files\\Atlas\\Skins\\day.skn") &&
           !image.exists(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk") &&
           dword(kInstalledMark) == std::nullopt && dword(kVolume) == std::nullopt;
  }
  bool untouched() {
    return image.exists(kInstalledExe) && dword(kInstalledMark) == 1u &&
           count("delete_file") == 0 && count("delete_key") == 0 && count("call_entry") == 0;
  }
};

const nlohmann::json kAtlasWindow = {{"class", "AtlasMain"}, {"title", "Atlas"}};
const nlohmann::json kContactsWindow = {{"class", "MSContactsUI"}, {"title", "Contacts"}};

TEST_F(UninstallFlowTest, InteractiveAsksRemovesAndReports) {
  installed();
  start({true});
  runUninstall(*context, true);

  const auto boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0]["text"], "Remove Atlas?");
  EXPECT_EQ(boxes[0]["caption"], "Atlas removal");
  EXPECT_EQ(boxes[0]["style"], 0x00050024);
  EXPECT_EQ(boxes[1]["text"], "Atlas has been removed.");
  EXPECT_EQ(boxes[1]["caption"], "Atlas removal");
  EXPECT_EQ(boxes[1]["style"], 0x00050000);
  EXPECT_TRUE(removed());
  // Folders stay, emptied.
  EXPECT_TRUE(image.exists(u"\\Program Files\\Atlas\\Skins"));
  EXPECT_EQ(statusDialogsOpened(), 0u);
}

TEST_F(UninstallFlowTest, ListRunsKindByKind) {
  installed();
  start({true});
  runUninstall(*context, true);
  const long unregister = indexOf("call_entry", "entry", "DllUnregisterServer");
  const long firstKey = indexOf("delete_key", "subkey", "Atlas");
  const long link = indexOf("delete_file", "path", "\\Windows\\Start Menu\\Programs\\Atlas.lnk");
  const long files = indexOf("delete_file", "path", "\\Program Files\\Atlas\\atlas.exe");
  const long folders = indexOf("delete_file", "path", "\\Program Files\\Atlas\\Skins\\day.skn");
  const long ready = indexOf("message_box", "text", "Atlas has been removed.");
  ASSERT_GE(unregister, 0);
  EXPECT_LT(unregister, firstKey);
  EXPECT_LT(firstKey, link);
  EXPECT_LT(link, files);
  EXPECT_LT(files, folders);
  EXPECT_LT(folders, ready);
  // Every removed key tells the shell.
  EXPECT_EQ(count("broadcast"), 2u);
}

TEST_F(UninstallFlowTest, InteractiveAnswerNoChangesNothing) {
  installed();
  start({false});
  runUninstall(*context, true);
  EXPECT_EQ(dialogTexts(), std::vector<std::string>{"Remove Atlas?"});
  EXPECT_TRUE(untouched());
  EXPECT_EQ(count("close_request"), 0u);
}

TEST_F(UninstallFlowTest, InteractiveWithTheProgramRunningRemovesNothing) {
  installed({kAtlasWindow});
  start({true});
  runUninstall(*context, true);
  EXPECT_EQ(dialogTexts(),
            (std::vector<std::string>{"Remove Atlas?", "Close the navigation first."}));
  const auto boxes = traced("message_box");
  EXPECT_EQ(boxes[1]["caption"], "Atlas removal");
  EXPECT_EQ(boxes[1]["style"], 0);
  EXPECT_EQ(count("close_request"), 0u);
  EXPECT_TRUE(untouched());
}

TEST_F(UninstallFlowTest, SilentWithTheProgramRunningClosesItAndGoesOn) {
  installed({kAtlasWindow});
  start();
  runUninstall(*context, false);
  EXPECT_TRUE(dialogTexts().empty());
  const auto requests = traced("close_request");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["class"], "AtlasMain");
  // Not waited for.
  EXPECT_EQ(count("wait_process"), 0u);
  EXPECT_TRUE(removed());
}

TEST_F(UninstallFlowTest, ContactsWindowIsClosedAndWaitedFor) {
  installed({kContactsWindow});
  start();
  runUninstall(*context, false);
  const auto requests = traced("close_request");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["class"], "MSContactsUI");
  const auto waits = traced("wait_process");
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_EQ(waits[0]["milliseconds"], 2000);
  EXPECT_LT(indexOf("wait_process", "milliseconds", 2000),
            indexOf("call_entry", "entry", "DllUnregisterServer"));
}

TEST_F(UninstallFlowTest, ContactsThatDoNotEndAreLeftAfterTheWait) {
  installed({{{"class", "MSContactsUI"}, {"title", "Contacts"}, {"process_exits", false}}});
  start();
  runUninstall(*context, false);
  const auto waits = traced("wait_process");
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_EQ(waits[0]["exited"], false);
  EXPECT_TRUE(removed());
}

TEST_F(UninstallFlowTest, ConfiguredContactsClassReplacesTheDefault) {
  configuration += "[navigation]\npoclass = \"PoomContacts\"\n";
  image.writeConfiguration(configuration);
  installed({kContactsWindow, {{"class", "PoomContacts"}, {"title", ""}}});
  start();
  closeContactsWindow(*context);
  const auto requests = traced("close_request");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["class"], "PoomContacts");
}

TEST_F(UninstallFlowTest, NoContactsWindowNoWait) {
  installed();
  start();
  closeContactsWindow(*context);
  EXPECT_EQ(count("close_request"), 0u);
  EXPECT_EQ(count("wait_process"), 0u);
}

TEST_F(UninstallFlowTest, EmptyListStillAsksAndReports) {
  image.writeConfiguration(R"([common]
brand = "Atlas"
website = "atlas.example"
[uninstall]
title = "%s removal"
question = "Remove %s?"
ready = "%s has been removed."
)");
  start({true});
  runUninstall(*context, true);
  EXPECT_EQ(dialogTexts(), (std::vector<std::string>{"Remove Atlas?", "Atlas has been removed."}));
}

TEST_F(UninstallFlowTest, ReinstallAnsweredNoChangesNothing) {
  installed();
  start({false});
  askReinstall(*context);
  const auto boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "Atlas is installed. Install it again?");
  EXPECT_EQ(boxes[0]["caption"], "Atlas removal");
  EXPECT_EQ(boxes[0]["style"], 0x00050024);
  EXPECT_TRUE(untouched());
  EXPECT_EQ(statusDialogsOpened(), 0u);
}

TEST_F(UninstallFlowTest, ReinstallAnsweredYesRemovesAndInstallsWithoutFurtherQuestion) {
  installed();
  image.writeFile(u"\\Program Files\\Atlas\\stale.dat", "old");
  start({true});
  askReinstall(*context);
  EXPECT_EQ(dialogTexts(), std::vector<std::string>{"Atlas is installed. Install it again?"});
  EXPECT_EQ(statusDialogsOpened(), 1u);
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\stale.dat"));
  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp, kExeSize));
  EXPECT_EQ(dword(kInstalledMark), 1u);
  // The user's setting went with the uninstall; the installation's default is back.
  EXPECT_EQ(dword(kVolume), 5u);
  EXPECT_TRUE(programsStarted().empty());
  EXPECT_LT(indexOf("call_entry", "entry", "DllUnregisterServer"),
            indexOf("call_entry", "entry", "DllRegisterServer"));
}

}  // namespace
}  // namespace autorun::testing
