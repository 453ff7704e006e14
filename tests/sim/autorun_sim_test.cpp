// autorun-sim end to end: options, the runner's own exit codes, and a whole installation
// on a device image.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "support/device_image.h"

namespace autorun::sim {
namespace {

using autorun::testing::DeviceImage;
using nlohmann::json;

struct SimRun {
  int exitCode = -1;
  std::string output;
};

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

SimRun runSim(const std::vector<std::string>& arguments) {
  std::string command = quoted(std::string(AUTORUN_BINARY_DIR) + "/tools/autorun-sim");
  for (const std::string& argument : arguments) command += " " + quoted(argument);
  command += " </dev/null 2>&1";
  SimRun run;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string readBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ASCII text in UTF-16LE.
std::string asUtf16(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

std::vector<json> readTrace(const std::filesystem::path& file) {
  std::vector<json> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

constexpr std::string_view kConfiguration = R"([common]
brand = "Atlas"
website = "www.example.com"
logo = "logo.bmp"
logo_width = "84"
logo_height = "100"

[navigation]
exe_parent = "PROGRAM_FILES"
exe_dir = "Atlas"
exe = "atlas.exe"
windowclass = "AtlasMain"
windowname = "Atlas"
sd_dir = "Atlas"

[install]
title = "%s Setup"
question = "Install %s?"

[registry]
installed = "HKLM\\Software\\Atlas\\Installed"
cardpath = "HKLM\\Software\\Atlas\\CardPath"

[install_actions]
makedir_1 = "%PROGRAM_FILES%\\Atlas"
src_1 = "\\Atlas\\atlas.exe"
dst_1 = "%PROGRAM_FILES%\\Atlas"
reg_key_1 = "HKLM\\Software\\Atlas\\Version"
reg_dw_value_1 = "3"
)";

TEST(AutorunSim, TheRunnersOwnErrorsHaveTheirOwnCodes) {
  DeviceImage image;
  const std::string device = image.dir().string();
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {{"--frobnicate"}, 64, "frobnicate"},
      {{}, 64, "--device"},
      {{"--device", device, "--answers", "yes,maybe"}, 64, "maybe"},
      {{"--device", device + "/missing"}, 66, "no device image"},
      {{"--device", device, "--trace", device + "/no/such/folder/t.jsonl"}, 73, "trace"},
      {{"init", device}, 73, "already holds a device image"},
  };
  for (const Case& c : cases) {
    const SimRun run = runSim(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_EQ(run.output.rfind("autorun-sim: ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;  // one line
  }

  image.writeRegistry("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A\n");
  const SimRun malformed = runSim({"--device", device});
  EXPECT_EQ(malformed.exitCode, 65);
  EXPECT_NE(malformed.output.find("registry.reg:2:"), std::string::npos) << malformed.output;

  const SimRun help = runSim({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("--answers"), std::string::npos);
}

TEST(AutorunSim, InitMakesAnImageTheInstallerRunsOn) {
  DeviceImage scratch;
  const std::filesystem::path dir = scratch.dir() / "new image";
  ASSERT_EQ(runSim({"init", dir.string()}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "fs" / "Storage Card"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "fs" / "Windows" / "Start Menu" / "Programs"));
  // No configuration anywhere: the installer's own exit code 1, after its message.
  const std::filesystem::path trace = scratch.dir() / "trace.jsonl";
  const SimRun run = runSim({"--device", dir.string(), "--trace", trace.string(), "--", "install"});
  EXPECT_EQ(run.exitCode, 1) << run.output;
  const auto lines = readTrace(trace);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back()["op"], "message_box");
  EXPECT_EQ(lines.back()["caption"], "Error");
  EXPECT_EQ(readBytes(dir / "registry.reg"), "Windows Registry Editor Version 5.00\n\n");

  // --utf16: the registry as the registry editor writes it, and kept so by every change.
  const std::filesystem::path wide = scratch.dir() / "wide image";
  ASSERT_EQ(runSim({"init", "--utf16", wide.string()}).exitCode, 0);
  EXPECT_EQ(readBytes(wide / "registry.reg"),
            "\xFF\xFE" + asUtf16("Windows Registry Editor Version 5.00\r\n\r\n"));
  std::filesystem::create_directories(wide / "fs" / "Storage Card" / "2577");
  std::filesystem::create_directories(wide / "fs" / "Storage Card" / "Atlas");
  std::ofstream(wide / "fs" / "Storage Card" / "2577" / "autorun_8.qlm", std::ios::binary)
      << autorun::testing::encipherConfiguration(kConfiguration);
  std::ofstream(wide / "fs" / "Storage Card" / "Atlas" / "atlas.exe") << "MZ";
  const SimRun install = runSim({"--device", wide.string(), "--answers", "yes", "--", "install"});
  EXPECT_EQ(install.exitCode, 0) << install.output;
  const std::string registry = readBytes(wide / "registry.reg");
  EXPECT_EQ(registry.rfind("\xFF\xFE" + asUtf16("Windows Registry Editor Version 5.00\r\n"), 0),
            0u);
  EXPECT_NE(registry.find(asUtf16("\r\n\"Installed\"=dword:00000001\r\n")), std::string::npos);
}

TEST(AutorunSim, AnsweredYesTheInstallationRuns) {
  DeviceImage image;
  image.writeConfiguration(kConfiguration);
  image.writeFile(u"\\Storage Card\\Atlas\\atlas.exe", "MZ program");
  const std::filesystem::path trace = image.dir() / "trace.jsonl";
  const SimRun run = runSim({"--device", image.dir().string(), "--answers", "yes", "--trace",
                             trace.string(), "--", "install"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\atlas.exe"), "MZ program");
  const std::string registry = image.registryText();
  EXPECT_NE(registry.find("\"Installed\"=dword:00000001"), std::string::npos) << registry;
  EXPECT_NE(registry.find("\"Version\"=dword:00000003"), std::string::npos) << registry;

  const auto lines = readTrace(trace);
  std::vector<std::string> ops;
  std::vector<int> progress;
  for (const json& line : lines) {
    ops.push_back(line["op"]);
    if (line["op"] == "progress") progress.push_back(line["position"]);
    if (line["op"] == "question") {
      EXPECT_EQ(line["text"], "Install Atlas?");
      EXPECT_EQ(line["caption"], "Atlas Setup");
      EXPECT_EQ(line["answer"], "yes");
    }
  }
  EXPECT_NE(std::find(ops.begin(), ops.end(), "question"), ops.end());
  EXPECT_NE(std::find(ops.begin(), ops.end(), "copy_file"), ops.end());
  EXPECT_NE(std::find(ops.begin(), ops.end(), "shell_open"), ops.end());
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
}

TEST(AutorunSim, WithoutAnswersTheQuestionGetsNo) {
  DeviceImage image;
  image.writeConfiguration(kConfiguration);
  image.writeFile(u"\\Storage Card\\Atlas\\atlas.exe", "MZ program");
  const std::filesystem::path trace = image.dir() / "trace.jsonl";
  const SimRun run =
      runSim({"--device", image.dir().string(), "--trace", trace.string(), "--", "install"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_FALSE(image.exists(u"\\Program Files\\Atlas\\atlas.exe"));
  bool asked = false;
  for (const json& line : readTrace(trace)) {
    EXPECT_NE(line["op"], "copy_file");
    if (line["op"] == "question") {
      asked = true;
      EXPECT_EQ(line["answer"], "no");
    }
  }
  EXPECT_TRUE(asked);
}

}  // namespace
}  // namespace autorun::sim
