// End to end: the autorun-sim program on device images, judged by its exit code, its
// trace file and the device it leaves behind.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "flows/flow_fixture.h"

namespace autorun::testing {
namespace {

constexpr char kAutorunSim[] = AUTORUN_BINARY_DIR "/tools/autorun-sim";

// Runs a program with these arguments, stdin and stdout away from any terminal; its
// exit code, or -1 when it did not exit normally.
int runProgram(const std::vector<std::string>& arguments, const std::string& outputFile) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class AutorunSimTest : public FlowTest {
 protected:
  struct Run {
    int exitCode = -1;
    std::vector<nlohmann::json> trace;
    std::string output;
  };

  // autorun-sim on the image; `installer` empty: the default autorun.exe on the card.
  Run run(const std::string& commandLine, const std::string& answers = "",
          const std::string& installer = "") {
    const std::string traceFile = (image.dir() / "trace.jsonl").string();
    const std::string outputFile = (image.dir() / "output.txt").string();
    std::vector<std::string> arguments{kAutorunSim, "--device", image.dir().string(), "--trace",
                                       traceFile};
    if (!answers.empty()) arguments.insert(arguments.end(), {"--answers", answers});
    if (!installer.empty()) arguments.insert(arguments.end(), {"--installer", installer});
    if (!commandLine.empty()) arguments.insert(arguments.end(), {"--", commandLine});

    Run result;
    result.exitCode = runProgram(arguments, outputFile);
    std::ifstream trace(traceFile);
    for (std::string line; std::getline(trace, line);) {
      if (!line.empty()) result.trace.push_back(nlohmann::json::parse(line));
    }
    std::ifstream output(outputFile);
    result.output.assign(std::istreambuf_iterator<char>(output), {});
    // The device as the run left it, for the registry checks.
    device = image.platform();
    return result;
  }

  // The summary line a run without a terminal ends with, without its "autorun-sim: ".
  static std::string summary(const Run& run) {
    const std::string mark = "autorun-sim: ";
    const std::size_t at = run.output.rfind(mark);
    if (at == std::string::npos) return {};
    std::string line = run.output.substr(at + mark.size());
    return line.substr(0, line.find('\n'));
  }
  static std::vector<nlohmann::json> ops(const Run& run, const std::string& op) {
    std::vector<nlohmann::json> found;
    for (const nlohmann::json& entry : run.trace) {
      if (entry.value("op", "") == op) found.push_back(entry);
    }
    return found;
  }
  static std::vector<std::string> userTexts(const Run& run) {
    std::vector<std::string> texts;
    for (const nlohmann::json& entry : run.trace) {
      const std::string op = entry.value("op", "");
      if (op == "question" || op == "message_box") {
        texts.push_back(entry.value("text", "") + " -> " + answerOf(entry));
      }
    }
    return texts;
  }
  static std::string answerOf(const nlohmann::json& entry) {
    const nlohmann::json& answer = entry["answer"];
    if (answer.is_string()) return answer.get<std::string>();
    switch (answer.get<int>()) {
      case kIdYes:
        return "yes";
      case kIdNo:
        return "no";
      default:
        return "ok";
    }
  }
  static std::vector<int> positions(const Run& run) {
    std::vector<int> found;
    for (const nlohmann::json& entry : ops(run, "progress")) found.push_back(entry["position"]);
    return found;
  }
  static std::vector<std::string> started(const Run& run) {
    std::vector<std::string> paths;
    for (const nlohmann::json& entry : ops(run, "shell_open")) paths.push_back(entry["path"]);
    return paths;
  }

  void installedApplication(std::uint32_t stamp) {
    writeInstalledApplication(stamp);
    image.writeFile(u"\\Program Files\\Atlas\\Skins\\day.skn", std::string(kDaySkinSize, 'a'));
    image.writeFile(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk",
                    "1#\"\\Program Files\\Atlas\\atlas.exe\"");
    setDword(kInstalledMark, 1);
    setString(kCardPath, u"\\Storage Card");
  }
};

TEST_F(AutorunSimTest, InsertionIntoADeviceWithoutTheApplicationInstallsAndStartsIt) {
  const Run r = run("install", "yes");
  EXPECT_EQ(summary(r),
            "install, exit 0: 2 folders made, 5 files copied, 2 files written, 7 registry values "
            "written, 1 DLL entry called, 1 message shown (yes), started \\Program "
            "Files\\Atlas\\atlas.exe");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(userTexts(r), std::vector<std::string>{"Install Atlas? -> yes"});
  EXPECT_EQ(ops(r, "question")[0]["caption"], "Atlas setup");
  EXPECT_EQ(positions(r), (std::vector<int>{16, 33, 50, 66, 83, 100}));

  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp, kExeSize));
  EXPECT_TRUE(image.exists(u"\\Program Files\\Atlas\\Skins\\night.skn"));
  EXPECT_EQ(image.readFile(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk"),
            "1#\"\\Program Files\\Atlas\\atlas.exe\"");
  EXPECT_TRUE(image.exists(u"\\My Documents\\atlas.ini"));
  EXPECT_EQ(dword(kInstalledMark), 1u);
  EXPECT_EQ(text(kCardPath), u"\\Storage Card");
  EXPECT_EQ(dword(kVolume), 5u);
  EXPECT_EQ(dword(kToday), 1u);
  EXPECT_EQ(ops(r, "call_entry").at(0)["entry"], "DllRegisterServer");
  EXPECT_EQ(started(r), std::vector<std::string>{"\\Program Files\\Atlas\\atlas.exe"});
  EXPECT_EQ(r.trace.back()["op"], "shell_open");
}

TEST_F(AutorunSimTest, InsertionDeclinedLeavesTheDeviceAlone) {
  const std::string registryBefore = image.registryText();
  const Run r = run("install", "no");
  EXPECT_EQ(summary(r), "install, exit 0: 1 message shown (no)");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(userTexts(r), std::vector<std::string>{"Install Atlas? -> no"});
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas"));
  EXPECT_EQ(image.registryText(), registryBefore);
}

TEST_F(AutorunSimTest, InsertionIntoADeviceWithTheApplicationPutsTheCardWorkBack) {
  installedApplication(kCardStamp);
  setDword(kTodaySaved, 1);
  setDword(kToday, 0);
  setDword(kAutorun, 1);
  const Run r = run("install");
  EXPECT_EQ(summary(r),
            "card inserted, exit 0: 1 file copied, 1 file written, 3 registry values written, "
            "started \\Program Files\\Atlas\\atlas.exe");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(userTexts(r).empty());
  EXPECT_TRUE(ops(r, "open_dialog").empty());
  EXPECT_EQ(dword(kToday), 1u);
  EXPECT_EQ(dword(kTodaySaved), 1u);
  EXPECT_TRUE(image.exists(u"\\My Documents\\atlas.ini"));
  EXPECT_EQ(text(kMapFolder), u"\\Storage Card\\Atlas\\Maps");
  EXPECT_EQ(ops(r, "broadcast").size(), 2u);
  EXPECT_EQ(started(r), std::vector<std::string>{"\\Program Files\\Atlas\\atlas.exe"});
}

TEST_F(AutorunSimTest, RemovalClosesTheProgramAndTakesTheCardWorkAway) {
  installedApplication(kCardStamp);
  image.writeFile(u"\\Windows\\Start Menu\\Programs\\Atlas Maps.lnk", "1#\"x\"");
  image.writeDeviceJson(
      {{"windows", nlohmann::json::array({{{"class", "AtlasMain"}, {"title", "Atlas"}}})}});
  setDword(kTodaySaved, 1);
  setDword(kToday, 1);
  const Run r = run("uninstall");
  EXPECT_EQ(summary(r), "card removed, exit 0: 1 file deleted, 3 registry values written");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(userTexts(r).empty());
  ASSERT_EQ(ops(r, "close_request").size(), 1u);
  EXPECT_EQ(ops(r, "close_request")[0]["class"], "AtlasMain");
  EXPECT_EQ(dword(kToday), 0u);
  EXPECT_EQ(dword(kTodaySaved), 1u);
  EXPECT_FALSE(image.exists(u"\\Windows\\Start Menu\\Programs\\Atlas Maps.lnk"));
  // The installation itself stays.
  EXPECT_TRUE(image.exists(kInstalledExe));
  EXPECT_EQ(dword(kInstalledMark), 1u);
}

TEST_F(AutorunSimTest, RemovalWithoutInstallationDoesNothing) {
  const Run r = run("uninstall");
  EXPECT_EQ(summary(r), "no flow, exit 0: nothing done");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.trace.empty());
}

TEST_F(AutorunSimTest, ReinstallRemovesAndInstallsAfterOneQuestion) {
  installedApplication(kCardStamp);
  image.writeFile(u"\\Program Files\\Atlas\\stale.dat", "old");
  const Run r = run("", "yes");
  EXPECT_EQ(
      summary(r),
      "reinstall question, exit 0: 5 files copied, 2 files written, 5 files deleted, 7 registry "
      "values written, 1 registry key deleted, 2 DLL entries called, 1 message shown (yes)");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(userTexts(r), std::vector<std::string>{"Atlas is installed. Install it again? -> yes"});
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\stale.dat"));
  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp, kExeSize));
  EXPECT_EQ(positions(r).back(), 100);
  EXPECT_EQ(dword(kInstalledMark), 1u);
  EXPECT_TRUE(started(r).empty());
}

TEST_F(AutorunSimTest, UninstallerWithTheProgramRunningRemovesNothing) {
  installedApplication(kCardStamp);
  image.writeDeviceJson(
      {{"windows", nlohmann::json::array({{{"class", "AtlasMain"}, {"title", "Atlas"}}})}});
  const Run r = run("", "yes", "\\Storage Card\\2577\\uninstall.exe");
  EXPECT_EQ(summary(r), "uninstall, exit 0: 2 messages shown (yes,ok)");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(userTexts(r), (std::vector<std::string>{"Remove Atlas? -> yes",
                                                    "Close the navigation first. -> ok"}));
  EXPECT_TRUE(image.exists(kInstalledExe));
  EXPECT_EQ(dword(kInstalledMark), 1u);
  EXPECT_TRUE(ops(r, "delete_file").empty());
}

TEST_F(AutorunSimTest, UninstallerWithoutTheProgramRunningRemovesTheApplication) {
  installedApplication(kCardStamp);
  image.writeDeviceJson(
      {{"windows", nlohmann::json::array({{{"class", "MSContactsUI"}, {"title", "Contacts"}}})}});
  const Run r = run("", "yes", "\\Storage Card\\2577\\uninstall.exe");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(userTexts(r),
            (std::vector<std::string>{"Remove Atlas? -> yes", "Atlas has been removed. -> ok"}));
  EXPECT_EQ(ops(r, "wait_process").size(), 1u);
  EXPECT_FALSE(image.exists(kInstalledExe));
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\Skins\\day.skn"));
  EXPECT_FALSE(image.exists(u"\\Windows\\Start Menu\\Programs\\Atlas.lnk"));
  EXPECT_EQ(dword(kInstalledMark), std::nullopt);
  EXPECT_EQ(ops(r, "call_entry").at(0)["entry"], "DllUnregisterServer");
}

struct UpgradeCase {
  const char* name;
  std::uint32_t installedStamp;
  const char* question;
};

class UpgradeEndToEndTest : public AutorunSimTest,
                            public ::testing::WithParamInterface<UpgradeCase> {};

TEST_P(UpgradeEndToEndTest, CarriesTheUsersValuesToTheCardsBuild) {
  installedApplication(GetParam().installedStamp);
  setDword(kVolume, 9);
  setString(kLastCity, u"Paris");
  const Run r = run("install", "yes");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(userTexts(r), std::vector<std::string>{std::string(GetParam().question) + " -> yes"});
  EXPECT_EQ(ops(r, "message_box").at(0)["caption"], "Atlas update");
  EXPECT_EQ(image.readFile(kInstalledExe), fakeExecutable(kCardStamp, kExeSize));
  EXPECT_EQ(dword(kInstalledMark), 1u);
  EXPECT_EQ(dword(kVolume), 9u);
  EXPECT_EQ(text(kLastCity), u"Paris");
  EXPECT_EQ(positions(r).back(), 100);
}

INSTANTIATE_TEST_SUITE_P(Cards, UpgradeEndToEndTest,
                         ::testing::Values(UpgradeCase{"NewerCard", kCardStamp - 1,
                                                       "The card holds a newer build. Update?"},
                                           UpgradeCase{
                                               "OlderCard", kCardStamp + 1,
                                               "The card holds an older build. Go back to it?"}),
                         CaseName());

TEST_F(AutorunSimTest, CopyFailureMidwayReportsTheFileAndStops) {
  // A folder stands where the last skin should go.
  image.makeFolder(u"\\Program Files\\Atlas\\Skins\\night.skn");
  const Run r = run("install", "yes");
  EXPECT_EQ(summary(r),
            "install, exit 0: 3 files copied, 1 copy failed, 2 messages shown (yes,ok)");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(userTexts(r), (std::vector<std::string>{
                              "Install Atlas? -> yes",
                              "Can't copy:\n\\Storage Card\\Atlas\\Skins\\night.skn -> ok"}));
  EXPECT_EQ(ops(r, "message_box")[0]["caption"], "\\storage card\\2577\\autorun.exe");
  EXPECT_EQ(positions(r), (std::vector<int>{16, 33, 50, 66, 83}));
  EXPECT_TRUE(image.exists(kInstalledExe));
  EXPECT_EQ(dword(kInstalledMark), std::nullopt);
  EXPECT_TRUE(started(r).empty());
}

TEST_F(AutorunSimTest, LackOfFreeSpaceIsReportedWithTheNeededSize) {
  image.writeDeviceJson({{"free_bytes", 1000}});
  const Run r = run("install", "yes");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(userTexts(r), (std::vector<std::string>{"Install Atlas? -> yes",
                                                    "Atlas needs " + std::to_string(kInstallBytes) +
                                                        " bytes free. -> ok"}));
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas"));
  EXPECT_EQ(dword(kInstalledMark), std::nullopt);
}

TEST_F(AutorunSimTest, ExitCodesOfFailedLoads) {
  image.writeConfiguration("[common]\nbrand = \"Atlas\"\n");
  EXPECT_EQ(run("install").exitCode, 3);
  std::filesystem::remove(image.hostPath(u"\\Storage Card\\2577\\autorun_8.qlm"));
  EXPECT_EQ(run("install").exitCode, 1);
  // On removal the missing file is not reported.
  const Run r = run("uninstall");
  EXPECT_EQ(summary(r), "no flow, exit 1: nothing done");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(userTexts(r).empty());
}

TEST_F(AutorunSimTest, PreinstalledCardRemovalExitsWithFour) {
  image.writeConfiguration(configuration + "[common]\npreinstalled = \"1\"\n");
  installedApplication(kCardStamp);
  const Run r = run("uninstall");
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_TRUE(r.trace.empty());
}

}  // namespace
}  // namespace autorun::testing
