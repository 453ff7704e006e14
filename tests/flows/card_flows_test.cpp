// Card insertion and removal on the simulated device.
#include <gtest/gtest.h>

#include "flow_fixture.h"
#include "flows/card_flows.h"

namespace autorun::testing {
namespace {

using Dword = std::optional<std::uint32_t>;

class CardFlowTest : public FlowTest {
 protected:
  // The application installed from a card with this stamp; the card keeps kCardStamp.
  void installed(std::uint32_t installedStamp = kCardStamp) {
    writeInstalledApplication(installedStamp);
    setDword(kInstalledMark, 1);
  }
  void presetToday(Dword saved, Dword today) {
    if (saved) setDword(kTodaySaved, *saved);
    if (today) setDword(kToday, *today);
  }
};

struct TodayCase {
  const char* name;
  Dword saved, today;            // before
  Dword savedAfter, todayAfter;  // after
};

class InsertTodayTest : public CardFlowTest, public ::testing::WithParamInterface<TodayCase> {};

TEST_P(InsertTodayTest, RestoresTheTodayItem) {
  const TodayCase& c = GetParam();
  installed();
  presetToday(c.saved, c.today);
  start();
  onCardInserted(*context);
  EXPECT_EQ(dword(kTodaySaved), c.savedAfter);
  EXPECT_EQ(dword(kToday), c.todayAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InsertTodayTest,
    ::testing::Values(TodayCase{"NothingSaved", std::nullopt, std::nullopt, 1, 1},
                      TodayCase{"NothingSavedItemOff", std::nullopt, 0, 1, 1},
                      TodayCase{"AbsentMarkerSaved", 0x80000000u, 0, 1, 1},
                      TodayCase{"SavedFiveItemOff", 5, 0, 5, 5},
                      TodayCase{"SavedZeroItemOn", 0, 1, 2, 1},
                      TodayCase{"SavedTwoItemOff", 2, 0, 2, 0},
                      TodayCase{"SavedOneItemUnreadable", 1, std::nullopt, 1, 1}),
    CaseName());

class RemoveTodayTest : public CardFlowTest, public ::testing::WithParamInterface<TodayCase> {};

TEST_P(RemoveTodayTest, SavesAndSwitchesOffTheTodayItem) {
  const TodayCase& c = GetParam();
  installed();
  presetToday(c.saved, c.today);
  start();
  onCardRemoved(*context);
  EXPECT_EQ(dword(kTodaySaved), c.savedAfter);
  EXPECT_EQ(dword(kToday), c.todayAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveTodayTest,
    ::testing::Values(TodayCase{"ItemOn", 1, 1, 1, 0}, TodayCase{"ItemWasAlreadyOn", 2, 1, 1, 1},
                      TodayCase{"ItemUnreadable", std::nullopt, std::nullopt, 0x80000000u, 0},
                      TodayCase{"ItemOff", 5, 0, 0, 0}),
    CaseName());

TEST_F(CardFlowTest, RemovalAndInsertionCycleKeepsAnItemThatWasOn) {
  installed();
  presetToday(0, 1);
  start();
  onCardInserted(*context);  // the item was on before the application: S = 2
  onCardRemoved(*context);
  EXPECT_EQ(dword(kTodaySaved), 1u);
  EXPECT_EQ(dword(kToday), 1u);
  onCardInserted(*context);
  EXPECT_EQ(dword(kToday), 1u);
}

TEST_F(CardFlowTest, InsertionCopiesWithoutMakingFoldersAndSkipsFailures) {
  configuration += R"([card_insert_actions]
src_2 = "\\Atlas\\maps.exe"
dst_2 = "\\Missing\\maps.exe"
src_3 = "\\Atlas\\Skins\\day.skn"
dst_3 = "%PERSONAL%\\day.skn"
)";
  image.writeConfiguration(configuration);
  installed();
  start();
  onCardInserted(*context);
  EXPECT_EQ(image.readFile(u"\\My Documents\\atlas.ini"), "[atlas]\nunits=metric\n");
  EXPECT_TRUE(image.exists(u"\\My Documents\\day.skn"));
  EXPECT_FALSE(image.exists(u"\\Missing"));
  EXPECT_EQ(count("create_directory"), 0u);
  EXPECT_EQ(count("message_box"), 0u);
  EXPECT_TRUE(progress().empty());
}

TEST_F(CardFlowTest, InsertionRunsItsListKindByKindThenTellsTheShell) {
  installed();
  start();
  onCardInserted(*context);
  const long link =
      indexOf("write_file", "path", "\\Windows\\Start Menu\\Programs\\Atlas Maps.lnk");
  const long value = indexOf("set_value", "name", "MapFolder");
  const long removal = indexOf("delete_key", "subkey", "Offline");
  ASSERT_GE(link, 0);
  EXPECT_LT(link, value);
  EXPECT_LT(value, removal);
  // One broadcast for the removed key, then the flow's own as the last change.
  EXPECT_EQ(count("broadcast"), 2u);
  EXPECT_GT(indexOf("broadcast", "op", "broadcast"), removal);
  EXPECT_EQ(device->trace().back()["op"], "broadcast");
  EXPECT_EQ(text(kMapFolder), u"\\Storage Card\\Atlas\\Maps");
  EXPECT_EQ(image.readFile(u"\\Windows\\Start Menu\\Programs\\Atlas Maps.lnk"),
            "1#\"\\Storage Card\\Atlas\\maps.exe\"");
}

TEST_F(CardFlowTest, RemovalClosesTheProgramAndUndoesTheCardWork) {
  installed();
  image.writeDeviceJson(
      {{"windows", nlohmann::json::array({{{"class", "AtlasMain"}, {"title", "Atlas"}}})}});
  image.writeFile(u"\\Windows\\Start Menu\\Programs\\Atlas Maps.lnk", "1#\"x\"");
  setDword(u"HKLM\\Software\\Atlas\\CardData\\Tiles", 3);
  start();
  onCardRemoved(*context);
  const auto requests = traced("close_request");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["class"], "AtlasMain");
  EXPECT_EQ(count("wait_process"), 0u);

  const long link =
      indexOf("delete_file", "path", "\\Windows\\Start Menu\\Programs\\Atlas Maps.lnk");
  const long removal = indexOf("delete_key", "subkey", "CardData");
  const long value = indexOf("set_value", "name", "MapFolder");
  ASSERT_GE(link, 0);
  EXPECT_LT(link, removal);
  EXPECT_LT(removal, value);
  EXPECT_EQ(device->trace().back()["op"], "broadcast");
  EXPECT_FALSE(image.exists(u"\\Windows\\Start Menu\\Programs\\Atlas Maps.lnk"));
  EXPECT_EQ(dword(u"HKLM\\Software\\Atlas\\CardData\\Tiles"), std::nullopt);
  EXPECT_EQ(text(kMapFolder), u"");
  EXPECT_EQ(count("message_box"), 0u);
}

TEST_F(CardFlowTest, EqualStampsOfferNothingAfterComparingTwice) {
  installed(kCardStamp);
  start({true});
  onCardInserted(*context);
  EXPECT_EQ(count("message_box"), 0u);
  EXPECT_EQ(faults->timesOpened(kInstalledExe), 2u);
  EXPECT_EQ(device->answersLeft(), 1u);
}

TEST_F(CardFlowTest, NewerCardIsOfferedAnUpdate) {
  installed(kCardStamp - 1);
  start({false});
  onCardInserted(*context);
  const auto boxes = traced("message_box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"], "The card holds a newer build. Update?");
  EXPECT_EQ(boxes[0]["caption"], "Atlas update");
  EXPECT_EQ(boxes[0]["style"], 0x00050024);
  EXPECT_EQ(faults->timesOpened(kInstalledExe), 1u);
  // Declined: the installed build stays.
  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp - 1, kExeSize));
  EXPECT_EQ(statusDialogsOpened(), 0u);
}

TEST_F(CardFlowTest, OlderCardIsOfferedTheSameUpgrade) {
  installed(kCardStamp + 1);
  start({true});
  onCardInserted(*context);
  EXPECT_EQ(dialogTexts(),
            std::vector<std::string>{"The card holds an older build. Go back to it?"});
  // Twice here, once as the shortcut's target, twice in the nested insertion.
  EXPECT_EQ(faults->timesOpened(kInstalledExe), 2u + 1u + 2u);
  // The upgrade ran: the card's build is installed, with the status dialog.
  EXPECT_EQ(statusDialogsOpened(), 1u);
  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp, kExeSize));
  EXPECT_EQ(dword(kInstalledMark), 1u);
}

TEST_F(CardFlowTest, MissingInstalledProgramOffersNothing) {
  setDword(kInstalledMark, 1);
  start({true});
  onCardInserted(*context);
  EXPECT_EQ(count("message_box"), 0u);
  EXPECT_EQ(statusDialogsOpened(), 0u);
}

struct AutorunCase {
  const char* name;
  Dword autorun;
  std::size_t starts;
};

class AutorunTest : public CardFlowTest, public ::testing::WithParamInterface<AutorunCase> {};

TEST_P(AutorunTest, StartsTheProgramOnlyWhenSwitchedOn) {
  installed();
  if (GetParam().autorun) setDword(kAutorun, *GetParam().autorun);
  start();
  onCardInserted(*context);
  EXPECT_EQ(programsStarted().size(), GetParam().starts);
  if (GetParam().starts != 0) {
    EXPECT_EQ(programsStarted()[0], "\\Program Files\\Atlas\\atlas.exe");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AutorunTest,
                         ::testing::Values(AutorunCase{"On", 1, 1}, AutorunCase{"Two", 2, 0},
                                           AutorunCase{"Off", 0, 0},
                                           AutorunCase{"Missing", std::nullopt, 0}),
                         CaseName());

TEST_F(CardFlowTest, AcceptedUpgradeWithAutorunStartsTheProgramTwice) {
  installed(kCardStamp - 1);
  setDword(kAutorun, 1);
  start({true});
  onCardInserted(*context);
  EXPECT_EQ(count("message_box"), 1u);
  EXPECT_EQ(programsStarted(), (std::vector<std::string>{"\\Program Files\\Atlas\\atlas.exe",
                                                         "\\Program Files\\Atlas\\atlas.exe"}));
}

}  // namespace
}  // namespace autorun::testing
