#include "context/card_discovery.h"

#include <gtest/gtest.h>

#include <string>

#include "context/installer_context.h"
#include "platform/sim/fault_injecting_platform.h"
#include "support/memory_platform.h"
#include "support/test_keys.h"

namespace autorun {
namespace {

using sim::Operation;
using testing::MemoryPlatform;

// The in-memory device, with its calls counted.
struct Device {
  MemoryPlatform memory;
  sim::FaultInjectingPlatform platform{memory};
  InstallerContext context{platform, std::string(testing::kTestKey)};
  std::uint64_t cardsFetched() const { return platform.callCount(Operation::CardNext); }
};

std::u16string configOn(const std::u16string& card) {
  return u"\\" + card + u"\\2577\\autorun_8.qlm";
}

std::u16string cardName(int k) {
  std::u16string name = u"Card";
  for (char c : std::to_string(k)) name.push_back(static_cast<char16_t>(c));
  return name;
}

TEST(FindCardFolder, ChoosesTheFirstCardThatCarriesTheConfiguration) {
  struct Case {
    const char* what;
    std::u16string module;
    int cards;                  // named Card1, Card2, ...
    std::vector<int> withFile;  // cards that carry the configuration
    std::vector<int> heldAway;  // cards whose file another program holds exclusively
    std::u16string expected;
    int fetches;  // fetches after the first card
  };
  const std::u16string installer = u"\\Storage Card\\2577\\autorun.exe";
  const Case cases[] = {
      {"no card at all", installer, 0, {}, {}, u"", 0},
      {"one card with the file", installer, 1, {1}, {}, u"\\Card1", 1},
      {"first of two wins", installer, 2, {1, 2}, {}, u"\\Card1", 2},
      {"second card", installer, 3, {2}, {}, u"\\Card2", 3},
      {"unreadable file passed over", installer, 2, {1, 2}, {1}, u"\\Card2", 2},
      {"fifteenth card is examined", installer, 15, {15}, {}, u"\\Card15", 15},
      {"sixteenth card is not", installer, 16, {16}, {}, u"\\Storage Card", 15},
      {"seventeen cards", installer, 17, {16, 17}, {}, u"\\Storage Card", 15},
      {"installer two levels down", u"\\Storage Card\\autorun.exe", 1, {}, {}, u"\\", 1},
      {"installer in the root", u"\\autorun.exe", 1, {}, {}, u"", 1},
      {"installer without folder", u"autorun.exe", 1, {}, {}, u"", 1},
      {"deeper installer", u"\\SD\\a\\b\\autorun.exe", 1, {}, {}, u"\\SD\\a", 1},
  };
  for (const Case& c : cases) {
    Device device;
    device.memory.modulePath = c.module;
    device.memory.cards.clear();
    for (int k = 1; k <= c.cards; ++k) device.memory.cards.push_back(cardName(k));
    for (int k : c.withFile) device.memory.files[configOn(cardName(k))] = {0xFF, 0xFE};
    for (int k : c.heldAway) device.memory.heldExclusively.insert(configOn(cardName(k)));
    EXPECT_EQ(findCardFolder(device.context), c.expected) << c.what;
    EXPECT_EQ(device.cardsFetched(), static_cast<std::uint64_t>(c.fetches)) << c.what;
  }
}

TEST(FindCardFolder, DontFindSdGivesTheInstallerFolder) {
  Device device;
  device.memory.cards = {u"Card1"};
  device.memory.files[configOn(u"Card1")] = {0xFF, 0xFE};
  device.context.config.setValue(u"common/dont_find_sd", u"1");
  EXPECT_EQ(findCardFolder(device.context), u"\\Storage Card\\2577");
  EXPECT_EQ(device.platform.callCount(Operation::FindFirstCard), 0u);
}

TEST(FindCardFolder, LooksAgainAtEveryCall) {
  Device device;
  device.memory.cards = {u"Card1", u"Card2"};
  device.memory.files[configOn(u"Card2")] = {0xFF, 0xFE};
  EXPECT_EQ(findCardFolder(device.context), u"\\Card2");
  device.memory.cards = {u"Card1"};
  EXPECT_EQ(findCardFolder(device.context), u"\\Storage Card");
  device.memory.cards.clear();
  EXPECT_EQ(findCardFolder(device.context), u"");
}

TEST(CardDiscovery, SpecialFoldersAndReadableFiles) {
  Device device;
  device.memory.modulePath = u"\\Storage Card\\2577\\AutoRun.EXE";
  device.memory.files[u"\\Windows\\autorun_8.qlm"] = {1};
  device.memory.files[u"\\Windows\\held.qlm"] = {1};
  device.memory.heldExclusively.insert(u"\\Windows\\held.qlm");
  InstallerContext& context = device.context;

  // No folder number: the device is not asked.
  EXPECT_EQ(specialFolderPath(context, -1), u"");
  EXPECT_EQ(device.platform.callCount(Operation::SpecialFolderPath), 0u);
  EXPECT_EQ(specialFolderPath(context, 36), u"\\Windows");
  EXPECT_EQ(specialFolderPath(context, 38), u"\\Program Files");

  EXPECT_TRUE(fileReadable(device.platform, u"\\Windows\\autorun_8.qlm"));
  EXPECT_FALSE(fileReadable(device.platform, u"\\Windows\\held.qlm"));
  EXPECT_FALSE(fileReadable(device.platform, u"\\Windows\\missing.qlm"));
  EXPECT_EQ(device.memory.opens.back().second, FileOpenMode::ReadShared);

  EXPECT_EQ(installerFolder(context), u"\\Storage Card\\2577");  // not case-folded
}

}  // namespace
}  // namespace autorun
