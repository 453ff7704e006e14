// Loading on the simulated device: real files in a device image, cards from device.json,
// message boxes in the trace.
#include <gtest/gtest.h>

#include <string>

#include "context/config_loader.h"
#include "context/installer_context.h"
#include "support/device_image.h"
#include "support/test_keys.h"

namespace autorun {
namespace {

using testing::DeviceImage;

std::string configText(std::string_view brand) {
  return "[common]\nbrand = \"" + std::string(brand) +
         "\"\nwebsite = \"www.atlas-nav.example\"\n[install]\ntitle = \"%s setup\"\n";
}

struct SimInstaller {
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<InstallerContext> context;

  explicit SimInstaller(const DeviceImage& image, std::u16string commandLine = u"") {
    sim::SimOptions options;
    options.installerPath = u"\\Storage Card\\2577\\autorun.exe";
    platform = image.platform(options);
    context = std::make_unique<InstallerContext>(*platform, std::string(testing::kTestKey));
    context->moduleHandle = sim::SimPlatform::kModuleHandle;
    context->commandLine = std::move(commandLine);
  }

  std::vector<nlohmann::json> messageBoxes() const {
    std::vector<nlohmann::json> boxes;
    for (const auto& entry : platform->trace()) {
      if (entry.value("op", "") == "message_box") boxes.push_back(entry);
    }
    return boxes;
  }
};

TEST(LoadConfigurationOnDevice, TakesTheFirstCardThatCarriesTheFile) {
  DeviceImage image;
  image.writeDeviceJson({{"cards", {"SD One", "SD Two", "Storage Card"}}});
  image.makeFolder(u"\\SD One");
  image.writeConfiguration(configText("Two"), u"\\SD Two\\2577\\autorun_8.qlm");
  image.writeConfiguration(configText("Three"), u"\\Storage Card\\2577\\autorun_8.qlm");
  image.writeConfiguration(configText("System"), u"\\Windows\\autorun_8.qlm");

  SimInstaller installer(image);
  EXPECT_EQ(loadConfiguration(*installer.context), kLoadOk);
  EXPECT_EQ(installer.context->config.getString(u"install/title", u""), u"Two setup");
  EXPECT_EQ(installer.context->installerPath, u"\\storage card\\2577\\autorun.exe");
  EXPECT_TRUE(installer.messageBoxes().empty());
}

TEST(LoadConfigurationOnDevice, MissingConfigurationIsReportedOnce) {
  DeviceImage image;
  SimInstaller installer(image);
  EXPECT_EQ(loadConfiguration(*installer.context), kLoadCannotOpen);
  const auto boxes = installer.messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "Fatal error: cannot open configuration file. (1)");
  EXPECT_EQ(boxes[0]["caption"], "Error");
  EXPECT_EQ(boxes[0]["style"], 0x00050010);

  SimInstaller uninstalling(image, u"uninstall");
  EXPECT_EQ(loadConfiguration(*uninstalling.context), kLoadCannotOpen);
  EXPECT_TRUE(uninstalling.messageBoxes().empty());
}

TEST(LoadConfigurationOnDevice, SizeLimitHasNoFallBack) {
  for (std::size_t size : {std::size_t{100000}, std::size_t{100001}}) {
    DeviceImage image;
    image.writeConfiguration(configText("System"), u"\\Windows\\autorun_8.qlm");
    std::string card = testing::encipherConfiguration(configText("Card"));
    card.resize(size, '\0');  // enciphered padding: deciphers to text after the entries
    image.writeFile(u"\\Storage Card\\2577\\autorun_8.qlm", card);

    SimInstaller installer(image);
    const int result = loadConfiguration(*installer.context);
    if (size == 100000) {
      EXPECT_EQ(result, kLoadOk);
      EXPECT_EQ(installer.context->config.getString(u"common/brand", u""), u"Card");
    } else {
      EXPECT_EQ(result, kLoadCannotOpen);
      EXPECT_EQ(installer.messageBoxes().size(), 1u);
    }
  }
}

}  // namespace
}  // namespace autorun
