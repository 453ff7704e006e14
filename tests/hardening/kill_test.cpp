// autorun-sim killed at random moments of an installation of many files and registry
// values: the registry file must always be whole and readable, and a second run must
// complete the installation.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "hardening/hardening_fixture.h"
#include "platform/sim/sim_registry.h"

extern char** environ;

namespace autorun::testing::hardening {
namespace {

namespace fs = std::filesystem;

// Under the sanitizers every run is many times slower; a smaller installation keeps the
// same kill points within the time a test may take.
#if defined(AUTORUN_SANITIZED)
constexpr int kFiles = 250;
constexpr int kRegistryValues = 50;
#else
constexpr int kFiles = 1000;
constexpr int kRegistryValues = 100;
#endif
constexpr int kKillsPerPhase = 12;  // 24 in all

std::string mapName(int n) {
  return "tile" + std::to_string(n) + ".map";
}
std::string mapBytes(int n) {
  return "map tile " + std::to_string(n * 7919) + "\n";
}

std::string configuration() {
  std::ostringstream text;
  text << R"([common]
brand = "Atlas"
website = "atlas.example"
[navigation]
exe_parent = "PROGRAM_FILES"
exe_dir = "Atlas"
exe = "atlas.exe"
[registry]
installed = "HKLM\\Software\\Atlas\\Installed"
cardpath = "HKLM\\Software\\Atlas\\CardPath"
[install]
title = "%s setup"
question = "Install %s?"
[uninstall]
title = "%s removal"
[reinstall]
question = "%s is installed. Install it again?"
[uninstall_actions]
remove_reg_1 = "HKLM\\Software\\Atlas"
remove_file_1 = "%PROGRAM_FILES%\\Atlas\\*.*"
remove_dir_1 = "%PROGRAM_FILES%\\Atlas\\Maps"
[install_actions]
makedir_1 = "%PROGRAM_FILES%\\Atlas"
makedir_2 = "%PROGRAM_FILES%\\Atlas\\Maps"
src_1 = "\\Atlas\\atlas.exe"
dst_1 = "%PROGRAM_FILES%\\Atlas"
src_2 = "\\Atlas\\Maps"
dst_2 = "%PROGRAM_FILES%\\Atlas\\Maps"
)";
  for (int n = 1; n <= kRegistryValues; ++n) {
    text << "reg_key_" << n << " = \"HKLM\\\\Software\\\\Atlas\\\\Settings" << n % 7 << "\\\\Value"
         << n << "\"\n";
    text << "reg_dw_value_" << n << " = \"" << n << "\"\n";
  }
  return text.str();
}

// Starts autorun-sim on the image with the given command line, output thrown away.
pid_t startSim(const fs::path& dir, const std::vector<std::string>& commandLine) {
  std::vector<std::string> args = {std::string(AUTORUN_BINARY_DIR) + "/tools/autorun-sim",
                                   "--device",
                                   dir.string(),
                                   "--answers",
                                   "yes",
                                   "--trace",
                                   (dir / "trace.jsonl").string()};
  if (!commandLine.empty()) {
    args.push_back("--");
    args.insert(args.end(), commandLine.begin(), commandLine.end());
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir / "stderr.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start autorun-sim");
  return pid;
}

int waitExit(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::uintmax_t fileSize(const fs::path& file) {
  struct stat info {};
  return ::stat(file.c_str(), &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
}

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Where in the trace (bytes) the registry actions begin, and where the run ends.
struct Phases {
  std::uintmax_t registryStart = 0;
  std::uintmax_t end = 0;
};

Phases phasesOf(const fs::path& trace) {
  Phases phases;
  std::ifstream in(trace, std::ios::binary);
  std::uintmax_t offset = 0;
  for (std::string line; std::getline(in, line);) {
    if (phases.registryStart == 0 && line.find("\"set_value\"") != std::string::npos) {
      phases.registryStart = offset;
    }
    offset += line.size() + 1;
  }
  phases.end = offset;
  return phases;
}

enum class Phase { CopyingFiles, WritingRegistry };

class KillTest : public ::testing::TestWithParam<Phase> {
 protected:
  KillTest() {
    card.writeConfiguration(configuration());
    card.writeFile(u"\\Storage Card\\2577\\autorun.exe", "MZ installer");
    card.writeFile(u"\\Storage Card\\Atlas\\atlas.exe", fakeExecutable(1));
    card.makeFolder(u"\\Storage Card\\Atlas\\Maps");
    for (int n = 0; n < kFiles; ++n) {
      std::ofstream(card.hostPath(u"\\Storage Card\\Atlas\\Maps") / mapName(n), std::ios::binary)
          << mapBytes(n);
    }
  }

  void copyCard(const fs::path& to) {
    fs::remove_all(to / "fs");
    fs::copy(card.dir() / "fs", to / "fs", fs::copy_options::recursive);
    fs::copy_file(card.dir() / "registry.reg", to / "registry.reg",
                  fs::copy_options::overwrite_existing);
    fs::remove(to / "trace.jsonl");
  }

  // What a complete installation leaves; empty when it is all there.
  std::vector<std::string> incomplete(const fs::path& dir) {
    std::vector<std::string> missing;
    const fs::path maps = dir / "fs" / "Program Files" / "Atlas" / "Maps";
    for (int n = 0; n < kFiles; ++n) {
      if (readAll(maps / mapName(n)) != mapBytes(n)) missing.push_back(mapName(n));
    }
    sim::RegistryTree tree = sim::parseRegistryText(readAll(dir / "registry.reg"), "reg");
    const auto atlas = sim::RegistryFile::find(tree.roots[0], {u"Software", u"Atlas"});
    if (!atlas) {
      missing.push_back("HKLM\\Software\\Atlas");
      return missing;
    }
    auto dword = [](sim::RegistryNode& node, std::u16string_view name) -> long long {
      const sim::RegistryValue* value = node.value(name);
      if (value == nullptr || value->data.size() != 4) return -1;
      return value->data[0] | (value->data[1] << 8) | (value->data[2] << 16) |
             (static_cast<long long>(value->data[3]) << 24);
    };
    if (dword(*atlas, u"Installed") != 1) missing.push_back("the installed mark");
    for (int n = 1; n <= kRegistryValues; ++n) {
      const std::u16string settings = u"Settings" + std::u16string(1, u'0' + n % 7);
      const auto key = sim::RegistryFile::find(atlas, {settings});
      const std::u16string name = u"Value" + [](int v) {
        std::u16string digits;
        for (char c : std::to_string(v)) digits.push_back(static_cast<char16_t>(c));
        return digits;
      }(n);
      if (!key || dword(*key, name) != n) missing.push_back("registry value " + std::to_string(n));
    }
    return missing;
  }

  DeviceImage card;
  ScratchFolder run;
};

TEST_P(KillTest, AKilledInstallationLeavesAWholeRegistryAndASecondRunCompletesIt) {
  // The whole run once, to learn where its phases lie in the trace.
  copyCard(run.dir());
  ASSERT_EQ(waitExit(startSim(run.dir(), {"install"})), 0) << readAll(run.dir() / "stderr.txt");
  const std::vector<std::string> missingAfterWholeRun = incomplete(run.dir());
  ASSERT_TRUE(missingAfterWholeRun.empty())
      << missingAfterWholeRun.size() << " pieces missing, the first "
      << missingAfterWholeRun.front() << "\n"
      << readAll(run.dir() / "trace.jsonl").substr(0, 3000);
  const Phases phases = phasesOf(run.dir() / "trace.jsonl");
  ASSERT_GT(phases.registryStart, 0u);
  ASSERT_GT(phases.end, phases.registryStart);

  const bool inRegistryPhase = GetParam() == Phase::WritingRegistry;
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("random seed " + std::to_string(seed));
  std::uniform_int_distribution<std::uintmax_t> where(
      inRegistryPhase ? phases.registryStart : 1,
      inRegistryPhase ? phases.end - 1 : phases.registryStart - 1);
  int killed = 0;
  for (int attempt = 0; attempt < kKillsPerPhase; ++attempt) {
    const std::uintmax_t target = where(random);
    SCOPED_TRACE("kill " + std::to_string(attempt) + " at trace byte " + std::to_string(target));

    copyCard(run.dir());
    const pid_t pid = startSim(run.dir(), {"install"});
    bool ended = false;
    while (fileSize(run.dir() / "trace.jsonl") < target) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        ended = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      ++killed;
    }

    // Whole and readable, by the device's own reader.
    EXPECT_NO_THROW(sim::parseRegistryText(readAll(run.dir() / "registry.reg"), "registry.reg"));
    EXPECT_NO_THROW(sim::RegistryFile(run.dir() / "registry.reg"));

    // Started again by hand: installs, or offers to reinstall when the mark was written.
    EXPECT_EQ(waitExit(startSim(run.dir(), {})), 0) << readAll(run.dir() / "stderr.txt");
    const std::vector<std::string> missing = incomplete(run.dir());
    EXPECT_TRUE(missing.empty()) << missing.size() << " pieces missing, the first "
                                 << missing.front();
  }
  EXPECT_GE(killed, 10);
}

INSTANTIATE_TEST_SUITE_P(Phases, KillTest,
                         ::testing::Values(Phase::CopyingFiles, Phase::WritingRegistry),
                         [](const ::testing::TestParamInfo<Phase>& param) {
                           return param.param == Phase::CopyingFiles ? "WhileCopyingFiles"
                                                                     : "WhileWritingTheRegistry";
                         });

}  // namespace
}  // namespace autorun::testing::hardening
