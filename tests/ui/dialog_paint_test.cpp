// The order of the dialogs' calls where it is what counts: painting the logo between
// beginPaint and endPaint, and moving the progress bar before the repaint. On the gmock
// platform; the dialogs' layout and answers are in dialog_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/dialog_ids.h"
#include "bmp_fixture.h"
#include "context/installer_context.h"
#include "support/memory_platform.h"
#include "support/mock_platform.h"
#include "support/test_keys.h"
#include "ui/question_dialog.h"
#include "ui/status_dialog.h"

namespace autorun {
namespace {

using ::testing::_;
using testing::BmpSpec;
using ::testing::InSequence;
using testing::MockPlatform;
using ::testing::NiceMock;
using ::testing::Return;

constexpr WindowHandle kPaintedDialog = 100;

class DialogPaintTest : public ::testing::Test {
 protected:
  DialogPaintTest() : context_(platform_, std::string(testing::kTestKey)) {}

  void giveItems(std::initializer_list<std::pair<int, WindowHandle>> items) {
    for (const auto& [id, handle] : items) {
      ON_CALL(platform_, dialogItem(kPaintedDialog, id)).WillByDefault(Return(handle));
    }
  }
  // Serves a logo of this size at the path the tests load it from.
  void serveLogo(int width, int height) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    EXPECT_CALL(platform_,
                openFile(std::u16string(u"\\nav\\logo.bmp"), FileOpenMode::ReadExclusive))
        .WillOnce([bytes = spec.build()](const std::u16string&, FileOpenMode) {
          return std::make_unique<testing::MemoryFile>(bytes);
        });
  }

  NiceMock<MockPlatform> platform_;
  InstallerContext context_;
};

TEST_F(DialogPaintTest, QuestionPaintsItsLogoIntoTheLogoControl) {
  giveItems({{IDC_QUESTION_LOGO, 15}});
  serveLogo(84, 100);
  ASSERT_EQ(context_.questionLogo.load(platform_, u"\\nav\\logo.bmp"), LogoImage::kLoaded);

  InSequence order;
  EXPECT_CALL(platform_, beginPaint(15)).WillOnce(Return(DrawingSurface{77}));
  EXPECT_CALL(platform_, drawBitmap(77, 0, 0, 84, 100, context_.questionLogo.header(),
                                    context_.questionLogo.pixels()));
  EXPECT_CALL(platform_, endPaint(15, 77));
  QuestionDialogHandler handler(context_);
  EXPECT_FALSE(handler.onPaint(kPaintedDialog));
}

TEST_F(DialogPaintTest, StatusPaintsItsOwnLogoIntoItsLogoControl) {
  giveItems({{IDC_STATUS_LOGO, 18}, {IDC_QUESTION_LOGO, 15}});
  serveLogo(240, 100);
  ASSERT_EQ(context_.statusLogo.load(platform_, u"\\nav\\logo.bmp"), LogoImage::kLoaded);

  InSequence order;
  EXPECT_CALL(platform_, beginPaint(18)).WillOnce(Return(DrawingSurface{78}));
  EXPECT_CALL(platform_, drawBitmap(78, 0, 0, 240, 100, context_.statusLogo.header(),
                                    context_.statusLogo.pixels()));
  EXPECT_CALL(platform_, endPaint(18, 78));
  StatusDialogHandler handler(context_);
  EXPECT_FALSE(handler.onPaint(kPaintedDialog));
}

TEST_F(DialogPaintTest, PaintWithoutASurfaceDrawsNothing) {
  giveItems({{IDC_STATUS_LOGO, 18}});
  serveLogo(8, 8);
  ASSERT_EQ(context_.statusLogo.load(platform_, u"\\nav\\logo.bmp"), LogoImage::kLoaded);
  EXPECT_CALL(platform_, beginPaint(18)).WillOnce(Return(DrawingSurface{0}));
  EXPECT_CALL(platform_, drawBitmap).Times(0);
  EXPECT_CALL(platform_, endPaint(18, 0));
  StatusDialogHandler handler(context_);
  EXPECT_FALSE(handler.onPaint(kPaintedDialog));
}

TEST_F(DialogPaintTest, SetProgressMovesTheBarAndRepaintsAtOnce) {
  {
    InSequence order;
    EXPECT_CALL(platform_, sendDialogItemMessage(55, IDC_STATUS_PROGRESS, kPbmSetPos, 37u, 0));
    EXPECT_CALL(platform_, updateWindow(55));
  }
  setProgress(platform_, 37, 55);
  ::testing::Mock::VerifyAndClearExpectations(&platform_);

  EXPECT_CALL(platform_, sendDialogItemMessage).Times(0);
  EXPECT_CALL(platform_, updateWindow).Times(0);
  setProgress(platform_, 50, 0);
}

}  // namespace
}  // namespace autorun
