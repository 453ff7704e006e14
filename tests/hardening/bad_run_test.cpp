// autorun-sim run as an unlucky or hostile user runs it: a trace file that cannot be
// written or lies in the image (outputs), two runs on one image (concurrency) and the
// card's texts on a terminal (terminals). The tables here are the ones in the README
// ("What happens when ...").
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hardening/bad_input_support.h"
#include "hardening/hardening_fixture.h"

namespace autorun::testing::hardening {
namespace {

namespace fs = std::filesystem;

constexpr char kAutorunSim[] = AUTORUN_BINARY_DIR "/tools/autorun-sim";
constexpr char16_t kInstalledFile[] = u"\\Program Files\\Atlas\\atlas.exe";

std::vector<char*> argvOf(std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return argv;
}

// Starts autorun-sim on the image, answering Yes, with these further arguments; stdin and
// stdout away from any terminal, stderr into `errors`.
pid_t startSim(const DeviceImage& image, std::vector<std::string> more, const fs::path& errors) {
  std::vector<std::string> arguments{kAutorunSim, "--device", image.dir().string(), "--answers",
                                     "yes"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  const std::vector<char*> argv = argvOf(arguments);
  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open("/dev/null", O_RDWR);
    const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(in, 1);
    ::dup2(err, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

// The exit code of a started run; -1 when it did not exit normally.
int exitOf(pid_t child) {
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string contentOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- Outputs: the trace file ---------------------------------------------------------------

struct TraceCase {
  const char* what;
  // The trace path, made ready; `scratch` is a folder outside the image.
  std::function<fs::path(const DeviceImage&, const fs::path& scratch)> place;
  int exitCode;      // 73: refused before anything ran; 74: the run went on, trace lost
  bool onSmallDisk;  // the trace lies on a disk of one page
};

fs::path linked(const fs::path& at, const fs::path& target) {
  fs::create_symlink(target, at);
  return at;
}

const TraceCase kTraces[] = {
    {"registry.reg", [](const DeviceImage& i, const fs::path&) { return i.dir() / "registry.reg"; },
     73, false},
    {"device.json, not there yet",
     [](const DeviceImage& i, const fs::path&) { return i.dir() / "device.json"; }, 73, false},
    {"the card's configuration",
     [](const DeviceImage& i, const fs::path&) {
       return i.dir() / "fs/Storage Card/2577/autorun_8.qlm";
     },
     73, false},
    {"a new file under fs/",
     [](const DeviceImage& i, const fs::path&) { return i.dir() / "fs/My Documents/t.jsonl"; }, 73,
     false},
    {"registry.reg spelt with . and ..",
     [](const DeviceImage& i, const fs::path&) { return i.dir() / "fs/./../registry.reg"; }, 73,
     false},
    {"a relative path into the image",
     [](const DeviceImage& i, const fs::path&) {
       return fs::relative(i.dir() / "registry.reg", fs::current_path());
     },
     73, false},
    {"a link outside to registry.reg",
     [](const DeviceImage& i, const fs::path& s) {
       return linked(s / "trace", i.dir() / "registry.reg");
     },
     73, false},
    {"a dangling link outside to a new file under fs/",
     [](const DeviceImage& i, const fs::path& s) {
       return linked(s / "trace", i.dir() / "fs/new.jsonl");
     },
     73, false},
    {"a path through a link outside to fs/",
     [](const DeviceImage& i, const fs::path& s) { return linked(s / "f", i.dir() / "fs") / "t"; },
     73, false},
    {"a hard link to registry.reg",
     [](const DeviceImage& i, const fs::path& s) {
       fs::create_hard_link(i.dir() / "registry.reg", s / "trace");
       return s / "trace";
     },
     73, false},
    {"the registry's temporary name",
     [](const DeviceImage& i, const fs::path&) { return i.dir() / ".registry.reg.a1b2c3"; }, 73,
     false},
    {"an existing folder (cannot be truncated)",
     [](const DeviceImage&, const fs::path& s) {
       fs::create_directory(s / "trace");
       return s / "trace";
     },
     73, false},
    {"a FIFO nobody reads",
     [](const DeviceImage&, const fs::path& s) {
       EXPECT_EQ(::mkfifo((s / "trace").c_str(), 0644), 0);
       return s / "trace";
     },
     73, false},
    {"a file in a missing folder",
     [](const DeviceImage&, const fs::path& s) { return s / "missing" / "trace"; }, 73, false},
    {"/dev/full", [](const DeviceImage&, const fs::path&) { return fs::path("/dev/full"); }, 74,
     false},
    {"a file on a disk that fills up",
     [](const DeviceImage&, const fs::path& s) { return s / "disk" / "trace"; }, 74, true},
};

// A trace that would overwrite the image is refused before anything runs; one that cannot
// be made is refused likewise; one that stops taking lines ends the run with 74 once the
// run is over, holding only whole lines, never with 0.
TEST(BadRun, TraceFiles) {
  const ImagesInMemory inMemory;
  std::string skipped;
  for (const TraceCase& c : kTraces) {
    SCOPED_TRACE(c.what);
    ScratchFolder scratch;
    std::optional<SmallDisk> disk;
    if (c.onSmallDisk && !disk.emplace(scratch.dir() / "disk", 4096).mounted()) {
      skipped = disk->skipReason();
      continue;
    }
    DeviceImage image;
    writeCardAndBystanders(image);
    const fs::path trace = c.place(image, scratch.dir());
    const DeviceSnapshot before = snapshot(image.dir());
    const std::string registry = contentOf(image.dir() / "registry.reg");
    const fs::path errors = scratch.dir() / "errors.txt";
    EXPECT_EQ(exitOf(startSim(image, {"--trace", trace.string()}, errors)), c.exitCode)
        << contentOf(errors);
    const std::string said = contentOf(errors);
    EXPECT_EQ(said.rfind("autorun-sim: ", 0), 0u) << said;
    // One line for a refused trace; after a run, its summary line and then the error.
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), c.exitCode == 73 ? 1 : 2) << said;
    if (c.exitCode == 73) {
      EXPECT_EQ(differences(before, snapshot(image.dir())), std::vector<std::string>{});
      EXPECT_EQ(contentOf(image.dir() / "registry.reg"), registry);
    } else {
      EXPECT_TRUE(image.exists(kInstalledFile));  // the run went on to its end
      EXPECT_NE(said.find("could not be written"), std::string::npos) << said;
    }
    if (c.onSmallDisk) {
      const std::string written = contentOf(trace);
      EXPECT_FALSE(written.empty());
      EXPECT_EQ(written.back(), '\n');  // no torn line at the end
      std::istringstream lines(written);
      for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(nlohmann::json::accept(line)) << line;
      }
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << "the full disk row: " << skipped;
}

// ---- Concurrency: two runs on one image ------------------------------------------------------

// Another run holds the image (the lock is flock on the image's folder): a run waits for
// it, at most --lock-wait seconds, and then exits with 75 having changed nothing; a run
// whose wait ends in time runs as usual.
TEST(BadRun, TwoRunsOnOneImage) {
  const ImagesInMemory inMemory;
  ScratchFolder scratch;
  const fs::path errors = scratch.dir() / "errors.txt";
  for (const bool letGo : {false, true}) {
    SCOPED_TRACE(letGo ? "let go during the wait" : "held throughout the wait");
    DeviceImage image;
    writeCardAndBystanders(image);
    const DeviceSnapshot before = snapshot(image.dir());
    const int held = ::open(image.dir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const pid_t other = startSim(image, {"--lock-wait", letGo ? "10" : "0.1"}, errors);
    if (letGo) {
      // The run is waiting, not done: it has not exited, and nothing is installed.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      int status = 0;
      EXPECT_EQ(::waitpid(other, &status, WNOHANG), 0);
      EXPECT_FALSE(image.exists(kInstalledFile));
      ::close(held);
      EXPECT_EQ(exitOf(other), 0) << contentOf(errors);
      EXPECT_TRUE(image.exists(kInstalledFile));
    } else {
      EXPECT_EQ(exitOf(other), 75);
      ::close(held);
      EXPECT_NE(contentOf(errors).find("another run holds this device image"), std::string::npos)
          << contentOf(errors);
      EXPECT_EQ(differences(before, snapshot(image.dir())), std::vector<std::string>{});
    }
  }
}

// ---- Terminals: the card's texts -------------------------------------------------------------

struct TerminalCase {
  const char* what;
  std::string raw;    // in the card's title, question and free-space message
  std::string shown;  // how the terminal shows it
};

const TerminalCase kTerminalTexts[] = {
    {"setting the window title", "\x1b]0;owned\x07", "\\x1B]0;owned\\x07"},
    {"clearing the screen", "\x1b[2J\x1b[H", "\\x1B[2J\\x1B[H"},
    {"hiding what follows", "\x1b[8m", "\\x1B[8m"},
    {"a C1 control sequence introducer",
     "\xC2\x9B"
     "2J",
     "\\u009B2J"},
    {"a delete and a backspace", "x\x7f\b", "x\\x7F\\b"},
    {"moving up and erasing a line", "\x1b[1A\x1b[2K", "\\x1B[1A\\x1B[2K"},
};

// Runs autorun-sim on a terminal (a pseudo-terminal: stdin and stdout), answering Yes
// there; what the terminal received.
std::string onTerminal(const DeviceImage& image) {
  std::vector<std::string> arguments{kAutorunSim, "--device", image.dir().string()};
  const std::vector<char*> argv = argvOf(arguments);
  int master = -1;
  const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (child == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (child < 0) return "forkpty failed";
  const std::string answer = "y\n";
  EXPECT_EQ(::write(master, answer.data(), answer.size()), 2);
  std::string received;
  pollfd wait{master, POLLIN, 0};
  // Bounded: a run that hangs fails the test instead of stopping the suite.
  while (::poll(&wait, 1, 10000) > 0) {
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the run has ended
    received.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(master);
  EXPECT_EQ(exitOf(child), 0) << received;
  return received;
}

// Whatever the card holds, it cannot steer the terminal: its control characters reach it
// written out, in the question's caption and text and in a message box.
TEST(BadRun, CardTextsOnATerminal) {
  const ImagesInMemory inMemory;
  for (const TerminalCase& c : kTerminalTexts) {
    SCOPED_TRACE(c.what);
    DeviceImage image;
    image.writeFile(u"\\Storage Card\\Atlas\\atlas.exe", "MZ card");
    image.writeDeviceJson({{"free_bytes", 1}});
    image.writeConfiguration(
        "[common]\nbrand = \"Atlas\"\nwebsite = \"atlas.example\"\n"
        "[registry]\ninstalled = \"HKLM\\\\Software\\\\Atlas\\\\I\"\n"
        "cardpath = \"HKLM\\\\Software\\\\Atlas\\\\C\"\n"
        "[install]\ntitle = \"" +
        c.raw + "%s setup\"\n" + "question = \"Install " + c.raw + "%s?\"\n" +
        "[error]\nfreespace = \"" + c.raw + "%s needs %s bytes.\"\n" +
        "[install_actions]\nsrc_1 = \"\\\\Atlas\\\\atlas.exe\"\n"
        "dst_1 = \"\\\\Program Files\\\\Atlas\"\n");
    const std::string received = onTerminal(image);
    EXPECT_NE(received.find("[" + c.shown + "Atlas setup]"), std::string::npos) << received;
    EXPECT_NE(received.find("Install " + c.shown + "Atlas?"), std::string::npos) << received;
    EXPECT_NE(received.find(c.shown + "Atlas needs "), std::string::npos) << received;
    for (const char* control : {"\x1b", "\x07", "\x7f", "\b", "\xC2\x9B"}) {
      EXPECT_EQ(received.find(control), std::string::npos) << received;
    }
  }
}

}  // namespace
}  // namespace autorun::testing::hardening
