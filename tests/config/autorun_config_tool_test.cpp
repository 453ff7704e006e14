// autorun-config end to end: the program run on files in a temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kTool = AUTORUN_BINARY_DIR "/tools/autorun-config";

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

class AutorunConfigTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "autorun-config-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  // Runs the tool with arguments (already quoted where needed).
  ToolRun run(const std::string& arguments) const {
    const std::string err = path("stderr.txt");
    const std::string command = "'" + kTool + "' " + arguments + " 2>'" + err + "'";
    ToolRun result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = read("stderr.txt");
    fs::remove(err);
    return result;
  }

  std::string q(const std::string& name) const { return "'" + path(name) + "'"; }

  fs::path dir_;
};

const std::string kWorkedExample =
    "; sample configuration\n"
    "[common]\n"
    "brand = \"Atlas\"\n"
    "website = \"www.atlas-nav.example\"\n"
    "logo = \"logo.bmp\"\n"
    "logo_width = \"84\"\n"
    "\tlogo_height = \"100\"\n"
    "[navigation]\n"
    "exe_dir = \"%PROGRAM_FILES%\\\\Atlas\"\n"
    "exe = \"${exe_dir}\\\\atlas.exe\"\n"
    "[install]\n"
    "title = \"%s setup\"\n"
    "question = \"Install %s?\\nIt needs 40 MB.\"\n"
    "// the update texts start as copies of the install texts\n"
    "[update:install]\n"
    "title = \"%s update\"\n"
    "[install_actions]\n"
    "makedir_1 = \"${navigation/exe_dir}\"\n"
    "makedir_2 = \"${navigation/exe_dir}\\\\maps\"\n";

TEST_F(AutorunConfigTool, EncodeThenDecodeGivesTheTextBack) {
  write("plain.txt", kWorkedExample);
  ASSERT_EQ(run("encode " + q("plain.txt") + " " + q("autorun_8.qlm")).status, 0);
  const std::string file = read("autorun_8.qlm");
  // Byte-order mark plus two bytes per character, each line end now CR LF.
  EXPECT_EQ(file.size(), 2 + 2 * (kWorkedExample.size() + 19));

  const ToolRun toStdout = run("decode " + q("autorun_8.qlm"));
  EXPECT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_EQ(toStdout.out, kWorkedExample);

  ASSERT_EQ(run("decode " + q("autorun_8.qlm") + " " + q("back.txt")).status, 0);
  EXPECT_EQ(read("back.txt"), kWorkedExample);

  // CR LF and UTF-8 with its mark come back as plain LF text.
  write("crlf.txt", "\xEF\xBB\xBF[common]\r\nbrand = \"\xC3\x85tlas\"\r\n");
  ASSERT_EQ(run("encode " + q("crlf.txt") + " " + q("crlf.qlm")).status, 0);
  EXPECT_EQ(run("decode " + q("crlf.qlm")).out, "[common]\nbrand = \"\xC3\x85tlas\"\n");
}

TEST_F(AutorunConfigTool, DumpShowsTheLoadedEntries) {
  write("plain.txt", kWorkedExample);
  ASSERT_EQ(run("encode " + q("plain.txt") + " " + q("autorun_8.qlm")).status, 0);
  const std::string expected =
      "common/brand = Atlas\n"
      "common/logo = logo.bmp\n"
      "common/logo_height = 100\n"
      "common/logo_width = 84\n"
      "common/website = www.atlas-nav.example\n"
      "install/question = Install Atlas?\\nIt needs 40 MB.\n"
      "install/title = Atlas setup\n"
      "install_actions/makedir_1 = %PROGRAM_FILES%\\Atlas\n"
      "install_actions/makedir_2 = %PROGRAM_FILES%\\Atlas\\maps\n"
      "navigation/exe = %PROGRAM_FILES%\\Atlas\\atlas.exe\n"
      "navigation/exe_dir = %PROGRAM_FILES%\\Atlas\n"
      "update/question = Install %s?\\nIt needs 40 MB.\n"
      "update/title = Atlas update\n";
  for (const char* input : {"autorun_8.qlm", "plain.txt"}) {
    const ToolRun dump = run("dump " + q(input));
    EXPECT_EQ(dump.status, 0) << input << dump.err;
    EXPECT_EQ(dump.out, expected) << input;
    EXPECT_EQ(dump.err, "") << input;
  }
}

TEST_F(AutorunConfigTool, DumpEscapesControlCharactersAndWarnsAboutRefusals) {
  write("plain.txt", "[s]\nv = \"a\\tb\\r\\nc\\bd\x01\x7F\xC3\xA9\"\n");
  const ToolRun dump = run("dump " + q("plain.txt"));
  EXPECT_EQ(dump.status, 0);
  EXPECT_EQ(dump.out, "s/v = a\\tb\\r\\nc\\bd\\x01\\x7F\xC3\xA9\n");
  EXPECT_NE(dump.err.find("common/brand"), std::string::npos) << dump.err;

  write("binary.bin", std::string("\x80\x81\x82\x00\xFE", 5));
  const ToolRun refused = run("dump " + q("binary.bin"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("neither a configuration file for this key"), std::string::npos);
}

TEST_F(AutorunConfigTool, EncodeRefusesFilesTheInstallerWouldNotRead) {
  // 49999 characters in all: a file of exactly 100000 bytes.
  const std::string head = "[common]\nbrand = \"A\"\nwebsite = \"w\"\n;";
  const std::string fits = head + std::string(49999 - (head.size() + 3), 'x');
  write("fits.txt", fits);
  ASSERT_EQ(run("encode " + q("fits.txt") + " " + q("fits.qlm")).status, 0);
  EXPECT_EQ(read("fits.qlm").size(), 100000u);

  write("big.txt", fits + "x");
  const ToolRun big = run("encode " + q("big.txt") + " " + q("big.qlm"));
  EXPECT_EQ(big.status, 1);
  EXPECT_NE(big.err.find("100002 bytes"), std::string::npos) << big.err;
  EXPECT_FALSE(fs::exists(path("big.qlm")));
  // No temporary file is left behind either.
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
  }
}

TEST_F(AutorunConfigTool, KeysMustMatch) {
  write("plain.txt", kWorkedExample);
  ASSERT_EQ(run("encode --key OTH19991231235959 " + q("plain.txt") + " " + q("other.qlm")).status,
            0);
  write("back.txt", "old");
  const ToolRun wrong = run("decode " + q("other.qlm") + " " + q("back.txt"));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("not a configuration file for this key"), std::string::npos);
  EXPECT_EQ(read("back.txt"), "old");  // untouched

  EXPECT_EQ(run("decode --key OTH19991231235959 " + q("other.qlm")).out, kWorkedExample);
  EXPECT_EQ(run("dump --key OTH19991231235959 " + q("other.qlm")).out,
            run("dump " + q("plain.txt")).out);
}

TEST_F(AutorunConfigTool, ReportsUsageAndMissingFiles) {
  EXPECT_EQ(run("--help").status, 0);
  for (const char* command : {"encode", "decode", "dump"}) {
    const ToolRun help = run(std::string(command) + " --help");
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find("--key"), std::string::npos) << command;
  }
  // Option errors have the documented code; a folder for a file is a clear error.
  fs::create_directory(path("folder"));
  write("plain.txt", kWorkedExample);
  struct Case {
    std::string arguments;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"", 64, "subcommand"},
      {"encode " + q("only-one.txt"), 64, "OUT"},
      {"check --bogus " + q("plain.txt"), 64, "bogus"},
      {"encode " + q("plain.txt") + " " + q("folder"), 1, "is a folder"},
      {"decode " + q("folder"), 1, "is a folder"},
      {"check " + q("folder"), 2, "is a folder"},
  };
  for (const Case& c : cases) {
    const ToolRun result = run(c.arguments);
    EXPECT_EQ(result.status, c.status) << c.arguments << "\n" << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << c.arguments << "\n" << result.err;
    EXPECT_EQ(result.err.find("terminate"), std::string::npos) << result.err;
  }
  const ToolRun missing = run("dump " + q("missing.qlm"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("missing.qlm"), std::string::npos);
}

// OUT: a regular file is replaced whole; a device is written through, never replaced; a
// link to a file replaces the file and keeps the link.
TEST_F(AutorunConfigTool, OutputsAreReplacedOrWrittenThrough) {
  write("plain.txt", kWorkedExample);
  ASSERT_EQ(run("encode " + q("plain.txt") + " " + q("good.qlm")).status, 0);
  const ToolRun toStdout = run("decode " + q("good.qlm") + " /dev/stdout");
  EXPECT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_EQ(toStdout.out, kWorkedExample);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(run("decode " + q("good.qlm") + " /dev/null").status, 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  write("target.txt", "old");
  fs::create_symlink(path("target.txt"), path("link.txt"));
  ASSERT_EQ(run("decode " + q("good.qlm") + " " + q("link.txt")).status, 0);
  EXPECT_TRUE(fs::is_symlink(path("link.txt")));
  EXPECT_EQ(read("target.txt"), kWorkedExample);
}

// UTF-16 without its mark is read as UTF-16; UTF-16 keeps its line ends, so a text with a
// lone LF comes back from decode as the installer reads it and encodes to the same file.
TEST_F(AutorunConfigTool, Utf16SourcesAndLineEndsSurviveTheRoundTrip) {
  const std::string utf16 = std::string("[\0c\0]\0\r\0\n\0a\0 \0=\0 \0\"\0x\0\"\0\r\0\n\0", 28);
  write("nomark.txt", utf16);
  ASSERT_EQ(run("encode " + q("nomark.txt") + " " + q("nomark.qlm")).status, 0);
  const ToolRun dumped = run("dump " + q("nomark.qlm"));
  EXPECT_NE(dumped.out.find("c/a = x"), std::string::npos) << dumped.out << dumped.err;

  write("lone.txt", std::string("\xFF\xFE"
                                "a\0\n\0b\0\r\0",
                                10));
  ASSERT_EQ(run("encode " + q("lone.txt") + " " + q("lone.qlm")).status, 0);
  ASSERT_EQ(run("decode " + q("lone.qlm") + " " + q("back.txt")).status, 0);
  ASSERT_EQ(run("encode " + q("back.txt") + " " + q("again.qlm")).status, 0);
  EXPECT_EQ(read("again.qlm"), read("lone.qlm"));
}

}  // namespace
