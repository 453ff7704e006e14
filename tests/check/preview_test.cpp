// `autorun-sim preview` on device images: pictures at the client size that show the
// configured texts, buttons, logo and progress.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "lint_test_support.h"
#include "support/device_image.h"

namespace autorun::testing {
namespace {

namespace fs = std::filesystem;

// Answers from tests/check/data/png_probe.py, one per question.
std::vector<std::string> probe(const fs::path& png, const std::string& questions) {
  const ProgramRun result =
      run("python3 " + quote(fs::path(AUTORUN_SOURCE_DIR) / "tests/check/data/png_probe.py") + " " +
          quote(png) + " " + questions);
  std::vector<std::string> answers;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) answers.push_back(line);
  return answers;
}

constexpr std::string_view kPreviewConfiguration =
    "[common]\nbrand = \"Atlas\"\nwebsite = \"example.com\"\nlogo = \"logo.bmp\"\n"
    "logo_width = \"60\"\nlogo_height = \"40\"\n[navigation]\nsd_dir = \"Atlas\"\n"
    "[install]\ntitle = \"%s Setup\"\nquestion = \"Install %s now?\"\n"
    "[uninstall]\ntitle = \"%s Removal\"\nquestion = \"Remove %s?\"\n"
    "[install_actions]\nsrc_1 = \"\\\\Atlas\\\\logo.bmp\"\ndst_1 = \"\\\\Temp\\\\logo.bmp\"\n";

class PreviewTest : public ::testing::Test {
 protected:
  PreviewTest() {
    image_.writeDeviceJson({{"dialog_client", {{"width", 320}, {"height", 240}}}});
    image_.writeConfiguration(kPreviewConfiguration);
    image_.writeFile(u"\\Storage Card\\Atlas\\logo.bmp", bitmap(60, 40, 200, 30, 40));
  }

  ProgramRun preview(const std::string& options = "") const {
    return run(quote(fs::path(AUTORUN_BINARY_DIR) / "tools/autorun-sim") + " preview " +
               quote(image_.dir()) + " --out " + quote(out_.path()) + " " + options);
  }

  DeviceImage image_;
  TempFolder out_;
};

TEST_F(PreviewTest, QuestionShowsTextButtonsAndLogo) {
  const ProgramRun result = preview();
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const fs::path question = out_.path() / "question.png";
  // Text control: template width 147 x 17 units at (17, 14), moved to the centre at y 10;
  // the logo box 60 x 40 below it at x (320 - 60) / 2; Yes at (10, H - 35), No at (W - 70, H - 35).
  const std::vector<std::string> answers =
      probe(question,
            "size colours dark 40 10 240 28 pixel 160 68 pixel 12 207 dark 10 205 60 25 "
            "dark 250 205 60 25");
  ASSERT_EQ(answers.size(), 7u) << result.output;
  EXPECT_EQ(answers[0], "320 240");
  EXPECT_GT(std::stoi(answers[1]), 10) << "the picture is nearly blank";
  EXPECT_GT(std::stoi(answers[2]), 50) << "no question text";
  EXPECT_EQ(answers[3], "200 30 40") << "no logo at the logo control";
  EXPECT_EQ(answers[4], "232 232 232") << "no Yes button";
  EXPECT_GT(std::stoi(answers[5]), 10) << "no label on Yes";
  EXPECT_GT(std::stoi(answers[6]), 10) << "no label on No";
}

TEST_F(PreviewTest, StatusShowsTheProgressPosition) {
  const ProgramRun result = preview("--progress 25");
  ASSERT_EQ(result.exitCode, 0) << result.output;
  // Logo 60 x 40 at the top; the text at y 60; the bar at (10, 90), 300 x 30, filled to a
  // quarter of its inside.
  const std::vector<std::string> answers = probe(
      out_.path() / "status.png", "size pixel 160 30 dark 10 60 300 20 pixel 40 105 pixel 120 105");
  ASSERT_EQ(answers.size(), 5u) << result.output;
  EXPECT_EQ(answers[0], "320 240");
  EXPECT_EQ(answers[1], "200 30 40");
  EXPECT_GT(std::stoi(answers[2]), 50) << "no status text";
  EXPECT_EQ(answers[3], "0 120 215");
  EXPECT_EQ(answers[4], "255 255 255");
}

TEST_F(PreviewTest, FrameAddsTheTitleBarWithTheCaption) {
  const ProgramRun result = preview("--frame");
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const std::vector<std::string> answers =
      probe(out_.path() / "question.png", "size pixel 2 2 colours");
  ASSERT_EQ(answers.size(), 3u) << result.output;
  EXPECT_EQ(answers[0], "320 266");
  EXPECT_EQ(answers[1], "16 72 152");
}

TEST_F(PreviewTest, LogoThatIsNotDrawnIsReported) {
  image_.writeFile(u"\\Storage Card\\Atlas\\logo.bmp", bitmap(241, 40));
  const ProgramRun result = preview();
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("is not drawn"), std::string::npos) << result.output;
  EXPECT_EQ(probe(out_.path() / "question.png", "pixel 160 68"),
            std::vector<std::string>{"210 210 210"});
}

// Each message box: its picture at the dialogs' width under the title bar, with the
// icon its style gives and its buttons; a text the configuration lacks is drawn empty.
TEST_F(PreviewTest, MessageBoxesShowIconTextAndButtons) {
  const ProgramRun result = preview();
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const struct {
    std::string name;
    std::string icon;  // the icon's colour, or white for none
    int buttons;
    bool text;
  } rows[] = {
      {"copy-failed", "200 32 32", 1, true},
      {"link-failed", "200 32 32", 1, true},
      {"no-free-space", "255 255 255", 1, false},
      {"reinstall-question", "16 72 152", 2, false},
      {"update-newer", "16 72 152", 2, false},
      {"update-older", "16 72 152", 2, false},
      {"uninstall-question", "16 72 152", 2, true},
      {"application-running", "255 255 255", 1, false},
      {"uninstall-done", "255 255 255", 1, false},
      {"not-installed", "240 190 20", 1, false},
  };
  // Title bar; icon at (10, 36); the text's first lines right of the icon's place;
  // buttons 60 wide, their tops 32 above the bottom, 10 apart and centred: Yes at 95,
  // No at 165, OK alone at 130 (y -29 counts from the bottom). One probe for all.
  constexpr std::size_t kAsked = 7;
  const auto picture = [this](const std::string& name) {
    return out_.path() / ("message-" + name + ".png");
  };
  std::string questions;
  for (const auto& row : rows) {
    if (!questions.empty()) questions += " file " + quote(picture(row.name)) + " ";
    questions +=
        "size pixel 2 2 pixel 16 40 dark 44 36 266 24 pixel 98 -29 pixel 200 -29 pixel 160 -29";
  }
  const std::vector<std::string> answers = probe(picture(rows[0].name), questions);
  ASSERT_EQ(answers.size(), kAsked * std::size(rows)) << result.output;
  for (std::size_t k = 0; k < std::size(rows); ++k) {
    const auto& row = rows[k];
    SCOPED_TRACE(row.name);
    const std::string* got = &answers[kAsked * k];
    EXPECT_EQ(got[0].substr(0, 4), "320 ");
    EXPECT_EQ(got[1], "16 72 152") << "no title bar";
    EXPECT_EQ(got[2], row.icon);
    EXPECT_EQ(std::stoi(got[3]) > 0, row.text) << "text drawn: " << got[3];
    const std::string face = "232 232 232";
    EXPECT_EQ(got[4] == face && got[5] == face, row.buttons == 2) << "Yes and No";
    EXPECT_EQ(got[6] == face, row.buttons == 1) << "OK alone";
  }
  EXPECT_NE(result.output.find("message-not-installed.png: the configuration has no "
                               "uninstall/notinstalled"),
            std::string::npos)
      << result.output;
}

TEST_F(PreviewTest, ConfigurationThatDoesNotLoad) {
  image_.writeConfiguration("[common]\nbrand = \"Atlas\"\n");
  const ProgramRun result = preview();
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_NE(result.output.find("configuration is invalid"), std::string::npos) << result.output;
  EXPECT_FALSE(fs::exists(out_.path() / "question.png"));
}

}  // namespace
}  // namespace autorun::testing
