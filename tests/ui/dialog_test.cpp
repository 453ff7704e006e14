// The two dialogs' layout, texts and answers, on the in-memory device: where each control
// ends up, what the dialogs say and how they end. The order of the painting calls is in
// dialog_paint_test.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/dialog_ids.h"
#include "bmp_fixture.h"
#include "context/installer_context.h"
#include "platform/sim/fault_injecting_platform.h"
#include "support/memory_platform.h"
#include "support/test_keys.h"
#include "ui/question_dialog.h"
#include "ui/status_dialog.h"

namespace autorun {
namespace {

using sim::Operation;
using testing::BmpSpec;

constexpr WindowHandle kDialog = 100;
constexpr ModuleHandle kModule = 0x4000;
const std::u16string kLogo = u"\\nav\\logo.bmp";

Rect rect(int left, int top, int right, int bottom) {
  return Rect{left, top, right, bottom};
}

// Where a control was put and whether it was repainted there.
struct Placement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool repainted = false;
  bool operator==(const Placement&) const = default;
};

void PrintTo(const Placement& p, std::ostream* out) {
  *out << "(" << p.x << ", " << p.y << ", " << p.width << " x " << p.height
       << (p.repainted ? ", repainted)" : ")");
}

// The in-memory device, whose modal and modeless dialogs the test runs.
class DialogPlatform : public testing::MemoryPlatform {
 public:
  // Run a modal dialog; none: it cannot be run (-1).
  std::function<int(DialogHandler&)> modal;
  // Create a modeless dialog; none: it cannot be created (0).
  std::function<WindowHandle(DialogHandler&)> modeless;
  // The module and template of every dialog asked for.
  std::vector<std::pair<ModuleHandle, int>> modalRuns;
  std::vector<std::pair<ModuleHandle, int>> modelessCreated;

  int runModalDialog(ModuleHandle module, int templateId, DialogHandler& handler) override {
    modalRuns.emplace_back(module, templateId);
    return modal ? modal(handler) : -1;
  }
  WindowHandle createModelessDialog(ModuleHandle module, int templateId,
                                    DialogHandler& handler) override {
    modelessCreated.emplace_back(module, templateId);
    return modeless ? modeless(handler) : 0;
  }
};

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() : context_(counted_, std::string(testing::kTestKey)) {
    context_.moduleHandle = kModule;
    // No storage card and no module path: the logo path starts at the root.
    platform_.cards.clear();
    platform_.modulePath.clear();
    platform_.windows[kDialog] = {};
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
      platform_.dialogItems[{kDialog, id}] = handle;
      if (handle != 0) platform_.windows[handle] = {};
    }
  }
  void giveClient(Rect client) { platform_.windows[kDialog].client = client; }
  // Serves a logo of this size at the path the dialogs look at.
  void serveLogo(int width, int height) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    platform_.files[kLogo] = spec.build();
  }
  // The logo was opened exactly once, exclusively, since the last look.
  void expectLogoOpenedOnce() {
    const decltype(platform_.opens) once = {{kLogo, FileOpenMode::ReadExclusive}};
    EXPECT_EQ(platform_.opens, once);
    platform_.opens.clear();
  }
  Placement placed(WindowHandle window) {
    const testing::MemoryPlatform::Window& w = platform_.windows.at(window);
    return {w.rect.left, w.rect.top, w.rect.width(), w.rect.height(), w.repainted};
  }
  std::uint64_t calls(Operation operation) const { return counted_.callCount(operation); }

  DialogPlatform platform_;
  sim::FaultInjectingPlatform counted_{platform_};  // counts the dialogs' calls
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
  platform_.windows[13].rect = rect(300, 40, 470, 70);
  serveLogo(84, 100);
  // The shell's answer does not matter.
  platform_.shellAcceptsDialogs = false;

  QuestionDialogHandler handler(context_);
  EXPECT_TRUE(handler.onInitDialog(kDialog));

  EXPECT_EQ(platform_.shellInitDialogs,
            (decltype(platform_.shellInitDialogs){{kDialog, kShidiFullScreen}}));
  EXPECT_EQ(platform_.windows[13].text, u"Install it?");
  EXPECT_EQ(platform_.windows[kDialog].text, u"Setup");
  EXPECT_EQ(calls(Operation::SetWindowText), 2u);
  EXPECT_EQ(placed(13), (Placement{35, 10, 170, 30, true}));
  EXPECT_EQ(placed(11), (Placement{10, 233, 60, 25, true}));
  EXPECT_EQ(placed(14), (Placement{170, 233, 60, 25, true}));
  EXPECT_EQ(placed(15), (Placement{78, 50, 84, 100, true}));
  EXPECT_EQ(calls(Operation::MoveWindow), 4u);
  expectLogoOpenedOnce();
  EXPECT_EQ(context_.questionLogo.width(), 84);
  EXPECT_EQ(context_.statusLogo.width(), 0);
}

TEST_F(DialogTest, QuestionWithoutConfiguredTextsOrLogoBox) {
  giveItems({{IDC_QUESTION_YES, 11},
             {IDC_QUESTION_NO, 14},
             {IDC_QUESTION_LOGO, 15},
             {IDC_QUESTION_TEXT, 13}});
  giveClient(rect(0, 0, 241, 100));
  platform_.windows[13].rect = rect(0, 0, 100, 20);
  platform_.windows[13].text = u"template text";
  platform_.windows[kDialog].text = u"template title";

  // A missing logo file is silent.
  QuestionDialogHandler handler(context_);
  EXPECT_TRUE(handler.onInitDialog(kDialog));

  EXPECT_EQ(platform_.windows[13].text, u"");
  EXPECT_EQ(platform_.windows[kDialog].text, u"");
  EXPECT_EQ(calls(Operation::SetWindowText), 2u);
  EXPECT_EQ(placed(13), (Placement{70, 10, 100, 20, true}));
  EXPECT_EQ(placed(11), (Placement{10, 65, 60, 25, true}));
  EXPECT_EQ(placed(14), (Placement{171, 65, 60, 25, true}));
  EXPECT_EQ(placed(15), (Placement{120, 40, 0, 0, true}));
  EXPECT_EQ(calls(Operation::MoveWindow), 4u);
  expectLogoOpenedOnce();
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
    platform_.endedDialogs.clear();
    QuestionDialogHandler handler(context_);
    EXPECT_TRUE(handler.onCommand(kDialog, c.command));
    EXPECT_EQ(context_.installAnswer, c.ends ? c.answer : before);
    std::vector<std::pair<WindowHandle, int>> ended;
    if (c.ends) ended.emplace_back(kDialog, 0);
    EXPECT_EQ(platform_.endedDialogs, ended);
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
    platform_.modalRuns.clear();
    platform_.modal = [&](DialogHandler& handler) {
      handler.onCommand(kDialog, c.press);
      return c.result;
    };
    EXPECT_EQ(askInstallQuestion(context_), c.expected);
    EXPECT_EQ(platform_.modalRuns, (decltype(platform_.modalRuns){{kModule, IDD_QUESTION}}));
  }
}

TEST_F(DialogTest, QuestionThatCannotBeRunCountsAsNo) {
  context_.installAnswer = true;  // left over from an earlier question
  EXPECT_FALSE(askInstallQuestion(context_));
  EXPECT_EQ(platform_.modalRuns, (decltype(platform_.modalRuns){{kModule, IDD_QUESTION}}));
}

TEST_F(DialogTest, LogoPathKeepsEverySeparator) {
  context_.config.setValue(u"common/dont_find_sd", u"1");
  platform_.modulePath = u"\\Storage Card\\2577\\autorun.exe";
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
    platform_.shellInitDialogs.clear();
    platform_.foreground = 0;
    counted_.resetCounts();

    StatusDialogHandler handler(context_);
    EXPECT_TRUE(handler.onInitDialog(kDialog));

    EXPECT_EQ(platform_.shellInitDialogs,
              (decltype(platform_.shellInitDialogs){{kDialog, kShidiFullScreenWithDone}}));
    EXPECT_EQ(placed(18), (Placement{c.logoX, 10, c.logoWidth, c.logoHeight, true}));
    EXPECT_EQ(placed(19), (Placement{10, c.logoHeight + 20, c.clientWidth - 20, 20, true}));
    EXPECT_EQ(placed(17), (Placement{10, c.logoHeight + 50, c.clientWidth - 20, 30, true}));
    EXPECT_EQ(calls(Operation::MoveWindow), 3u);
    EXPECT_EQ(platform_.foreground, kDialog);
    EXPECT_EQ(calls(Operation::SetForegroundWindow), 1u);
    expectLogoOpenedOnce();
    EXPECT_EQ(context_.statusLogo.width(), 84);
    EXPECT_FALSE(context_.questionLogo.loaded());
  }
}

TEST_F(DialogTest, StatusMovesOnlyTheControlsItHas) {
  setLogoBox(84, 100);
  giveItems({{IDC_STATUS_LOGO, 0}, {IDC_STATUS_TEXT, 19}, {IDC_STATUS_PROGRESS, 0}});
  giveClient(rect(0, 0, 240, 320));

  StatusDialogHandler handler(context_);
  EXPECT_TRUE(handler.onInitDialog(kDialog));
  EXPECT_EQ(placed(19), (Placement{10, 120, 220, 20, true}));
  EXPECT_EQ(calls(Operation::MoveWindow), 1u);
}

TEST_F(DialogTest, StatusKeepsItsTemplateWhenTheShellFails) {
  setLogoBox(84, 100);
  giveItems({{IDC_STATUS_LOGO, 18}, {IDC_STATUS_TEXT, 19}, {IDC_STATUS_PROGRESS, 17}});
  giveClient(rect(0, 0, 240, 320));
  serveLogo(84, 100);
  platform_.shellAcceptsDialogs = false;

  StatusDialogHandler handler(context_);
  EXPECT_FALSE(handler.onInitDialog(kDialog));
  EXPECT_EQ(platform_.shellInitDialogs,
            (decltype(platform_.shellInitDialogs){{kDialog, kShidiFullScreenWithDone}}));
  EXPECT_EQ(calls(Operation::MoveWindow), 0u);
  EXPECT_EQ(calls(Operation::SetForegroundWindow), 0u);
  EXPECT_TRUE(platform_.opens.empty());
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
    platform_.foreground = 0;
    counted_.resetCounts();
    EXPECT_TRUE(handler.onCommand(kDialog, c.command));
    EXPECT_TRUE(platform_.endedDialogs.empty());
    EXPECT_EQ(platform_.foreground, c.forward ? kDialog : 0);
    EXPECT_EQ(calls(Operation::SetForegroundWindow), c.forward ? 1u : 0u);
  }
}

TEST_F(DialogTest, EachStatusDialogKeepsItsHandler) {
  DialogHandler* first = nullptr;
  std::vector<WindowHandle> handles = {55, 56, 0};
  platform_.modeless = [&](DialogHandler& handler) {
    if (first == nullptr) first = &handler;
    const WindowHandle next = handles.front();
    handles.erase(handles.begin());
    return next;
  };
  EXPECT_EQ(openStatusDialog(context_), WindowHandle{55});
  EXPECT_EQ(openStatusDialog(context_), WindowHandle{56});
  ASSERT_EQ(context_.statusDialogHandlers.size(), 2u);
  EXPECT_EQ(context_.statusDialogHandlers[0].get(), first);
  // A dialog that could not be created keeps no handler.
  EXPECT_EQ(openStatusDialog(context_), WindowHandle{0});
  EXPECT_EQ(context_.statusDialogHandlers.size(), 2u);
  EXPECT_EQ(platform_.modelessCreated,
            (decltype(platform_.modelessCreated){
                {kModule, IDD_STATUS}, {kModule, IDD_STATUS}, {kModule, IDD_STATUS}}));
}

}  // namespace
}  // namespace autorun
