// `autorun-config check` as a program: output forms and exit codes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "lint_test_support.h"

namespace autorun::testing {
namespace {

namespace fs = std::filesystem;

std::string tool() {
  return quote(fs::path(AUTORUN_BINARY_DIR) / "tools/autorun-config");
}

constexpr std::string_view kGood =
    "[common]\r\nbrand = \"Atlas\"\r\nwebsite = \"example.com\"\r\n[navigation]\r\n"
    "exe_parent = \"PROGRAM_FILES\"\r\nexe_dir = \"Atlas\"\r\nexe = \"atlas.exe\"\r\n"
    "windowclass = \"W\"\r\nwindowname = \"Atlas\"\r\n[install]\r\ntitle = \"%s\"\r\n"
    "question = \"Install %s?\"\r\n[reinstall]\r\nquestion = \"Again %s?\"\r\n[uninstall]\r\n"
    "title = \"%s\"\r\nquestion = \"Remove %s?\"\r\nready = \"%s removed\"\r\n"
    "notinstalled = \"%s absent\"\r\n[error]\r\nfreespace = \"%s needs %s bytes\"\r\n"
    "running = \"Close it\"\r\n[registry]\r\ninstalled = \"HKLM\\\\Software\\\\A\\\\I\"\r\n"
    "[install_actions]\r\nmakedir_1 = \"%PROGRAM_FILES%\\\\A\"\r\nsrc_1 = "
    "\"\\\\A\\\\a.exe\"\r\ndst_1 = "
    "\"%PROGRAM_FILES%\\\\A\\\\a.exe\"\r\n"
    "[uninstall_actions]\r\nremove_reg_1 = \"HKLM\\\\Software\\\\A\"\r\n";

TEST(CheckCommand, NotesAloneAndWarningsPassErrorsFail) {
  TempFolder folder;
  const fs::path good = folder.write("good.txt", kGood);
  const ProgramRun clean = run(tool() + " check " + quote(good));
  EXPECT_EQ(clean.exitCode, 0) << clean.output;
  // Notes only (registry/cardpath and friends are not set): they do not fail, not even
  // with --werror.
  EXPECT_NE(clean.output.find("note:"), std::string::npos) << clean.output;
  EXPECT_EQ(clean.output.find("warning:"), std::string::npos) << clean.output;
  EXPECT_EQ(run(tool() + " check --werror " + quote(good)).exitCode, 0);

  const fs::path warned =
      folder.write("warned.txt", std::string(kGood) + "[install]\r\ntitel = \"x\"\r\n");
  const ProgramRun warning = run(tool() + " check " + quote(warned));
  EXPECT_EQ(warning.exitCode, 0) << warning.output;
  EXPECT_NE(warning.output.find("warned.txt:32:1: warning: the installer never reads "
                                "'install/titel'; did you mean 'install/title'? [unknown-key]"),
            std::string::npos)
      << warning.output;
  EXPECT_EQ(run(tool() + " check --werror " + quote(warned)).exitCode, 1);

  const fs::path broken = folder.write("broken.txt", "[common]\r\nbrand = Atlas\r\n");
  const ProgramRun error = run(tool() + " check " + quote(broken));
  EXPECT_EQ(error.exitCode, 1) << error.output;
  EXPECT_NE(error.output.find("broken.txt:2:9: error: value is not in double quotes"),
            std::string::npos)
      << error.output;
}

TEST(CheckCommand, JsonListsEveryFinding) {
  TempFolder folder;
  const fs::path file = folder.write("broken.txt", "[common]\r\nbrand = Atlas\r\n");
  const ProgramRun result = run(tool() + " check --json " + quote(file) + " 2>/dev/null");
  EXPECT_EQ(result.exitCode, 1);
  const nlohmann::json findings = nlohmann::json::parse(result.output, nullptr, false);
  ASSERT_TRUE(findings.is_array()) << result.output;
  ASSERT_FALSE(findings.empty());
  bool unquoted = false;
  for (const nlohmann::json& finding : findings) {
    for (const char* field : {"file", "line", "column", "severity", "message", "rule"}) {
      EXPECT_TRUE(finding.contains(field)) << finding.dump();
    }
    if (finding["rule"] == "unquoted-value") {
      unquoted = true;
      EXPECT_EQ(finding["line"], 2);
      EXPECT_EQ(finding["column"], 9);
      EXPECT_EQ(finding["severity"], "error");
    }
  }
  EXPECT_TRUE(unquoted) << result.output;
}

TEST(CheckCommand, EncipheredFileWithItsKeyAndUnreadableInput) {
  TempFolder folder;
  const std::vector<std::uint8_t> bytes =
      host::encipherConfigurationText(host::decodeConfigurationSource(kGood), "KEY20240101000000");
  const fs::path file = folder.write("autorun_8.qlm", std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(run(tool() + " check --key KEY20240101000000 " + quote(file)).exitCode, 0);
  const ProgramRun wrongKey = run(tool() + " check --key XYZ20240101000000 " + quote(file));
  EXPECT_EQ(wrongKey.exitCode, 1);
  EXPECT_NE(wrongKey.output.find("[not-a-configuration]"), std::string::npos) << wrongKey.output;

  EXPECT_EQ(run(tool() + " check " + quote(folder.path() / "missing.txt")).exitCode, 2);
  EXPECT_EQ(
      run(tool() + " check --card " + quote(folder.path() / "nocard") + " " + quote(file)).exitCode,
      2);
}

// Control characters from the file never reach the terminal raw, and a report that cannot be
// written fails the command.
TEST(CheckCommand, ReportsAreSafeAndTheirFailureCounts) {
  TempFolder folder;
  const fs::path file = folder.write(
      "escape.txt", std::string(kGood) + "[install]\r\nti\x1b]0;owned\x07tle = \"x\"\r\n");
  const ProgramRun result = run(tool() + " check " + quote(file));
  EXPECT_EQ(result.output.find('\x1b'), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find('\x07'), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("\\x1B]0;owned\\x07"), std::string::npos) << result.output;
  const fs::path good = folder.write("good.txt", kGood);
  EXPECT_EQ(run(tool() + " check " + quote(good) + " >/dev/full").exitCode, 2);
  EXPECT_EQ(run(tool() + " check --json " + quote(good) + " >/dev/full").exitCode, 2);
}

// plan: the installer's own run on a scratch device, each copy with its real size; the card
// itself is only read.
TEST(PlanCommand, ListsTheInstallationAndTheUninstallation) {
  TempFolder folder;
  const fs::path config = folder.write("config.txt", kGood);
  folder.write("card/A/a.exe", std::string(1234, 'x'));
  folder.write("card/2577/autorun.exe", "MZ");
  const ProgramRun result =
      run(tool() + " plan --json " + quote(config) + " --card " + quote(folder.path() / "card"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const nlohmann::json plan = nlohmann::json::parse(result.output, nullptr, false);
  ASSERT_TRUE(plan.is_object()) << result.output;
  EXPECT_EQ(plan["install"]["bytes"], 1234);
  bool copied = false;
  for (const nlohmann::json& step : plan["install"]["steps"]) {
    if (step["op"] == "copy_file") {
      copied = true;
      EXPECT_EQ(step["destination"], "\\Program Files\\A\\a.exe");
      EXPECT_EQ(step["size"], 1234);
      EXPECT_EQ(step["ok"], true);
    }
  }
  EXPECT_TRUE(copied) << result.output;
  EXPECT_EQ(plan["install"]["exit_code"], 0) << result.output;
  EXPECT_EQ(plan["uninstall"]["installed_after"], false) << result.output;
  EXPECT_EQ(fs::file_size(folder.path() / "card/A/a.exe"), 1234u);
  EXPECT_EQ(
      run(tool() + " plan " + quote(config) + " --card " + quote(folder.path() / "none")).exitCode,
      2);
}

// build: a checked card, its files and the enciphered configuration, and its FAT32 image;
// a card with an error is not built.
TEST(BuildCommand, LaysOutACheckedCardAndItsImage) {
  TempFolder folder;
  const fs::path config = folder.write("config.txt", kGood);
  folder.write("files/A/a.exe", std::string(1234, 'x'));
  const fs::path installer = folder.write("autorun.exe", "MZ");
  const fs::path card = folder.path() / "card";
  const fs::path image = folder.path() / "card.img";
  const auto buildOf = [&](const fs::path& configuration) {
    return tool() + " build " + quote(configuration) + " --files " +
           quote(folder.path() / "files") + " --installer " + quote(installer);
  };
  const std::string command = buildOf(config);
  const bool fat =
      run("command -v mkfs.fat >/dev/null && command -v mdir >/dev/null").exitCode == 0;
  const ProgramRun built =
      run(command + " --out " + quote(card) + (fat ? " --image " + quote(image) : ""));
  ASSERT_EQ(built.exitCode, 0) << built.output;
  // The summary comes from an installation from the built card on a simulated device.
  EXPECT_NE(built.output.find("Installation on a fresh device (exit code 0): 1 files, 1234 bytes"),
            std::string::npos)
      << built.output;
  EXPECT_EQ(fs::file_size(card / "A/a.exe"), 1234u);
  EXPECT_EQ(fs::file_size(card / "2577/autorun.exe"), 2u);
  EXPECT_EQ(run(tool() + " check " + quote(card / "2577/autorun_8.qlm") + " --card " + quote(card))
                .exitCode,
            0);
  if (fat) {
    const ProgramRun listed = run("MTOOLS_SKIP_CHECK=1 mdir -/ -b -i " + quote(image) + " ::/");
    for (const char* name : {"::/A/a.exe", "::/2577/autorun.exe", "::/2577/autorun_8.qlm"}) {
      EXPECT_NE(listed.output.find(name), std::string::npos) << listed.output;
    }
  } else {
    std::printf("mkfs.fat or mdir missing: the image is not tried\n");
  }

  // A source the card does not hold: an error, and nothing is made.
  const fs::path broken =
      folder.write("broken.txt", std::string(kGood) +
                                     "[install_actions]\r\nsrc_2 = \"\\\\A\\\\b.exe\"\r\n"
                                     "dst_2 = \"%PROGRAM_FILES%\\\\A\\\\b.exe\"\r\n");
  const ProgramRun refused = run(buildOf(broken) + " --out " + quote(folder.path() / "card2"));
  EXPECT_EQ(refused.exitCode, 1) << refused.output;
  EXPECT_NE(refused.output.find("[card-src]"), std::string::npos) << refused.output;
  EXPECT_FALSE(fs::exists(folder.path() / "card2"));
  // An existing card is not written over.
  EXPECT_EQ(run(command + " --out " + quote(card)).exitCode, 1);
}

}  // namespace
}  // namespace autorun::testing
