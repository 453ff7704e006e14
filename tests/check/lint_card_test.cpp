// The checks against a card folder, answered by the installer's own code on a scratch
// simulated device: copy sources, the logo, the version stamp, installed files, the
// uninstallation.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "lint_test_support.h"

namespace autorun::testing {
namespace {

using host::Finding;

constexpr std::string_view kConfiguration = R"([common]
brand = "Atlas"
website = "example.com"
logo = "logo.bmp"
logo_width = "84"
logo_height = "100"
[navigation]
exe_parent = "PROGRAM_FILES"
exe_dir = "Atlas"
exe = "atlas.exe"
windowclass = "AtlasWnd"
windowname = "Atlas"
sd_dir = "Atlas"
[install]
title = "%s setup"
question = "Install %s?"
[reinstall]
question = "Reinstall %s?"
[update]
title = "%s update"
newer = "Newer. Update?"
older = "Older. Go back?"
[uninstall]
title = "%s removal"
question = "Remove %s?"
ready = "%s removed."
notinstalled = "%s is not installed."
[error]
freespace = "%s needs %s bytes."
running = "Close the program first."
[registry]
installed = "HKLM\\Software\\Atlas\\Installed"
cardpath = "HKLM\\Software\\Atlas\\CardPath"
autorun = "HKLM\\Software\\Atlas\\Autorun"
today_enabled = "HKLM\\Software\\Atlas\\Today"
today_enabled_save = "HKLM\\Software\\Atlas\\TodaySaved"
[upgrade]
application_dat = "\\Atlas\\atlas.exe"
application_exe = "%PROGRAM_FILES%\\Atlas\\atlas.exe"
[install_actions]
makedir_1 = "%PROGRAM_FILES%\\Atlas\\maps"
src_1 = "\\Atlas\\atlas.exe"
dst_1 = "%PROGRAM_FILES%\\Atlas\\atlas.exe"
src_2 = "\\Atlas\\maps"
dst_2 = "%PROGRAM_FILES%\\Atlas\\maps"
link_name_1 = "%PROGRAMS%\\Atlas.lnk"
link_prg_1 = "%PROGRAM_FILES%\\Atlas\\atlas.exe"
[uninstall_actions]
remove_reg_1 = "HKLM\\Software\\Atlas"
remove_dir_1 = "%PROGRAM_FILES%\\Atlas"
[card_insert_actions]
src_1 = "\\Atlas\\today\\*.dll"
dst_1 = "%WINDOWS%"
)";

class CardTest : public ::testing::Test {
 protected:
  CardTest() {
    card_.write("2577/autorun.exe", "MZ");
    card_.write("Atlas/logo.bmp", bitmap(84, 100));
    card_.write("Atlas/atlas.exe", std::string(600, 'M') + "\x01\x02\x03\x04");
    card_.write("Atlas/maps/europe.map", "map");
    card_.write("Atlas/maps/extra/roads.map", "map");
    card_.write("Atlas/today/atlastoday.dll", "dll");
  }

  std::vector<Finding> lint(std::string_view text = kConfiguration, bool onTheCard = true) const {
    host::LintOptions options;
    options.cardFolder = card_.path();
    std::string crlf;
    for (char c : text) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    // The card holds the text checked, as build or encode puts it there.
    const std::vector<std::uint8_t> file =
        host::encipherConfigurationText(host::decodeConfigurationSource(crlf), "");
    if (onTheCard) card_.write("2577/autorun_8.qlm", std::string(file.begin(), file.end()));
    return lintSource(crlf, options);
  }

  std::vector<Finding> lintReplacing(std::string_view from, std::string_view to) const {
    std::string text(kConfiguration);
    text.replace(text.find(from), from.size(), to);
    return lint(text);
  }

  TempFolder card_;
};

TEST_F(CardTest, CompleteCardHasNoFindings) {
  const std::vector<Finding> findings = lint();
  EXPECT_TRUE(findings.empty()) << describe(findings);
}

TEST_F(CardTest, NamesAreMatchedWithoutRegardToCase) {
  const std::vector<Finding> findings =
      lintReplacing("src_1 = \"\\\\Atlas\\\\atlas.exe\"", "src_1 = \"\\\\ATLAS\\\\Atlas.EXE\"");
  EXPECT_TRUE(findings.empty()) << describe(findings);
}

TEST_F(CardTest, MissingSourceAndPatternWithoutMatch) {
  std::filesystem::remove(card_.path() / "Atlas/atlas.exe");
  std::filesystem::remove(card_.path() / "Atlas/today/atlastoday.dll");
  const std::vector<Finding> findings = lint();
  std::vector<std::string> cardSources;
  for (const Finding& f : findings) {
    if (f.rule == "card-src") cardSources.push_back(f.message);
  }
  ASSERT_EQ(cardSources.size(), 2u) << describe(findings);
  EXPECT_NE(cardSources[0].find("does not exist"), std::string::npos);
  EXPECT_NE(cardSources[1].find("matches nothing"), std::string::npos);
  // The executable is also the card's copy for the version stamp.
  EXPECT_NE(findRule(findings, "card-version-stamp"), nullptr) << describe(findings);
}

TEST_F(CardTest, EmptyFoldersAreNotedAndTheWalkGoesOn) {
  // The copy makes an empty folder and goes on, so each one is a note, and one does not
  // hide the next.
  std::filesystem::create_directories(card_.path() / "Atlas/maps/a-empty");
  std::filesystem::create_directories(card_.path() / "Atlas/maps/z-empty");
  const std::vector<Finding> findings = lint();
  std::vector<const Finding*> empties;
  for (const Finding& finding : findings) {
    if (finding.rule == "card-empty-folder") empties.push_back(&finding);
  }
  ASSERT_EQ(empties.size(), 2u) << describe(findings);
  for (const Finding* empty : empties) {
    EXPECT_EQ(empty->severity, host::Severity::Note);
    EXPECT_NE(empty->message.find("copies nothing"), std::string::npos) << empty->message;
  }
}

TEST_F(CardTest, LogoProblems) {
  struct Case {
    std::string bytes;
    std::string rule;
    std::string says;
  };
  const Case cases[] = {
      {"", "card-logo", "not on the card"},
      {"GIF89a........................................................", "card-logo", "not a BMP"},
      {bitmap(241, 100), "card-logo", "241 x 100"},
      {bitmap(240, 101), "card-logo", "240 x 101"},
      {bitmap(80, 100), "logo-box", "not filled"},
      {bitmap(84, 90), "logo-box", "not filled"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(card_.path() / "Atlas/logo.bmp");
    if (!c.bytes.empty()) card_.write("Atlas/logo.bmp", c.bytes);
    const std::vector<Finding> findings = lint();
    ASSERT_EQ(rulesOf(findings), std::vector<std::string>{c.rule}) << describe(findings);
    EXPECT_NE(findings[0].message.find(c.says), std::string::npos) << findings[0].message;
  }
  // 240 x 100 is the largest logo drawn; a box smaller than the image cuts it.
  card_.write("Atlas/logo.bmp", bitmap(240, 100));
  const std::vector<Finding> findings = lint();
  ASSERT_EQ(rulesOf(findings), std::vector<std::string>{"logo-box"}) << describe(findings);
  EXPECT_NE(findings[0].message.find("cut off"), std::string::npos);
}

TEST_F(CardTest, VersionStampThatCannotBeRead) {
  card_.write("Atlas/atlas.exe", "MZ");
  const std::vector<Finding> findings = lint();
  ASSERT_EQ(rulesOf(findings), std::vector<std::string>{"card-version-stamp"})
      << describe(findings);
  EXPECT_NE(findings[0].message.find("cannot be read"), std::string::npos);
}

TEST_F(CardTest, ConfigurationNotInTheAutorunFolder) {
  std::filesystem::remove(card_.path() / "2577/autorun_8.qlm");
  const std::vector<Finding> findings = lint(kConfiguration, false);
  EXPECT_EQ(rulesOf(findings), std::vector<std::string>{"card-configuration"})
      << describe(findings);
}

// Each broken card: the rule it is reported under (an error: the device fails on it).
TEST_F(CardTest, BrokenCardsAreErrors) {
  struct Case {
    std::string what;
    std::string from, to;    // a change to the configuration
    std::string removeFile;  // a card file taken away
    std::string rule;
  };
  const Case cases[] = {
      {"no installer program", "", "", "2577/autorun.exe", "card-installer"},
      {"a link to a program no copy puts there",
       "link_prg_1 = \"%PROGRAM_FILES%\\\\Atlas\\\\atlas.exe\"",
       "link_prg_1 = \"%PROGRAM_FILES%\\\\Atlas\\\\atlas2.exe\"", "", "not-installed"},
      {"the upgrade's program is not installed",
       "application_exe = \"%PROGRAM_FILES%\\\\Atlas\\\\atlas.exe\"",
       "application_exe = \"%PROGRAM_FILES%\\\\Atlas\\\\nav.exe\"", "", "not-installed"},
      {"a DLL registered that is not installed", "[uninstall_actions]",
       "register_dll_1 = \"%PROGRAM_FILES%\\\\Atlas\\\\core.dll\"\n[uninstall_actions]", "",
       "not-installed"},
      {"two files copied onto one name", "dst_2 = \"%PROGRAM_FILES%\\\\Atlas\\\\maps\"",
       "dst_2 = \"%PROGRAM_FILES%\\\\Atlas\\\\maps\"\nsrc_3 = "
       "\"\\\\Atlas\\\\maps\\\\extra\\\\*.*\"\n"
       "dst_3 = \"%PROGRAM_FILES%\\\\bin\"\nsrc_4 = \"\\\\Atlas\\\\maps\\\\*.map\"\n"
       "dst_4 = \"%PROGRAM_FILES%\\\\bin\"",
       "", "copy-overwrite"},
      {"a copied path over 259 characters", "dst_2 = \"%PROGRAM_FILES%\\\\Atlas\\\\maps\"",
       "dst_2 = \"%PROGRAM_FILES%\\\\Atlas\\\\" + std::string(240, 'm') + "\"", "",
       "path-too-long"},
      {"a folder copy into a folder nobody makes",
       "makedir_1 = \"%PROGRAM_FILES%\\\\Atlas\\\\maps\"\n", "", "", "install-fails"},
      {"the uninstallation keeps the installed mark",
       "remove_reg_1 = \"HKLM\\\\Software\\\\Atlas\"",
       "remove_reg_1 = \"HKLM\\\\Software\\\\Other\"", "", "uninstall-keeps-installed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text(kConfiguration);
    if (!c.from.empty()) {
      ASSERT_NE(text.find(c.from), std::string::npos) << c.from;
      text.replace(text.find(c.from), c.from.size(), c.to);
    }
    if (!c.removeFile.empty()) std::filesystem::remove(card_.path() / c.removeFile);
    const std::vector<Finding> findings = lint(text);
    if (!c.removeFile.empty()) card_.write(c.removeFile, "MZ");
    const Finding* finding = findRule(findings, c.rule);
    ASSERT_NE(finding, nullptr) << describe(findings);
    EXPECT_EQ(finding->severity, host::Severity::Error) << finding->message;
    if (c.removeFile.empty()) {
      EXPECT_GT(finding->line, 1) << finding->message;
    }
  }
}

// The card's own configuration file is what the installer reads: it must be enciphered and
// hold the text checked.
TEST_F(CardTest, TheCardsConfigurationFileMustBeTheOneChecked) {
  host::LintOptions options;
  options.cardFolder = card_.path();
  const std::string text = "[common]\r\nbrand = \"A\"\r\n";
  struct Case {
    std::string onCard;
    std::string rule;
  };
  const std::vector<std::uint8_t> other =
      host::encipherConfigurationText(u"[common]\r\nbrand = \"B\"\r\n", "");
  const Case cases[] = {
      {text, "card-configuration"},  // plain text: not enciphered
      {std::string(other.begin(), other.end()), "card-configuration-stale"},
  };
  for (const Case& c : cases) {
    card_.write("2577/autorun_8.qlm", c.onCard);
    const std::vector<Finding> findings = lintSource(text, options);
    const Finding* finding = findRule(findings, c.rule);
    ASSERT_NE(finding, nullptr) << c.rule << "\n" << describe(findings);
    EXPECT_EQ(finding->severity, host::Severity::Error);
  }
}

// The installer's own wildcard matching: "atlas.*" matches a file named "atlas".
TEST_F(CardTest, PatternsMatchAsTheInstallerMatchesThem) {
  std::filesystem::remove(card_.path() / "Atlas/today/atlastoday.dll");
  card_.write("Atlas/today/atlas", "dll");
  const std::vector<Finding> findings = lintReplacing("today\\\\*.dll", "today\\\\atlas.*");
  EXPECT_TRUE(findings.empty()) << describe(findings);
}

}  // namespace
}  // namespace autorun::testing
