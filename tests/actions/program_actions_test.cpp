#include "actions/program_actions.h"

#include "actions_fixture.h"

namespace autorun::testing {
namespace {

using namespace std::string_literals;

using ::testing::_;
using ::testing::ByMove;
using ::testing::Return;

// Libraries that exist when their name does not contain "missing"; every load, entry call
// and unload lands in `events`.
class ProgramActionsTest : public ActionsTest {
 protected:
  class FakeLibrary : public Library {
   public:
    FakeLibrary(std::vector<std::string>& events, std::string name, bool hasEntries)
        : events_(events), name_(std::move(name)), hasEntries_(hasEntries) {}
    ~FakeLibrary() override { events_.push_back("unload " + name_); }
    bool callEntry(std::string_view entry) override {
      if (!hasEntries_) return false;
      events_.push_back(std::string(entry) + " " + name_);
      return true;
    }

   private:
    std::vector<std::string>& events_;
    std::string name_;
    bool hasEntries_;
  };

  ProgramActionsTest() {
    ON_CALL(platform, loadLibrary).WillByDefault([this](const std::u16string& path) {
      std::unique_ptr<Library> library;
      const std::string name(path.begin(), path.end());
      if (name.find("missing") == std::string::npos) {
        events.push_back("load " + name);
        library =
            std::make_unique<FakeLibrary>(events, name, name.find("plain") == std::string::npos);
      }
      return library;
    });
  }

  std::vector<std::string> events;
};

TEST_F(ProgramActionsTest, EveryLibraryIsTriedAndAMissingOneFailsTheList) {
  set(u"install_actions/register_dll_1", u"\\a.dll");
  set(u"install_actions/register_dll_2", u"\\missing.dll");
  set(u"install_actions/register_dll_3", u"\\c.dll");
  EXPECT_CALL(platform, loadLibrary).Times(3);
  EXPECT_FALSE(runRegisterDllActions(context, u"install_actions"));
  EXPECT_EQ(events, (std::vector<std::string>{"load \\a.dll", "DllRegisterServer \\a.dll",
                                              "unload \\a.dll", "load \\c.dll",
                                              "DllRegisterServer \\c.dll", "unload \\c.dll"}));
}

TEST_F(ProgramActionsTest, LibraryWithoutTheEntryCountsAsLoaded) {
  set(u"uninstall_actions/unregister_dll_1", u"\\plain.dll");
  set(u"uninstall_actions/unregister_dll_2", u"\\b.dll");
  EXPECT_TRUE(runUnregisterDllActions(context, u"uninstall_actions"));
  EXPECT_EQ(events,
            (std::vector<std::string>{"load \\plain.dll", "unload \\plain.dll", "load \\b.dll",
                                      "DllUnregisterServer \\b.dll", "unload \\b.dll"}));
  EXPECT_TRUE(runRegisterDllActions(context, u"uninstall_actions"));  // no such list
}

TEST_F(ProgramActionsTest, LaunchPathJoinsParentFolderAndProgram) {
  set(u"navigation/exe", u"app.exe");
  set(u"navigation/exe_dir", u"App");
  context.launchFolderNumber = -1;  // exe_parent named no folder
  EXPECT_CALL(platform, shellOpen(u"\\App\\app.exe"s)).WillOnce(Return(true));
  launchApplication(context);

  context.launchFolderNumber = 38;
  ON_CALL(platform, specialFolderPath(38)).WillByDefault(Return(u"\\Program Files"));
  EXPECT_CALL(platform, shellOpen(u"\\Program Files\\App\\app.exe"s)).WillOnce(Return(false));
  launchApplication(context);
}

TEST_F(ProgramActionsTest, WindowIsLookedUpExactlyAsConfigured) {
  set(u"navigation/windowclass", u"AtlasNav");
  // No title configured: the search is for the empty title.
  EXPECT_CALL(platform, findWindow(u"AtlasNav"s, u""s)).WillOnce(Return(WindowHandle{0}));
  EXPECT_FALSE(isApplicationRunning(context));

  set(u"navigation/windowname", u"Atlas");
  EXPECT_CALL(platform, findWindow(u"AtlasNav"s, u"Atlas"s))
      .WillRepeatedly(Return(WindowHandle{77}));
  EXPECT_TRUE(isApplicationRunning(context));
}

TEST_F(ProgramActionsTest, CloseAsksOnlyAFoundWindow) {
  EXPECT_CALL(platform, findWindow(u""s, u""s)).WillOnce(Return(WindowHandle{0}));
  EXPECT_CALL(platform, postCloseRequest).Times(0);
  closeApplication(context);
  ::testing::Mock::VerifyAndClearExpectations(&platform);

  EXPECT_CALL(platform, findWindow(u""s, u""s)).WillOnce(Return(WindowHandle{12}));
  EXPECT_CALL(platform, postCloseRequest(WindowHandle{12})).WillOnce(Return(true));
  closeApplication(context);
}

}  // namespace
}  // namespace autorun::testing
