// The checker on whole texts: line ends, the two file forms, positions, and the replay
// of the text line by line against the installer's own parse.
#include <gtest/gtest.h>

#include <string>

#include "common/config_text.h"
#include "host_text/utf.h"
#include "lint_test_support.h"

namespace autorun::testing {
namespace {

using host::Finding;
using host::Severity;

constexpr std::string_view kMinimal = "[common]\nbrand = \"Atlas\"\nwebsite = \"example.com\"\n";

TEST(LineEnds, EncipheredTextWithLineFeedsAloneIsOneLine) {
  const std::vector<Finding> findings = lintEnciphered(host::fromUtf8(kMinimal));
  const Finding* lf = findRule(findings, "line-feed-only");
  ASSERT_NE(lf, nullptr) << describe(findings);
  EXPECT_EQ(lf->severity, Severity::Error);
  EXPECT_EQ(lf->line, 1);
  EXPECT_EQ(lf->column, 9);
  EXPECT_NE(lf->message.find("whole text as one line"), std::string::npos);
  // Only the line end is blamed, not what follows the header on the joined line.
  EXPECT_EQ(findRule(findings, "header-trailing-text"), nullptr) << describe(findings);
  // The cause comes first, before its knock-on findings further down the text.
  EXPECT_EQ(findings.front().rule, "line-feed-only") << describe(findings);
  // The installer then holds nothing: brand and website are missing.
  EXPECT_EQ(std::count_if(findings.begin(), findings.end(),
                          [](const Finding& f) { return f.rule == "missing-required"; }),
            2)
      << describe(findings);
}

TEST(LineEnds, OneLineFeedAloneJoinsTwoLines) {
  const std::vector<Finding> findings =
      lintEnciphered(u"[common]\r\nbrand = \"Atlas\"\nwebsite = \"example.com\"\r\n");
  const Finding* lf = findRule(findings, "line-feed-only");
  ASSERT_NE(lf, nullptr) << describe(findings);
  EXPECT_EQ(lf->line, 2);
  EXPECT_NE(lf->message.find("lines 2 to 3 as one line"), std::string::npos) << lf->message;
}

TEST(LineEnds, PlainSourceWithLineFeedsGetsANoteOnly) {
  const std::vector<Finding> findings = lintSource(kMinimal);
  const Finding* lf = findRule(findings, "line-feed-only");
  ASSERT_NE(lf, nullptr) << describe(findings);
  EXPECT_EQ(lf->severity, Severity::Note);
  EXPECT_EQ(findRule(findings, "missing-required"), nullptr) << describe(findings);
}

TEST(LineEnds, CarriageReturnAloneLosesTheNextCharacter) {
  // "b" of "brand" is skipped after the lone CR, leaving an entry named "rand".
  const std::vector<Finding> findings =
      lintEnciphered(u"[common]\rbrand = \"Atlas\"\r\nwebsite = \"example.com\"\r\n");
  const Finding* cr = findRule(findings, "lone-carriage-return");
  ASSERT_NE(cr, nullptr) << describe(findings);
  EXPECT_EQ(cr->line, 2);
  EXPECT_EQ(cr->column, 1);
  EXPECT_NE(cr->message.find("'b' is lost"), std::string::npos) << cr->message;
  EXPECT_NE(findRule(findings, "missing-required"), nullptr) << describe(findings);
}

TEST(LineEnds, NulEndsTheText) {
  std::u16string text = u"[common]\r\nbrand = \"Atlas\"\r\n";
  text.push_back(u'\0');
  text += u"website = \"example.com\"\r\n";
  const std::vector<Finding> findings = lintEnciphered(text);
  const Finding* nul = findRule(findings, "text-ends-at-nul");
  ASSERT_NE(nul, nullptr) << describe(findings);
  EXPECT_EQ(nul->line, 3);
  const Finding* missing = findRule(findings, "missing-required");
  ASSERT_NE(missing, nullptr);
  EXPECT_NE(missing->message.find("common/website"), std::string::npos);
}

TEST(Files, EncipheredFileIsReadWithTheKey) {
  TempFolder folder;
  const std::string key = "ABC20240101000000";
  const std::u16string text = u"[common]\r\nbrand = \"Atlas\"\r\n";
  const std::vector<std::uint8_t> bytes = host::encipherConfigurationText(text, key);
  const auto file = folder.write("autorun_8.qlm", std::string(bytes.begin(), bytes.end()));

  std::string error;
  const auto read = host::readConfigurationForLint(file, key, error);
  ASSERT_TRUE(read.has_value()) << error;
  EXPECT_TRUE(read->recognised);
  EXPECT_EQ(read->input.form, host::SourceForm::Enciphered);
  EXPECT_EQ(read->input.text, text);
  const std::vector<Finding> findings = host::lintConfigurationFile(*read, {});
  const Finding* missing = findRule(findings, "missing-required");
  ASSERT_NE(missing, nullptr) << describe(findings);
  EXPECT_NE(missing->message.find("common/website"), std::string::npos);

  // Under another key the file is no configuration at all.
  const auto other = host::readConfigurationForLint(file, "XYZ20240101000000", error);
  ASSERT_TRUE(other.has_value());
  EXPECT_FALSE(other->recognised);
  EXPECT_EQ(rulesOf(host::lintConfigurationFile(*other, {})),
            std::vector<std::string>{"not-a-configuration"});
}

// Files the installer cannot read as they are: each is named by its cause, first, with the
// position that shows it.
TEST(Files, UnreadableFormsAreNamedFirst) {
  struct Case {
    std::string name;
    std::string bytes;
    std::string rule;
    int line, column;
    std::string says;
  };
  const Case cases[] = {
      {"latin.txt", "[common]\r\nbrand = \"Caf\xE9\"\r\nwebsite = \"w\"\r\n", "not-utf8", 2, 13,
       "0xE9"},
      {"autorun_8.qlm", std::string(kMinimal), "not-enciphered", 1, 1, "plain text"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    const std::filesystem::path file = folder.write(c.name, c.bytes);
    std::string error;
    const auto read = host::readConfigurationForLint(file, "", error);
    ASSERT_TRUE(read) << error;
    const std::vector<Finding> findings = host::lintConfigurationFile(*read, {});
    ASSERT_FALSE(findings.empty()) << c.name;
    EXPECT_EQ(findings.front().rule, c.rule) << describe(findings);
    EXPECT_EQ(findings.front().severity, Severity::Error);
    EXPECT_EQ(findings.front().line, c.line) << findings.front().message;
    EXPECT_EQ(findings.front().column, c.column) << findings.front().message;
    EXPECT_NE(findings.front().message.find(c.says), std::string::npos) << findings.front().message;
  }
}

TEST(Files, MissingFileIsAnError) {
  std::string error;
  EXPECT_FALSE(host::readConfigurationForLint("/nonexistent/autorun.txt", "", error));
  EXPECT_FALSE(error.empty());
}

TEST(Files, SizeCountsTheEncipheredForm) {
  // 49998 code units after the mark make 100000 bytes: the largest file the installer takes.
  const std::string fill = "; " + std::string(40, 'x') + "\r\n";
  std::string source = "[common]\r\nbrand = \"Atlas\"\r\nwebsite = \"example.com\"\r\n";
  while (source.size() + fill.size() <= 49999) source += fill;
  source += std::string(49999 - source.size(), ';');
  EXPECT_EQ(findRule(lintSource(source), "file-too-large"), nullptr);
  source += ";";
  const std::vector<Finding> findings = lintSource(source);
  const Finding* size = findRule(findings, "file-too-large");
  ASSERT_NE(size, nullptr) << describe(findings);
  EXPECT_NE(size->message.find("100002 bytes"), std::string::npos) << size->message;
}

TEST(Positions, ColumnsCountCharactersNotCodeUnits) {
  // U+1F600 takes two UTF-16 code units but is one character.
  const std::vector<Finding> findings = lintSource(
      "[common]\r\nbrand = \"Atlas\"\r\nwebsite = \"x\"\r\n[install_actions]\r\n"
      "makedir_1 = \"\xF0\x9F\x98\x80\\new\"\r\n");
  const Finding* escape = findRule(findings, "path-escape");
  ASSERT_NE(escape, nullptr) << describe(findings);
  EXPECT_EQ(escape->line, 5);
  EXPECT_EQ(escape->column, 15);
}

TEST(Positions, EscapesMapBackToTheSource) {
  const std::vector<Finding> findings = lintSource(
      "[common]\r\nbrand = \"Atlas\"\r\nwebsite = \"x\"\r\n[install_actions]\r\n"
      "makedir_1 = \"\\\\a\\\\b\\new\"\r\n");
  const Finding* escape = findRule(findings, "path-escape");
  ASSERT_NE(escape, nullptr) << describe(findings);
  EXPECT_EQ(escape->line, 5);
  EXPECT_EQ(escape->column, 20);  // the backslash of "\n"
}

TEST(Replay, HeaderThatRunsOverLinesActsAsTheParserSays) {
  // "[abc:def" has no "]" on its line: the header text runs to the "]" two lines down,
  // so the name is abc and the parent (holding line ends) stands for the global section.
  const std::vector<Finding> findings = lintSource(
      "[common]\r\nbrand = \"Atlas\"\r\nwebsite = \"x\"\r\n[abc:def\r\nvalue = \"1\"\r\n]\r\n");
  const Finding* unclosed = findRule(findings, "section-unclosed");
  ASSERT_NE(unclosed, nullptr) << describe(findings);
  EXPECT_NE(unclosed->message.find("on line 6"), std::string::npos) << unclosed->message;
  EXPECT_NE(unclosed->message.find("section 'abc'"), std::string::npos) << unclosed->message;
}

TEST(Replay, ReferenceSeesOnlyTheLinesAbove) {
  const std::vector<Finding> findings = lintSource(
      "[common]\r\nbrand = \"${later/x}\"\r\nwebsite = \"x\"\r\n[later]\r\nx = \"1\"\r\n"
      "[again]\r\ny = \"${later/x}\"\r\n");
  std::vector<const Finding*> references;
  for (const Finding& f : findings) {
    if (f.rule == "reference-undefined") references.push_back(&f);
  }
  ASSERT_EQ(references.size(), 1u) << describe(findings);
  EXPECT_EQ(references[0]->line, 2);
  EXPECT_NE(references[0]->message.find("(line 5)"), std::string::npos);
}

TEST(Replay, SectionCopiesAreNotReportedAsUnread) {
  // The update texts start as copies of the install texts; install/question copied to
  // update/question is read by nobody, but it is the copy's doing, not a mistake.
  const std::vector<Finding> findings = lintSource(
      "[common]\r\nbrand = \"Atlas\"\r\nwebsite = \"x\"\r\n[install]\r\ntitle = \"%s setup\"\r\n"
      "question = \"Install %s?\"\r\n[update:install]\r\ntitle = \"%s update\"\r\n");
  EXPECT_EQ(findRule(findings, "unknown-key"), nullptr) << describe(findings);
  EXPECT_EQ(findRule(findings, "duplicate-entry"), nullptr) << describe(findings);
}

}  // namespace
}  // namespace autorun::testing
