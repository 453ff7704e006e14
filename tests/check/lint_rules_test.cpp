// Each rule of the checker on a small configuration that breaks it, and a clean
// configuration that breaks none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lint_test_support.h"

namespace autorun::testing {
namespace {

using host::Finding;
using host::Severity;

// A small configuration that every flow can run with, free of findings.
constexpr std::string_view kClean = R"([common]
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
[install_actions]
makedir_1 = "%PROGRAM_FILES%\\Atlas"
makedir_2 = "%PROGRAM_FILES%\\Atlas\\data"
src_1 = "\\Atlas\\atlas.exe"
dst_1 = "%PROGRAM_FILES%\\Atlas"
reg_key_1 = "HKLM\\Software\\Atlas\\Version"
reg_dw_value_1 = "3"
link_name_1 = "%PROGRAMS%\\Atlas.lnk"
link_prg_1 = "%PROGRAM_FILES%\\Atlas\\atlas.exe"
[uninstall_actions]
remove_reg_1 = "HKLM\\Software\\Atlas"
remove_link_1 = "%PROGRAMS%\\Atlas.lnk"
remove_dir_1 = "%PROGRAM_FILES%\\Atlas"
[upgrade]
backup_dw_1 = "HKCU\\Software\\Atlas\\Volume"
backup_str_2 = "HKCU\\Software\\Atlas\\Map"
)";

// Line ends as the installer reads them, so that only the case's own mistake shows.
std::string withCrLf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// A destination of 260 characters once %PROGRAM_FILES% is "\Program Files".
const std::string kLongDestination = "dst_1 = \"%PROGRAM_FILES%\\\\" + std::string(245, 'a') + "\"";

struct RuleCase {
  const char* name;
  std::string_view from;  // replaced in the clean configuration (first occurrence)
  std::string_view to;
  std::vector<std::string> rules;  // every finding expected, sorted
  std::string_view at;             // the first rule's finding is on the line of this text
  std::string_view says = "";      // and its message holds this
};

void PrintTo(const RuleCase& c, std::ostream* out) {
  *out << c.name;
}

std::string applyCase(const RuleCase& c) {
  std::string text(kClean);
  const std::size_t at = text.find(c.from);
  if (at == std::string::npos) return {};
  text.replace(at, c.from.size(), c.to);
  return text;
}

const RuleCase kCases[] = {
    // Lines the parser skips.
    {"EntryName",
     "[install]\n",
     "[install]\nbad-name = \"x\"\n",
     {"entry-name"},
     "bad-name",
     "holds '-'"},
    {"EntryNameWithSection",
     "[install]\n",
     "[install]\ninstall/title = \"x\"\n",
     {"entry-name"},
     "install/title =",
     "section's header"},
    {"UnquotedValue",
     "logo_width = \"84\"",
     "logo_width = 84",
     {"unquoted-value", "logo-box"},
     "logo_width",
     "not in double quotes"},
    {"OneQuote",
     "logo_width = \"84\"",
     "logo_width = \"84",
     {"unquoted-value", "logo-box"},
     "logo_width",
     "only one"},
    {"SectionName",
     "[upgrade]\n",
     "[upgrade]\n[bad name]\n",
     {"section-name"},
     "[bad name]",
     "stay in section 'upgrade'"},
    {"SectionNameSpaces",
     "[upgrade]\n",
     "[upgrade]\n[ other ]\n",
     {"section-name"},
     "[ other ]",
     "write '[other]'"},
    {"SectionUnclosed",
     "[upgrade]\n",
     "[upgrade]\n[other\n",
     {"section-unclosed"},
     "[other",
     "no effect"},
    {"IndentedHeader",
     "[upgrade]\n",
     "[upgrade]\n  [other]\n",
     {"indented-header"},
     "  [other]",
     "first column"},
    {"IndentedComment",
     "[upgrade]\n",
     "[upgrade]\n  ; note = \"x\"\n",
     {"indented-comment"},
     "; note"},
    {"NoEquals", "[upgrade]\n", "[upgrade]\njust words\n", {"no-equals"}, "just words"},
    {"HeaderTrailingText",
     "[install]\n",
     "[install] stray\n",
     {"header-trailing-text"},
     "[install]"},
    {"SectionParent",
     "[reinstall]\n",
     "[reinstall:bad name]\n",
     {"section-parent"},
     "[reinstall:",
     "global entries"},
    {"SectionParentEmpty",
     "[reinstall]\n",
     "[reinstall:instal]\n",
     {"section-parent-empty"},
     "[reinstall:",
     "did you mean 'install'"},
    {"SectionParentIgnored",
     "[upgrade]\n",
     "[upgrade]\n[:install]\n[upgrade]\n",
     {"section-parent-ignored"},
     "[:install]"},
    {"TextOutsideQuotes",
     "running = \"Close",
     "running = x\"Close",
     {"text-outside-quotes"},
     "running ="},
    {"QuoteInValue",
     "running = \"Close the program first.\"",
     "running = \"Close the program first.\" ; see \"help\"",
     {"quote-in-value"},
     "running =",
     "comment"},
    {"DuplicateEntry",
     "website = \"example.com\"\n",
     "website = \"example.com\"\nbrand = \"Other\"\n",
     {"duplicate-entry"},
     "brand = \"Other\"",
     "line 2"},
    {"EmptyName", "[install]\n", "[install]\n= \"x\"\n", {"empty-name"}, "= \"x\""},
    {"GlobalBeforeHeader",
     "[common]\n",
     "helper = \"x\"\n[common]\n",
     {"global-before-header"},
     "helper"},
    // References.
    {"ReferenceBelow",
     "title = \"%s setup\"",
     "title = \"%s ${word}\"\nword = \"setup\"",
     {"reference-undefined", "unknown-key"},
     "${word}",
     "further down"},
    {"ReferenceMissing",
     "title = \"%s setup\"",
     "title = \"%s ${common/brnd}\"",
     {"reference-undefined"},
     "${common",
     "did you mean '${common/brand}'"},
    // Two references agree on a name; the entry they mean is the misspelling.
    {"ReferenceEntryMisspelled",
     "title = \"%s setup\"",
     "title = \"%s ${steup}\"\nsetpu = \"setup\"\nx = \"${steup}\"",
     {"reference-undefined", "reference-undefined", "unknown-key", "unknown-key"},
     "${steup}",
     "looks like a misspelling of it"},
    {"ReferenceGlobal",
     "[common]\n",
     "[]\nname = \"Atlas\"\n[common]\nsite = \"${name}\"\n",
     {"reference-global", "unknown-key"},
     "${name}",
     "'${/name}'"},
    {"ReferenceUnfinished",
     "title = \"%s setup\"",
     "title = \"%s setup ${oops\"",
     {"reference-unfinished"},
     "${oops"},
    // What the installer needs.
    {"MissingBrand", "brand = \"Atlas\"\n", "", {"missing-required"}, "[common]", "code 3"},
    {"MissingWebsite",
     "website = \"example.com\"\n",
     "",
     {"missing-required"},
     "[common]",
     "common/website"},
    {"BrandPlaceholder",
     "question = \"Install %s?\"",
     "question = \"Install now?\"",
     {"brand-placeholder"},
     "question = \"Install now"},
    {"FreespacePlaceholders",
     "freespace = \"%s needs %s bytes.\"",
     "freespace = \"%s needs %d bytes.\"",
     {"freespace-placeholders"},
     "freespace",
     "not '%d'"},
    {"PlaceholderUnfilled",
     "running = \"Close the program first.\"",
     "running = \"Close %s first.\"",
     {"placeholder-unfilled"},
     "running",
     "never filled"},
    {"SecondBrandPlaceholder",
     "question = \"Install %s?\"",
     "question = \"Install %s (%s)?\"",
     {"placeholder-unfilled"},
     "question",
     "only the first"},
    {"MissingKey",
     "running = \"Close the program first.\"\n",
     "",
     {"missing-key"},
     "[error]",
     "error/running"},
    {"LogoBox", "logo_width = \"84\"\n", "", {"logo-box"}, "logo =", "logo_width"},
    // Action lists.
    {"Gap", "makedir_2", "makedir_3", {"action-gap"}, "makedir_3", "makedir_2' is missing"},
    {"LeadingZero", "makedir_2", "makedir_02", {"action-number"}, "makedir_02"},
    {"Unnumbered", "makedir_2", "makedir", {"action-number"}, "makedir ="},
    {"CompanionWithoutLead",
     "[uninstall_actions]\n",
     "dst_5 = \"\\\\Windows\"\n[uninstall_actions]\n",
     {"action-companion"},
     "dst_5",
     "src_5"},
    {"LeadWithoutCompanion",
     "link_prg_1 = \"%PROGRAM_FILES%\\\\Atlas\\\\atlas.exe\"\n",
     "",
     {"action-missing-companion"},
     "link_name_1"},
    {"BothRegistryCompanions",
     "reg_dw_value_1 = \"3\"\n",
     "reg_dw_value_1 = \"3\"\nreg_str_value_1 = \"x\"\n",
     {"action-companion-conflict"},
     "reg_str_value_1"},
    {"KindUnused",
     "[uninstall_actions]\n",
     "remove_file_1 = \"\\\\Windows\\\\a.txt\"\n[uninstall_actions]\n",
     {"action-kind-unused"},
     "remove_file_1",
     "'uninstall_actions'"},
    {"KindUnknown",
     "makedir_2",
     "make_dir_2",
     {"action-kind-unknown"},
     "make_dir_2",
     "did you mean 'makedir'"},
    {"ListUnknown",
     "[uninstall_actions]",
     "[uninstall_action]",
     {"action-list-unknown", "missing-list"},
     "[uninstall_action]",
     "did you mean 'uninstall_actions'"},
    {"BackupNumbering",
     "backup_str_2",
     "backup_str_1",
     {"backup-numbering"},
     "backup_str_1",
     "backup_str_2"},
    // Values.
    {"PathEscape",
     "dst_1 = \"%PROGRAM_FILES%\\\\Atlas\"",
     "dst_1 = \"%PROGRAM_FILES%\\navi\"",
     {"path-escape"},
     "dst_1",
     "'\\\\n'"},
    {"VariableUnknown",
     "makedir_1 = \"%PROGRAM_FILES%",
     "makedir_1 = \"%PROGRAMFILES%",
     {"folder-variable-unknown"},
     "makedir_1",
     "did you mean '%PROGRAM_FILES%'"},
    {"VariableHidden",
     "link_name_1 = \"%PROGRAMS%",
     "link_name_1 = \"100%\\\\%PROGRAMS%",
     {"folder-variable-hidden"},
     "link_name_1",
     "'100%"},
    {"VariableOrder",
     "link_prg_1 = \"%PROGRAM_FILES%\\\\Atlas\\\\atlas.exe\"",
     "link_prg_1 = \"%SDCARD%\\\\a;%PROGRAMS%\\\\b\"",
     {"folder-variable-order"},
     "link_prg_1",
     "PROGRAMS"},
    {"RegistryRootCase",
     "installed = \"HKLM",
     "installed = \"hklm",
     {"registry-root"},
     "= \"hklm",
     "write 'HKLM'"},
    {"RegistryRootLong",
     "installed = \"HKLM",
     "installed = \"HKEY_LOCAL_MACHINE",
     {"registry-root"},
     "= \"HKEY",
     "write 'HKLM'"},
    {"RegistryRootUnknown",
     "installed = \"HKLM",
     "installed = \"HKLN",
     {"registry-root"},
     "= \"HKLN",
     "did you mean 'HKLM'"},
    {"RegistryValueName",
     "cardpath = \"HKLM\\\\Software\\\\Atlas\\\\CardPath\"",
     "cardpath = \"HKLM\\\\Software\"",
     {"registry-value-name"},
     "cardpath",
     "no value name"},
    {"RegistryEmpty",
     "cardpath = \"HKLM\\\\Software\\\\Atlas\\\\CardPath\"",
     "cardpath = \"\"",
     {"registry-location"},
     "cardpath"},
    {"RemoveRegBackslash",
     "remove_reg_1 = \"HKLM\\\\Software\\\\Atlas\"",
     "remove_reg_1 = \"HKLM\\\\Software\\\\Atlas\\\\\"",
     {"remove-reg-trailing-backslash"},
     "remove_reg_1",
     "'Atlas'"},
    {"PathTooLong",
     "dst_1 = \"%PROGRAM_FILES%\\\\Atlas\"",
     kLongDestination,
     {"path-too-long"},
     "dst_1",
     "260 characters"},
    {"ExeParentCase",
     "exe_parent = \"PROGRAM_FILES\"",
     "exe_parent = \"Program_Files\"",
     {"exe-parent"},
     "exe_parent",
     "write 'PROGRAM_FILES'"},
    {"ExeParentPercent",
     "exe_parent = \"PROGRAM_FILES\"",
     "exe_parent = \"%PROGRAM_FILES%\"",
     {"exe-parent"},
     "exe_parent",
     "without percent signs"},
    {"ExeParentOther",
     "exe_parent = \"PROGRAM_FILES\"",
     "exe_parent = \"SDCARD\"",
     {"exe-parent"},
     "exe_parent",
     "'\\Atlas\\atlas.exe'"},
    {"ExeParentMissing", "exe_parent = \"PROGRAM_FILES\"\n", "", {"exe-parent"}, "[navigation]"},
    {"HexNumber",
     "reg_dw_value_1 = \"3\"",
     "reg_dw_value_1 = \"0x10\"",
     {"number"},
     "reg_dw_value_1",
     "write the decimal \"16\""},
    {"NotANumber",
     "logo_height = \"100\"",
     "logo_height = \"tall\"",
     {"logo-box", "number"},
     "logo_height"},
    {"Wildcard",
     "makedir_2 = \"%PROGRAM_FILES%\\\\Atlas\\\\data\"",
     "makedir_2 = \"%PROGRAM_FILES%\\\\Atlas\\\\*\"",
     {"wildcard"},
     "makedir_2"},
    {"RemoveDirSystemFolder",
     "remove_dir_1 = \"%PROGRAM_FILES%\\\\Atlas\"",
     "remove_dir_1 = \"%WINDOWS%\"",
     {"sweeping-removal"},
     "remove_dir_1",
     "\\Windows"},
    {"RemoveDirRoot",
     "remove_dir_1 = \"%PROGRAM_FILES%\\\\Atlas\"",
     "remove_dir_1 = \"\"",
     {"sweeping-removal"},
     "remove_dir_1",
     "every file on the device"},
    {"CardRelative",
     "src_1 = \"\\\\Atlas",
     "src_1 = \"Atlas",
     {"card-relative"},
     "src_1",
     "'\\Atlas\\atlas.exe'"},
    // Keys and sections nothing reads.
    {"UnknownKey",
     "title = \"%s setup\"",
     "title = \"%s setup\"\ntitel = \"x\"",
     {"unknown-key"},
     "titel",
     "did you mean 'install/title'"},
    {"UnknownSection",
     "[upgrade]\n",
     "[instal]\nx = \"1\"\n[upgrade]\n",
     {"unknown-section"},
     "[instal]",
     "did you mean 'install'"},
};

class RuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, FindsTheMistakeAndNothingElse) {
  const RuleCase& c = GetParam();
  const std::string text = applyCase(c);
  ASSERT_FALSE(text.empty()) << "the case's text to replace is not in the clean configuration";
  const std::vector<Finding> findings = lintSource(withCrLf(text));
  std::vector<std::string> expected = c.rules;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(rulesOf(findings), expected) << describe(findings);

  const Finding* finding = findRule(findings, c.rules.front());
  ASSERT_NE(finding, nullptr);
  EXPECT_EQ(finding->line, lineOf(text, c.at)) << host::formatFinding(*finding);
  EXPECT_NE(finding->message.find(c.says), std::string::npos) << host::formatFinding(*finding);
}

INSTANTIATE_TEST_SUITE_P(Rules, RuleTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RuleCase>& param) {
                           return std::string(param.param.name);
                         });

TEST(CleanConfiguration, HasNoFindings) {
  const std::vector<Finding> findings = lintSource(withCrLf(kClean));
  EXPECT_TRUE(findings.empty()) << describe(findings);
}

TEST(Severity, ErrorsFailAndWarningsFailOnlyWhenAsked) {
  const std::vector<Finding> warning = {Finding{"f", 1, 1, Severity::Warning, "m", "r"}};
  const std::vector<Finding> note = {Finding{"f", 1, 1, Severity::Note, "m", "r"}};
  const std::vector<Finding> error = {Finding{"f", 1, 1, Severity::Error, "m", "r"}};
  EXPECT_FALSE(host::findingsFail(warning, false));
  EXPECT_TRUE(host::findingsFail(warning, true));
  EXPECT_FALSE(host::findingsFail(note, true));
  EXPECT_TRUE(host::findingsFail(error, false));
  EXPECT_EQ(host::formatFinding(Finding{"a.txt", 3, 7, Severity::Warning, "text", "rule-x"}),
            "a.txt:3:7: warning: text [rule-x]");
}

}  // namespace
}  // namespace autorun::testing
