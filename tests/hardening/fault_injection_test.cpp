// Every platform operation that a flow performs is made to fail in turn, at each position,
// once and from then on. Each run goes in a child process of its own (fault_runs.h), so
// that a crash or a hang is caught and named. A run must end, give the outcome that the
// flow specifies for the failure, and change nothing on the device that the configuration
// does not name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

#include "actions/registry_actions.h"
#include "flows/install_flow.h"
#include "hardening/fault_runs.h"
#include "hardening/hardening_fixture.h"
#include "host_text/utf.h"

namespace autorun::testing::hardening {
namespace {

using sim::Operation;

// Operations that only talk to windows; making them fail must not change what the run
// does to the device.
const std::set<Operation> kWindowOnly = {
    Operation::CreateModelessDialog,
    Operation::DialogItem,
    Operation::SetWindowText,
    Operation::SendDialogItemMessage,
    Operation::UpdateWindow,
    Operation::WindowRect,
    Operation::ClientRect,
    Operation::MoveWindow,
    Operation::ShellInitDialog,
    Operation::SetForegroundWindow,
    Operation::BeginPaint,
    Operation::EndPaint,
    Operation::DrawBitmap,
    Operation::BroadcastSettingChange,
    Operation::ShellOpen,
    Operation::FindWindowByClass,
    Operation::PostCloseRequest,
    Operation::OpenWindowProcess,
    Operation::ProcessWaitForExit,
    Operation::LoadLibrary,
    Operation::LibraryCallEntry,
};

const std::set<Operation> kRegistryOperations = {
    Operation::CreateKey,    Operation::OpenKey,       Operation::KeySetDword,
    Operation::KeySetString, Operation::KeyQueryValue, Operation::KeyDeleteSubkeyTree,
    Operation::KeyFlush,
};

// Under the sanitizers every child run is many times slower, so there an operation fails at
// its first two calls, its last, and every eighth between; the normal build fails it at
// every call.
#if defined(AUTORUN_SANITIZED)
constexpr std::uint64_t kPositionStride = 8;
#else
constexpr std::uint64_t kPositionStride = 1;
#endif

bool chosenPosition(std::uint64_t position, std::uint64_t calls) {
  return position <= 2 || position == calls || position % kPositionStride == 0;
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  FaultInjectionTest() {
    writeCardAndBystanders(fresh);
    copyImage(fresh.dir(), installed.dir());
    sim::SimOptions options;
    options.answers = {true};
    std::unique_ptr<sim::SimPlatform> device = installed.platform(options);
    std::unique_ptr<InstallerContext> context = loadInstaller(*device);
    if (!context || !runInstall(*context, true))
      throw std::runtime_error("the set-up install failed");
  }

  // The image on which the flow starts: the card with or without the application.
  void prepare(Flow flow) {
    flow_ = flow;
    copyImage(flow == Flow::Install ? fresh.dir() : installed.dir(), start.dir());
    if (flow == Flow::Upgrade) {
      // An older build installed, with settings the user changed since.
      start.writeFile(kInstalledExe, fakeExecutable(kCardStamp - 1));
      std::unique_ptr<sim::SimPlatform> device = start.platform();
      writeRegistryDword(*device, kVolume, 9);
      writeRegistryString(*device, kLastCity, u"Paris");
    }
    initial = snapshot(start.dir());
    {
      std::unique_ptr<sim::SimPlatform> device = start.platform();
      std::unique_ptr<InstallerContext> context = loadInstaller(*device);
      ASSERT_NE(context, nullptr);
      named.emplace(context->config);
      allowedMessages = messagesOf(*context);
      installerPath = host::toUtf8(context->installerPath);
    }
    copyImage(start.dir(), scratch.dir());
    std::string problem;
    std::optional<Outcome> outcome =
        runChild(scratch.dir(), flow, answers(), std::nullopt, problem);
    ASSERT_TRUE(outcome) << "the run without faults " << problem;
    reference = std::move(*outcome);
  }

  std::vector<bool> answers() const {
    // Yes to the install and uninstall questions; No to anything after.
    if (flow_ == Flow::Install || flow_ == Flow::Uninstall) return {true};
    return {};
  }

  // The texts the flows may show, with their captions and styles.
  std::map<std::string, Message> messagesOf(const InstallerContext& context) const {
    auto text = [&context](std::u16string_view key) {
      return host::toUtf8(context.config.getString(key, u""));
    };
    std::map<std::string, Message> out;
    auto add = [&out](std::string message, std::string caption, std::uint32_t style) {
      out[message] = {message, caption, style};
    };
    add(text(u"install/question"), text(u"install/title"), kQuestionDialog);
    add(text(u"uninstall/question"), text(u"uninstall/title"), kMbQuestionStyle);
    add(text(u"uninstall/ready"), text(u"uninstall/title"), kMbOkForegroundTopmost);
    add(text(u"error/running"), text(u"uninstall/title"), kMbOk);
    add(text(u"update/newer"), text(u"update/title"), kMbQuestionStyle);
    add(text(u"update/older"), text(u"update/title"), kMbQuestionStyle);
    return out;
  }

  // Checks that hold for every run; returns what is wrong.
  std::vector<std::string> commonProblems(const Fault& fault, const Outcome& outcome) const {
    std::vector<std::string> problems;
    for (const std::string& change : named->untouchable(initial, outcome.device)) {
      problems.push_back("touches what the configuration does not name: " + change);
    }
    for (const Message& m : outcome.messages()) {
      const auto known = allowedMessages.find(m.text);
      const bool copyError = m.text.rfind("Can't copy:\n", 0) == 0 && m.caption == installerPath &&
                             m.style == kMbErrorStyle;
      const bool linkError = m.text.rfind("Cannot create link file: ", 0) == 0 &&
                             m.caption == installerPath && m.style == kMbErrorStyle;
      if (copyError || linkError) continue;
      // The question dialog shows its template's own texts where they cannot be replaced.
      if (m.style == kQuestionDialog && kWindowOnly.count(fault.operation) != 0) continue;
      if (known == allowedMessages.end() || known->second.caption != m.caption ||
          known->second.style != m.style) {
        problems.push_back("shows a message the flow does not have: \"" + m.text + "\" / \"" +
                           m.caption + "\" / " + std::to_string(m.style));
      }
    }
    if (kWindowOnly.count(fault.operation) != 0) {
      for (const std::string& change : differences(reference.device, outcome.device)) {
        problems.push_back("a window operation changed the device: " + change);
      }
      if (outcome.result != reference.result)
        problems.push_back("a window operation changed the result");
      if (outcome.messages().size() != reference.messages().size()) {
        problems.push_back("a window operation changed the messages");
      }
    }
    return problems;
  }

  std::vector<std::string> flowProblems(const Fault& fault, const Outcome& outcome) const {
    std::vector<std::string> problems;
    auto expect = [&problems](bool condition, const std::string& what) {
      if (!condition) problems.push_back(what);
    };
    const std::vector<Message> messages = outcome.messages();
    const std::string lastMessage = messages.empty() ? "" : messages.back().text;
    const bool registryFault = kRegistryOperations.count(fault.operation) != 0;
    const std::optional<std::string> mark =
        outcome.registryValue("HKEY_LOCAL_MACHINE\\Software\\Atlas", "Installed");

    switch (flow_) {
      case Flow::Install: {
        expect(outcome.result == kReturnedTrue || outcome.result == kReturnedFalse,
               "install returned nothing");
        const std::size_t installCopies = reference.copySources(SIZE_MAX).size();
        if (fault.operation == Operation::CopyFile && fault.position <= installCopies) {
          const std::string source = reference.copySources(fault.position).back();
          expect(outcome.result == kReturnedFalse, "a failed copy did not fail the install");
          expect(lastMessage == "Can't copy:\n" + source,
                 "a failed copy of " + source + " ended with \"" + lastMessage + "\"");
        }
        if (fault.operation == Operation::RunModalDialog ||
            fault.operation == Operation::EndDialog) {
          expect(outcome.result == kReturnedFalse, "a question that cannot be asked counts as Yes");
          expect(differences(initial, outcome.device).empty(),
                 "a question that cannot be asked changed the device");
        }
        if (fault.operation == Operation::FreeBytes) {
          expect(differences(reference.device, outcome.device).empty(),
                 "an unknown free space changed the installation");
        }
        if (outcome.result == kReturnedFalse) {
          const bool declined =
              outcome.count("open_dialog") <= 1 && differences(initial, outcome.device).empty();
          const bool copyFailed = lastMessage.rfind("Can't copy:\n", 0) == 0;
          const bool folderFailed = fault.operation == Operation::CreateDirectory &&
                                    (messages.empty() || messages.back().caption != installerPath);
          expect(declined || copyFailed || folderFailed,
                 "install failed without the reason the flow gives (last message \"" + lastMessage +
                     "\")");
          expect(!mark, "a failed install wrote the installed mark");
          expect(outcome.count("shell_open") == 0, "a failed install started the application");
          expect(outcome.device.files.count("\\Windows\\Start Menu\\Programs\\Atlas.lnk") == 0,
                 "a failed install made shortcuts");
        } else if (!registryFault) {
          expect(mark == std::optional<std::string>("4:01000000"),
                 "a completed install has no installed mark");
        }
        break;
      }
      case Flow::Uninstall: {
        // A failure can only leave things behind; it never removes or adds more.
        const std::vector<std::string> full = differences(initial, reference.device);
        for (const std::string& change : differences(initial, outcome.device)) {
          expect(std::find(full.begin(), full.end(), change) != full.end(),
                 "uninstall made a change the full run does not make: " + change);
        }
        if (fault.operation == Operation::MessageBox && fault.position == 1) {
          expect(differences(initial, outcome.device).empty(),
                 "an unanswered question still uninstalled");
          expect(messages.empty(), "an unanswered question was followed by messages");
        }
        break;
      }
      case Flow::CardInsert:
      case Flow::CardRemove:
        for (const Message& m : messages) {
          expect(m.text.rfind("Cannot create link file: ", 0) == 0,
                 "the card flows report nothing but a shortcut they cannot make, shown: " + m.text);
        }
        break;
      case Flow::Upgrade:
        if (!registryFault) {
          expect(outcome.registryValue("HKEY_CURRENT_USER\\Software\\Atlas", "Volume") ==
                     std::optional<std::string>("4:09000000"),
                 "the saved volume did not come back");
          expect(outcome.registryValue("HKEY_CURRENT_USER\\Software\\Atlas", "LastCity") ==
                     std::optional<std::string>("1:500061007200690073000000"),
                 "the saved city did not come back");
        }
        break;
    }
    return problems;
  }

  // Fails every operation the reference run performed, at each position, once and for good.
  void failEachOperationInTurn(Flow flow, const std::function<bool(Operation)>& chosen) {
    prepare(flow);
    if (HasFatalFailure()) return;
    std::size_t runs = 0;
    std::set<Operation> seen;
    for (const auto& [operation, calls] : reference.calls) {
      if (!chosen(operation)) continue;
      for (std::uint64_t position = 1; position <= calls; ++position) {
        if (!chosenPosition(position, calls)) continue;
        for (const bool persistent : {false, true}) {
          const Fault fault{operation, position, persistent};
          copyImage(start.dir(), scratch.dir());
          std::string problem;
          const std::optional<Outcome> outcome =
              runChild(scratch.dir(), flow, answers(), fault, problem);
          ++runs;
          seen.insert(operation);
          if (!outcome) {
            ADD_FAILURE() << "failing " << fault.describe() << ": the flow " << problem;
            continue;
          }
          std::vector<std::string> problems = commonProblems(fault, *outcome);
          for (std::string& p : flowProblems(fault, *outcome)) problems.push_back(std::move(p));
          for (const std::string& p : problems) {
            ADD_FAILURE() << "failing " << fault.describe() << ": " << p;
          }
        }
      }
    }
    EXPECT_FALSE(seen.empty()) << "the flow performs no operation of this group";
    std::ostringstream summary;
    for (Operation operation : seen) {
      summary << ' ' << sim::operationName(operation) << "x" << reference.calls.at(operation);
    }
    RecordProperty("runs", static_cast<int>(runs));
    std::printf("%zu runs over%s\n", runs, summary.str().c_str());
  }

  DeviceImage fresh;
  DeviceImage installed;
  DeviceImage start;
  ScratchFolder scratch;
  Flow flow_ = Flow::Install;
  DeviceSnapshot initial;
  Outcome reference;
  std::optional<NamedByConfiguration> named;
  std::map<std::string, Message> allowedMessages;
  std::string installerPath;
};

TEST_F(FaultInjectionTest, InstallRunsWithoutFaultsAsTheReference) {
  prepare(Flow::Install);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.result, kReturnedTrue);
  EXPECT_TRUE(named->untouchable(initial, reference.device).empty());
  EXPECT_EQ(reference.device.files.count("\\Program Files\\Atlas\\Skins\\Hi\\day.skn"), 1u);
  EXPECT_EQ(reference.device.files.count("\\Program Files\\Atlas\\Voices\\paul.wav"), 1u);
  EXPECT_EQ(reference.device.files.count("\\Program Files\\Atlas\\Voices\\readme.txt"), 0u);
  EXPECT_EQ(reference.device.files.count("\\My Documents\\atlas.ini"), 1u);
  EXPECT_EQ(reference.registryValue("HKEY_LOCAL_MACHINE\\Software\\Atlas", "Installed"),
            std::optional<std::string>("4:01000000"));
  EXPECT_EQ(reference.count("shell_open"), 2u);  // autorun after the card work, then the launch
}

TEST_F(FaultInjectionTest, UninstallRunsWithoutFaultsAsTheReference) {
  prepare(Flow::Uninstall);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.device.files.count("\\Program Files\\Atlas\\atlas.exe"), 0u);
  EXPECT_EQ(reference.device.folders.count("\\Program Files\\Atlas\\Skins"), 1u);
  EXPECT_EQ(reference.device.registryKeys.count("HKEY_LOCAL_MACHINE\\Software\\Atlas"), 0u);
  EXPECT_EQ(reference.device.files.count("\\Program Files\\Atlas Tools\\tool.exe"), 1u);
  EXPECT_EQ(reference.messages().size(), 2u);
}

TEST_F(FaultInjectionTest, UpgradeRunsWithoutFaultsAsTheReference) {
  prepare(Flow::Upgrade);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(reference.device.files.at("\\Program Files\\Atlas\\atlas.exe"),
            fakeExecutable(kCardStamp));
  EXPECT_EQ(reference.registryValue("HKEY_CURRENT_USER\\Software\\Atlas", "Volume"),
            std::optional<std::string>("4:09000000"));
}

// The operations in three groups, so that each test stays short.
enum class Group { Files, Registry, WindowsAndTheRest };

Group groupOf(Operation operation) {
  switch (operation) {
    case Operation::OpenFile:
    case Operation::FileAttributes:
    case Operation::FindFirstFile:
    case Operation::CreateDirectory:
    case Operation::CopyFile:
    case Operation::DeleteFile:
    case Operation::FreeBytes:
    case Operation::ToMultiByte:
    case Operation::FileRead:
    case Operation::FileWrite:
    case Operation::FileSize:
    case Operation::FileSeek:
    case Operation::DirectoryNext:
      return Group::Files;
    case Operation::CreateKey:
    case Operation::OpenKey:
    case Operation::BroadcastSettingChange:
    case Operation::KeySetDword:
    case Operation::KeySetString:
    case Operation::KeyQueryValue:
    case Operation::KeyDeleteSubkeyTree:
    case Operation::KeyFlush:
      return Group::Registry;
    default:
      return Group::WindowsAndTheRest;
  }
}

void PrintTo(Group group, std::ostream* out) {
  static constexpr const char* kNames[] = {"files", "registry", "windows and the rest"};
  *out << kNames[static_cast<int>(group)];
}

class EachOperationFails : public FaultInjectionTest,
                           public ::testing::WithParamInterface<std::tuple<Flow, Group>> {};

TEST_P(EachOperationFails, InTurnOnceAndForGood) {
  const auto [flow, group] = GetParam();
  failEachOperationInTurn(flow, [group = group](Operation op) { return groupOf(op) == group; });
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Flow, Group>>& param) {
  static constexpr const char* kFlows[] = {"Install", "Uninstall", "CardInsert", "CardRemove",
                                           "Upgrade"};
  static constexpr const char* kGroups[] = {"Files", "Registry", "WindowsAndTheRest"};
  return std::string(kFlows[static_cast<int>(std::get<0>(param.param))]) + "_" +
         kGroups[static_cast<int>(std::get<1>(param.param))];
}

INSTANTIATE_TEST_SUITE_P(
    Flows, EachOperationFails,
    ::testing::Combine(::testing::Values(Flow::Install, Flow::Uninstall, Flow::CardInsert,
                                         Flow::CardRemove, Flow::Upgrade),
                       ::testing::Values(Group::Files, Group::Registry, Group::WindowsAndTheRest)),
    caseName);

}  // namespace
}  // namespace autorun::testing::hardening
