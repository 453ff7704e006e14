// The upgrade on the simulated device: comparing stamps, carrying values over.
#include <gtest/gtest.h>

#include <filesystem>

#include "flow_fixture.h"
#include "flows/upgrade_flow.h"

namespace autorun::testing {
namespace {

class UpgradeTest : public FlowTest {
 protected:
  void installed(std::uint32_t installedStamp) {
    writeInstalledApplication(installedStamp);
    setDword(kInstalledMark, 1);
  }
  // Index of the last write of a value in the trace; -1 if none.
  long lastWrite(const std::string& name) const {
    const auto& trace = device->trace();
    for (long i = static_cast<long>(trace.size()) - 1; i >= 0; --i) {
      if (trace[i].value("op", "") == "set_value" && trace[i].value("name", "") == name) return i;
    }
    return -1;
  }
};

struct StampCase {
  const char* name;
  std::optional<std::uint32_t> card, installed;  // nothing: no such file
  int result;
};

class CompareStampsTest : public UpgradeTest, public ::testing::WithParamInterface<StampCase> {};

TEST_P(CompareStampsTest, ComparesAsUnsignedNumbers) {
  const StampCase& c = GetParam();
  if (c.card) {
    image.writeFile(kCardExe, fakeExecutable(*c.card));
  } else {
    std::filesystem::remove(image.hostPath(kCardExe));
  }
  if (c.installed) image.writeFile(kInstalledExe, fakeExecutable(*c.installed));
  start();
  EXPECT_EQ(compareVersionStamps(*context), c.result);
}

INSTANTIATE_TEST_SUITE_P(Cases, CompareStampsTest,
                         ::testing::Values(StampCase{"CardGreater", 0x00010005, 0x00010004, 1},
                                           StampCase{"CardSmaller", 0x00010004, 0x00010005, -1},
                                           StampCase{"Equal", 7, 7, 0},
                                           StampCase{"HighBitIsGreater", 0xFFFFFFFFu, 1, 1},
                                           StampCase{"HighBitInstalled", 1, 0x80000000u, -1},
                                           StampCase{"NoCardFile", std::nullopt, 1, 0},
                                           StampCase{"NoInstalledFile", 1, std::nullopt, 0},
                                           StampCase{"NeitherFile", std::nullopt, std::nullopt, 0}),
                         CaseName());

TEST_F(UpgradeTest, CarriesTheSavedValuesOverTheReinstallationDwordsFirst) {
  installed(kCardStamp - 1);
  setDword(kVolume, 9);
  setString(kLastCity, u"Paris");
  start();
  EXPECT_EQ(runUpgrade(*context), 1);

  // The installation wrote its defaults; the saved values replaced them.
  EXPECT_EQ(dword(kVolume), 9u);
  EXPECT_EQ(text(kLastCity), u"Paris");
  const long volume = lastWrite("Volume");
  const long city = lastWrite("LastCity");
  EXPECT_GT(volume, lastWrite("Installed"));
  EXPECT_LT(volume, city);
  EXPECT_EQ(device->trace()[volume]["value"], 9);
  EXPECT_EQ(device->trace()[city]["value"], "Paris");

  // Silent all through: no question, the install's status dialog, the new build.
  EXPECT_EQ(count("message_box"), 0u);
  EXPECT_EQ(count("question"), 0u);
  EXPECT_EQ(statusDialogsOpened(), 1u);
  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp, kExeSize));
  EXPECT_TRUE(programsStarted().empty());
}

TEST_F(UpgradeTest, ValuesThatWereAbsentAreNotWrittenBack) {
  installed(kCardStamp - 1);
  start();
  runUpgrade(*context);
  // The installation's own values stay; no absent marker or empty text replaces them.
  EXPECT_EQ(dword(kVolume), 5u);
  EXPECT_EQ(text(kLastCity), u"Berlin");
  for (const nlohmann::json& write : traced("set_value")) {
    if (write["name"] == "Volume") {
      EXPECT_EQ(write["value"], 5);
    }
    if (write["name"] == "LastCity") {
      EXPECT_EQ(write["value"], "Berlin");
    }
  }
}

TEST_F(UpgradeTest, SavedValuesGoBackEvenWhenTheInstallationStopsEarly) {
  installed(kCardStamp - 1);
  setDword(kVolume, 9);
  image.writeDeviceJson({{"free_bytes", 0}});
  start();
  runUpgrade(*context);
  const auto boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["caption"], "Atlas setup");
  EXPECT_EQ(dword(kInstalledMark), std::nullopt);
  EXPECT_EQ(dword(kVolume), 9u);
}

TEST_F(UpgradeTest, RestoreWritesPresentValuesInLocationOrderDwordsFirst) {
  start();
  RegistryBackup& backup = context->registryBackup;
  backup.dwords[u"HKCU\\Software\\Atlas\\B"] = 2;
  backup.dwords[u"HKCU\\Software\\Atlas\\A"] = 1;
  backup.dwords[u"HKCU\\Software\\Atlas\\Gone"] = std::nullopt;
  backup.strings[u"HKCU\\Software\\Atlas\\S"] = u"text";
  backup.strings[u"HKCU\\Software\\Atlas\\Empty"] = u"";
  backup.strings[u"HKCU\\Software\\Atlas\\Missing"] = std::nullopt;
  EXPECT_EQ(restoreBackedUpValues(*context), 1);

  std::vector<std::string> written;
  for (const nlohmann::json& write : traced("set_value")) written.push_back(write["name"]);
  EXPECT_EQ(written, (std::vector<std::string>{"A", "B", "Empty", "S"}));
  EXPECT_EQ(dword(u"HKCU\\Software\\Atlas\\A"), 1u);
  EXPECT_EQ(text(u"HKCU\\Software\\Atlas\\Empty"), u"");
  EXPECT_EQ(dword(u"HKCU\\Software\\Atlas\\Gone"), std::nullopt);
  EXPECT_EQ(text(u"HKCU\\Software\\Atlas\\Missing"), std::nullopt);
}

}  // namespace
}  // namespace autorun::testing
