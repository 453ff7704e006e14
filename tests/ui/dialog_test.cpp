#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/dialog_ids.h"
#include "bmp_fixture.h"
#include "context/installer_context.h"
#include "support/memory_platform.h"
#include "support/mock_platform.h"
#include "ui/question_dialog.h"
#include "ui/status_dialog.h"

namespace autorun {
namespace {

using ::testing::_;
using testing::BmpSpec;
using ::testing::DoAll;
using ::testing::InSequence;
using testing::MockPlatform;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SetArgReferee;

constexpr WindowHandle kDialog = 100;
constexpr ModuleHandle kModule = 0x4000;

Rect rect(int left, int top, int right, int bottom) {
  return Rect{left, top, right, bottom};
}

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() : context_(platform_, "ARN20261208053700") {
    context_.moduleHandle = kModule;
    // No storage card: the logo path starts at the root.
    context_.config.setValue(u"navigation/sd_dir", u"nav");
    context_.config.setValue(u"common/logo", u"logo.bmp");
  }

  void setLogoBox(int width, int height) {
    context_.config.setValue(u"common/logo_width", toText(width));
    context_.config.setValue(u"common/logo_height", toText(height));
  }
  static std::u16string toText(int value) {
    std::u16string text;
    for (char c : std::to_string(value)) text.push_back(static_cast<char16_t>(c));
    return text;
  }
  void giveItems(std::initializer_list<std::pair<int, WindowHandle>> items) {
    for (const auto& [id, handle] : items) {
      ON_CALL(platform_, dialogItem(kDialog, id)).WillByDefault(Return(handle));
    }
  }
  void giveClient(Rect client) {
    ON_CALL(platform_, clientRect(kDialog, _))
        .WillByDefault(DoAll(SetArgReferee<1>(client), Return(true)));
  }
  // Serves a logo of this size at the path the dialogs look at.
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

// ---- Question dialog --------------------------------------------------------------------

TEST_F(DialogTest, QuestionLaysOutAroundTheTextAndTheLogoBox) {
  setLogoBox(84, 100);
  context_.config.setValue(u"install/question", u"Install it?");
  context_.config.setValue(u"install/title", u"Setup");
  giveItems({{IDC_QUESTION_YES, 11},
             {IDC_QUESTION_NO, 14},
             {IDC_QUESTION_LOGO, 15},
             {IDC_QUESTION_TEXT, 13}});
  giveClient(rect(0, 0, 240, 268));
  // Only the text's size counts, not where it is on the screen.
  ON_CALL(platform_, windowRect(13, _))
      .WillByDefault(DoAll(SetArgReferee<1>(rect(300, 40, 470, 70)), Return(true)));
  serveLogo(84, 100);

  // The shell's answer does not matter.
  EXPECT_CALL(platform_, shellInitDialog(kDialog, kShidiFullScreen)).WillOnce(Return(false));
  EXPECT_CALL(platform_, setWindowText(13, std::u16string(u"Install it?")));
  EXPECT_CALL(platform_, moveWindow(13, 35, 10, 170, 30, true));
  EXPECT_CALL(platform_, moveWindow(11, 10, 233, 60, 25, true));
  EXPECT_CALL(platform_, moveWindow(14, 170, 233, 60, 25, true));
  EXPECT_CALL(platform_, moveWindow(15, 78, 50, 84, 100, true));
  EXPECT_CALL(platform_, setWindowText(kDialog, std::u16string(u"Setup")));

  QuestionDialogHandler handler(context_);
  EXPECT_TRUE(handler.onInitDialog(kDialog));
  EXPECT_EQ(context_.questionLogo.width(), 84);
  EXPECT_EQ(context_.statusLogo.width(), 0);
}

TEST_F(DialogTest, QuestionWithoutConfiguredTextsOrLogoBox) {
  giveItems({{IDC_QUESTION_YES, 11},
             {IDC_QUESTION_NO, 14},
             {IDC_QUESTION_LOGO, 15},
             {IDC_QUESTION_TEXT, 13}});
  giveClient(rect(0, 0, 241, 100));
  ON_CALL(platform_, windowRect(13, _))
      .WillByDefault(DoAll(SetArgReferee<1>(rect(0, 0, 100, 20)), Return(true)));

  EXPECT_CALL(platform_, setWindowText(13, std::u16string()));
  EXPECT_CALL(platform_, setWindowText(kDialog, std::u16string()));
  EXPECT_CALL(platform_, moveWindow(13, 70, 10, 100, 20, true));
  EXPECT_CALL(platform_, moveWindow(11, 10, 65, 60, 25, true));
  EXPECT_CALL(platform_, moveWindow(14, 171, 65, 60, 25, true));
  EXPECT_CALL(platform_, moveWindow(15, 120, 40, 0, 0, true));
  // A missing logo file is silent.
  EXPECT_CALL(platform_, openFile(std::u16string(u"\\nav\\logo.bmp"), _)).WillOnce(Return(nullptr));

  QuestionDialogHandler handler(context_);
  EXPECT_TRUE(handler.onInitDialog(kDialog));
  EXPECT_FALSE(context_.questionLogo.loaded());
}

TEST_F(DialogTest, OnlyYesAndNoEndTheQuestion) {
  struct Case {
    std::uint32_t command;
    bool ends;
    bool answer;
  };
  for (const Case& c :
       {Case{IDC_QUESTION_YES, true, true}, Case{IDC_QUESTION_NO, true, false},
        Case{1, false, false}, Case{2, false, false}, Case{IDC_QUESTION_TEXT, false, false}}) {
    SCOPED_TRACE(c.command);
    // Start from the opposite answer so that an unchanged flag shows.
    const bool before = !c.answer;
    context_.installAnswer = before;
    EXPECT_CALL(platform_, endDialog(kDialog, 0)).Times(c.ends ? 1 : 0);
    QuestionDialogHandler handler(context_);
    EXPECT_TRUE(handler.onCommand(kDialog, c.command));
    EXPECT_EQ(context_.installAnswer, c.ends ? c.answer : before);
    ::testing::Mock::VerifyAndClearExpectations(&platform_);
  }
}

TEST_F(DialogTest, AskInstallQuestionReturnsTheAnswerOfACompletedDialog) {
  struct Case {
    std::uint32_t press;
    int result;
    bool expected;
  };
  for (const Case& c : {Case{IDC_QUESTION_YES, 0, true}, Case{IDC_QUESTION_NO, 0, false},
                        Case{IDC_QUESTION_YES, -1, false}}) {
    SCOPED_TRACE(::testing::Message() << c.press << " " << c.result);
    context_.installAnswer = false;
    EXPECT_CALL(platform_, runModalDialog(kModule, IDD_QUESTION, _))
        .WillOnce([&](ModuleHandle, int, DialogHandler& handler) {
          handler.onCommand(kDialog, c.press);
          return c.result;
        });
    EXPECT_EQ(askInstallQuestion(context_), c.expected);
    ::testing::Mock::VerifyAndClearExpectations(&platform_);
  }
}

TEST_F(DialogTest, QuestionThatCannotBeRunCountsAsNo) {
  context_.installAnswer = true;  // left over from an earlier question
  EXPECT_CALL(platform_, runModalDialog(kModule, IDD_QUESTION, _)).WillOnce(Return(-1));
  EXPECT_FALSE(askInstallQuestion(context_));
}

TEST_F(DialogTest, QuestionPaintsItsLogoIntoTheLogoControl) {
  giveItems({{IDC_QUESTION_LOGO, 15}});
  serveLogo(84, 100);
  ASSERT_EQ(context_.questionLogo.load(platform_, u"\\nav\\logo.bmp"), LogoImage::kLoaded);

  InSequence order;
  EXPECT_CALL(platform_, beginPaint(15)).WillOnce(Return(DrawingSurface{77}));
  EXPECT_CALL(platform_, drawBitmap(77, 0, 0, 84, 100, context_.questionLogo.header(),
                                    context_.questionLogo.pixels()));
  EXPECT_CALL(platform_, endPaint(15, 77));
  QuestionDialogHandler handler(context_);
  EXPECT_FALSE(handler.onPaint(kDialog));
}

TEST_F(DialogTest, LogoPathKeepsEverySeparator) {
  context_.config.setValue(u"common/dont_find_sd", u"1");
  ON_CALL(platform_, moduleFileName(kModule))
      .WillByDefault(Return(u"\\Storage Card\\2577\\autorun.exe"));
  EXPECT_EQ(logoPath(context_), u"\\Storage Card\\2577\\nav\\logo.bmp");
  context_.config.setValue(u"navigation/sd_dir", u"");
  EXPECT_EQ(logoPath(context_), u"\\Storage Card\\2577\\\\logo.bmp");
}

// ---- Status dialog ----------------------------------------------------------------------

TEST_F(DialogTest, StatusStacksLogoTextAndBar) {
  struct Case {
    int clientWidth;
    int logoWidth;
    int logoHeight;
    int logoX;
  };
  for (const Case& c : {Case{240, 84, 100, 78}, Case{241, 85, 100, 78}, Case{240, 0, 0, 120}}) {
    SCOPED_TRACE(::testing::Message() << c.clientWidth << " " << c.logoWidth);
    setLogoBox(c.logoWidth, c.logoHeight);
    giveItems({{IDC_STATUS_LOGO, 18}, {IDC_STATUS_TEXT, 19}, {IDC_STATUS_PROGRESS, 17}});
    giveClient(rect(0, 26, c.clientWidth, 320));
    serveLogo(84, 100);

    EXPECT_CALL(platform_, shellInitDialog(kDialog, kShidiFullScreenWithDone))
        .WillOnce(Return(true));
    EXPECT_CALL(platform_, moveWindow(18, c.logoX, 10, c.logoWidth, c.logoHeight, true));
    EXPECT_CALL(platform_, moveWindow(19, 10, c.logoHeight + 20, c.clientWidth - 20, 20, true));
    EXPECT_CALL(platform_, moveWindow(17, 10, c.logoHeight + 50, c.clientWidth - 20, 30, true));
    EXPECT_CALL(platform_, setForegroundWindow(kDialog));

    StatusDialogHandler handler(context_);
    EXPECT_TRUE(handler.onInitDialog(kDialog));
    EXPECT_EQ(context_.statusLogo.width(), 84);
    EXPECT_FALSE(context_.questionLogo.loaded());
    ::testing::Mock::VerifyAndClearExpectations(&platform_);
  }
}

TEST_F(DialogTest, StatusMovesOnlyTheControlsItHas) {
  setLogoBox(84, 100);
  giveItems({{IDC_STATUS_LOGO, 0}, {IDC_STATUS_TEXT, 19}, {IDC_STATUS_PROGRESS, 0}});
  giveClient(rect(0, 0, 240, 320));
  ON_CALL(platform_, shellInitDialog(kDialog, _)).WillByDefault(Return(true));

  EXPECT_CALL(platform_, moveWindow(_, _, _, _, _, _)).Times(0);
  EXPECT_CALL(platform_, moveWindow(19, 10, 120, 220, 20, true));
  StatusDialogHandler handler(context_);
  EXPECT_TRUE(handler.onInitDialog(kDialog));
}

TEST_F(DialogTest, StatusKeepsItsTemplateWhenTheShellFails) {
  setLogoBox(84, 100);
  giveItems({{IDC_STATUS_LOGO, 18}, {IDC_STATUS_TEXT, 19}, {IDC_STATUS_PROGRESS, 17}});
  giveClient(rect(0, 0, 240, 320));
  EXPECT_CALL(platform_, shellInitDialog(kDialog, kShidiFullScreenWithDone))
      .WillOnce(Return(false));
  EXPECT_CALL(platform_, moveWindow).Times(0);
  EXPECT_CALL(platform_, setForegroundWindow).Times(0);
  EXPECT_CALL(platform_, openFile).Times(0);

  StatusDialogHandler handler(context_);
  EXPECT_FALSE(handler.onInitDialog(kDialog));
  EXPECT_FALSE(context_.statusLogo.loaded());
}

TEST_F(DialogTest, StatusCommandsNeverCloseIt) {
  struct Case {
    std::uint32_t command;
    bool forward;
  };
  StatusDialogHandler handler(context_);
  for (const Case& c : {Case{1, true}, Case{16, true}, Case{2, false},
                        Case{IDC_QUESTION_YES, false}, Case{IDC_STATUS_PROGRESS, false}}) {
    SCOPED_TRACE(c.command);
    EXPECT_CALL(platform_, endDialog).Times(0);
    EXPECT_CALL(platform_, setForegroundWindow(kDialog)).Times(c.forward ? 1 : 0);
    EXPECT_TRUE(handler.onCommand(kDialog, c.command));
    ::testing::Mock::VerifyAndClearExpectations(&platform_);
  }
}

TEST_F(DialogTest, StatusPaintsItsOwnLogoIntoItsLogoControl) {
  giveItems({{IDC_STATUS_LOGO, 18}, {IDC_QUESTION_LOGO, 15}});
  serveLogo(240, 100);
  ASSERT_EQ(context_.statusLogo.load(platform_, u"\\nav\\logo.bmp"), LogoImage::kLoaded);

  InSequence order;
  EXPECT_CALL(platform_, beginPaint(18)).WillOnce(Return(DrawingSurface{78}));
  EXPECT_CALL(platform_, drawBitmap(78, 0, 0, 240, 100, context_.statusLogo.header(),
                                    context_.statusLogo.pixels()));
  EXPECT_CALL(platform_, endPaint(18, 78));
  StatusDialogHandler handler(context_);
  EXPECT_FALSE(handler.onPaint(kDialog));
}

TEST_F(DialogTest, PaintWithoutASurfaceDrawsNothing) {
  giveItems({{IDC_STATUS_LOGO, 18}});
  serveLogo(8, 8);
  ASSERT_EQ(context_.statusLogo.load(platform_, u"\\nav\\logo.bmp"), LogoImage::kLoaded);
  EXPECT_CALL(platform_, beginPaint(18)).WillOnce(Return(DrawingSurface{0}));
  EXPECT_CALL(platform_, drawBitmap).Times(0);
  EXPECT_CALL(platform_, endPaint(18, 0));
  StatusDialogHandler handler(context_);
  EXPECT_FALSE(handler.onPaint(kDialog));
}

TEST_F(DialogTest, EachStatusDialogKeepsItsHandler) {
  DialogHandler* first = nullptr;
  EXPECT_CALL(platform_, createModelessDialog(kModule, IDD_STATUS, _))
      .WillOnce([&](ModuleHandle, int, DialogHandler& handler) {
        first = &handler;
        return WindowHandle{55};
      })
      .WillOnce(Return(WindowHandle{56}))
      .WillOnce(Return(WindowHandle{0}));
  EXPECT_EQ(openStatusDialog(context_), WindowHandle{55});
  EXPECT_EQ(openStatusDialog(context_), WindowHandle{56});
  ASSERT_EQ(context_.statusDialogHandlers.size(), 2u);
  EXPECT_EQ(context_.statusDialogHandlers[0].get(), first);
  // A dialog that could not be created keeps no handler.
  EXPECT_EQ(openStatusDialog(context_), WindowHandle{0});
  EXPECT_EQ(context_.statusDialogHandlers.size(), 2u);
}

TEST_F(DialogTest, SetProgressMovesTheBarAndRepaintsAtOnce) {
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
