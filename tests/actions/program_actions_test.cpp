// DLL registration, the program launch and the window lookup, on the in-memory device.
#include "actions/program_actions.h"

#include "actions_fixture.h"

namespace autorun::testing {
namespace {

using sim::Operation;

// A library that notes its entry calls and its unloading in `events`.
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

// The in-memory device with libraries: one exists when its name does not contain
// "missing", and has the entries unless its name contains "plain"; every load, entry call
// and unload lands in `events`.
class LibraryDevice : public MemoryPlatform {
 public:
  std::unique_ptr<Library> loadLibrary(const std::u16string& path) override {
    const std::string name(path.begin(), path.end());
    if (name.find("missing") != std::string::npos) return nullptr;
    events.push_back("load " + name);
    return std::make_unique<FakeLibrary>(events, name, name.find("plain") == std::string::npos);
  }
  std::vector<std::string> events;
};

using ProgramActionsTest = ActionsTestOn<LibraryDevice>;

TEST_F(ProgramActionsTest, EveryLibraryIsTriedAndAMissingOneFailsTheList) {
  set(u"install_actions/register_dll_1", u"\\a.dll");
  set(u"install_actions/register_dll_2", u"\\missing.dll");
  set(u"install_actions/register_dll_3", u"\\c.dll");
  EXPECT_FALSE(runRegisterDllActions(context, u"install_actions"));
  EXPECT_EQ(calls(Operation::LoadLibrary), 3u);
  EXPECT_EQ(device.events, (std::vector<std::string>{
                               "load \\a.dll", "DllRegisterServer \\a.dll", "unload \\a.dll",
                               "load \\c.dll", "DllRegisterServer \\c.dll", "unload \\c.dll"}));
}

TEST_F(ProgramActionsTest, LibraryWithoutTheEntryCountsAsLoaded) {
  set(u"uninstall_actions/unregister_dll_1", u"\\plain.dll");
  set(u"uninstall_actions/unregister_dll_2", u"\\b.dll");
  EXPECT_TRUE(runUnregisterDllActions(context, u"uninstall_actions"));
  EXPECT_EQ(device.events,
            (std::vector<std::string>{"load \\plain.dll", "unload \\plain.dll", "load \\b.dll",
                                      "DllUnregisterServer \\b.dll", "unload \\b.dll"}));
  EXPECT_TRUE(runRegisterDllActions(context, u"uninstall_actions"));  // no such list
}

TEST_F(ProgramActionsTest, LaunchPathJoinsParentFolderAndProgram) {
  set(u"navigation/exe", u"app.exe");
  set(u"navigation/exe_dir", u"App");
  device.addFile(u"\\App\\app.exe", "MZ");
  context.launchFolderNumber = -1;  // exe_parent named no folder
  launchApplication(context);
  EXPECT_EQ(device.programsOpened, std::vector<std::u16string>{u"\\App\\app.exe"});

  context.launchFolderNumber = 38;
  device.programsOpened.clear();
  launchApplication(context);  // not there: the shell refuses, and nothing else happens
  EXPECT_EQ(device.programsOpened, std::vector<std::u16string>{u"\\Program Files\\App\\app.exe"});
}

TEST_F(ProgramActionsTest, WindowIsLookedUpExactlyAsConfigured) {
  set(u"navigation/windowclass", u"AtlasNav");
  device.windows[77].windowClass = u"AtlasNav";
  device.windows[77].text = u"Atlas";
  // No title configured: the search is for the empty title.
  EXPECT_FALSE(isApplicationRunning(context));
  EXPECT_EQ(calls(Operation::FindWindow), 1u);

  set(u"navigation/windowname", u"Atlas");
  EXPECT_TRUE(isApplicationRunning(context));
}

TEST_F(ProgramActionsTest, CloseAsksOnlyAFoundWindow) {
  device.windows[12].windowClass = u"Other";
  closeApplication(context);
  EXPECT_EQ(calls(Operation::FindWindow), 1u);
  EXPECT_EQ(calls(Operation::PostCloseRequest), 0u);

  device.windows[12].windowClass = u"";
  closeApplication(context);
  EXPECT_EQ(device.closeRequests, std::vector<WindowHandle>{12});
}

}  // namespace
}  // namespace autorun::testing
