// The order in which the entry asks the device for the folders it publishes: the four
// special folders as their variables come, then the card. On the gmock platform; the rest of
// the entry's dispatch is in entry_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "context/card_discovery.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "startup/entry_fixture.h"
#include "support/mock_platform.h"
#include "support/test_keys.h"

namespace autorun {
namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;

class OneCard : public CardEnumeration {
 public:
  bool next(std::u16string&) override { return false; }
};

TEST(EntryCallsTest, FolderVariablesArePublishedInOrderAfterTheLoad) {
  NiceMock<testing::MockPlatform> platform;
  InstallerContext context{platform, std::string(testing::kTestKey)};
  testing::RecordingSteps steps;
  steps.values = {{u"registry/installed", testing::kInstalledMark}};
  {
    InSequence order;
    EXPECT_CALL(platform, specialFolderPath(kSpecialFolderPersonal))
        .WillOnce(Return(u"\\My Documents"));
    EXPECT_CALL(platform, specialFolderPath(kSpecialFolderProgramFiles))
        .WillOnce(Return(u"\\Program Files"));
    EXPECT_CALL(platform, specialFolderPath(kSpecialFolderWindows)).WillOnce(Return(u"\\Windows"));
    EXPECT_CALL(platform, specialFolderPath(kSpecialFolderPrograms))
        .WillOnce(Return(u"\\Windows\\Start Menu\\Programs"));
    EXPECT_CALL(platform, findFirstCard(_)).WillOnce([](std::u16string& first) {
      first = u"Storage Card";
      return std::make_unique<OneCard>();
    });
  }
  runEntry(context, 0x4000, u"install", steps);
  EXPECT_EQ(steps.calls.front(), "load");
}

}  // namespace
}  // namespace autorun
