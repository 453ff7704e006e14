// The entry with its real steps on the simulated device: the installer's own name, the
// preinstalled card removal and failed loads.
#include <gtest/gtest.h>

#include "flows/flow_fixture.h"
#include "support/test_keys.h"

namespace autorun::testing {
namespace {

class EntryOnDeviceTest : public FlowTest {
 protected:
  int runAs(const std::u16string& installerPath, const std::u16string& commandLine,
            std::vector<bool> answers = {}) {
    sim::SimOptions options;
    options.installerPath = installerPath;
    options.answers = std::move(answers);
    device = image.platform(std::move(options));
    context = std::make_unique<InstallerContext>(*device, std::string(kTestKey));
    return runEntry(*context, sim::SimPlatform::kModuleHandle, commandLine);
  }
};

constexpr char16_t kUpperCaseUninstaller[] = u"\\Storage Card\\2577\\UNINSTALL.EXE";

TEST_F(EntryOnDeviceTest, UninstallerInCapitalsWithoutInstallationOnlySaysSo) {
  EXPECT_EQ(runAs(kUpperCaseUninstaller, u""), kExitOk);
  const auto boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "Atlas is not installed.");
  EXPECT_EQ(boxes[0]["caption"], "Atlas removal");
  EXPECT_EQ(boxes[0]["style"], 0x00050030);
  EXPECT_EQ(count("question"), 0u);
  EXPECT_EQ(context->installerPath, u"\\storage card\\2577\\uninstall.exe");
}

TEST_F(EntryOnDeviceTest, UninstallerInCapitalsUninstallsAnInstallation) {
  writeInstalledApplication(kCardStamp);
  setDword(kInstalledMark, 1);
  EXPECT_EQ(runAs(kUpperCaseUninstaller, u"", {true}), kExitOk);
  EXPECT_EQ(dialogTexts(), (std::vector<std::string>{"Remove Atlas?", "Atlas has been removed."}));
  EXPECT_FALSE(image.exists(kInstalledExe));
}

TEST_F(EntryOnDeviceTest, PreinstalledCardRemovalEndsWithFourAndChangesNothing) {
  image.writeConfiguration(configuration + "[common]\npreinstalled = \"1\"\n");
  writeInstalledApplication(kCardStamp);
  setDword(kInstalledMark, 1);
  setDword(kToday, 1);
  EXPECT_EQ(runAs(u"\\Storage Card\\2577\\autorun.exe", u"uninstall"), kExitPreinstalled);
  EXPECT_TRUE(device->trace().empty());
  EXPECT_EQ(dword(kToday), 1u);
}

TEST_F(EntryOnDeviceTest, MissingConfigurationEndsWithOneAfterTheFatalMessage) {
  std::filesystem::remove(image.hostPath(u"\\Storage Card\\2577\\autorun_8.qlm"));
  EXPECT_EQ(runAs(u"\\Storage Card\\2577\\autorun.exe", u"install"), kExitCannotOpen);
  EXPECT_EQ(dialogTexts(),
            std::vector<std::string>{"Fatal error: cannot open configuration file. (1)"});
}

TEST_F(EntryOnDeviceTest, ConfigurationWithoutWebsiteEndsWithThree) {
  image.writeConfiguration("[common]\nbrand = \"Atlas\"\n");
  EXPECT_EQ(runAs(u"\\Storage Card\\2577\\autorun.exe", u""), kExitInvalid);
  EXPECT_EQ(dialogTexts(), std::vector<std::string>{"Fatal error: configuration is invalid. (3)"});
  EXPECT_EQ(count("question"), 0u);
}

}  // namespace
}  // namespace autorun::testing
