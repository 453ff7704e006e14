// Keeps resources/autorun.rc and the template table of src/base in step, and checks the
// built-in logo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/dialog_ids.h"
#include "base/dialog_templates.h"
#include "base/logo_image.h"
#include "bmp_fixture.h"
#include "host_text/utf.h"
#include "support/memory_platform.h"

namespace autorun {
namespace {

const std::string kSourceDir = AUTORUN_SOURCE_DIR;

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string trim(std::string text) {
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
  text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
  return text;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Splits at commas outside quotes.
std::vector<std::string> splitFields(const std::string& text) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  for (std::string& field : fields) field = trim(field);
  return fields;
}

std::string unquote(const std::string& text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
    throw std::runtime_error("not a quoted text: " + text);
  }
  return text.substr(1, text.size() - 2);
}

// The symbols the script uses: the ids of dialog_ids.h, read from the file itself, and
// the system's style names.
class Symbols {
 public:
  Symbols() {
    std::istringstream ids(readText(kSourceDir + "/src/base/dialog_ids.h"));
    for (std::string line; std::getline(ids, line);) {
      std::istringstream words(line);
      std::string directive, name, value;
      if (words >> directive >> name >> value && directive == "#define") {
        values_[name] = std::stoul(value, nullptr, 0);
      }
    }
    const std::map<std::string, std::uint32_t> styles = {{"WS_POPUP", kWsPopup},
                                                         {"WS_VISIBLE", kWsVisible},
                                                         {"WS_CAPTION", kWsCaption},
                                                         {"WS_SYSMENU", kWsSysMenu},
                                                         {"WS_BORDER", kWsBorder},
                                                         {"WS_GROUP", kWsGroup},
                                                         {"WS_TABSTOP", kWsTabStop},
                                                         {"DS_MODALFRAME", kDsModalFrame},
                                                         {"DS_CENTER", kDsCenter},
                                                         {"DS_SETFOREGROUND", kDsSetForeground},
                                                         {"WS_EX_CLIENTEDGE", kWsExClientEdge},
                                                         {"SS_CENTER", kSsCenter},
                                                         {"SS_BITMAP", kSsBitmap},
                                                         {"BS_PUSHBUTTON", kBsPushButton},
                                                         {"BS_DEFPUSHBUTTON", kBsDefPushButton},
                                                         {"PBS_SMOOTH", kPbsSmooth}};
    values_.insert(styles.begin(), styles.end());
  }

  // A number, a symbol, or an or-ed list of them.
  std::uint32_t evaluate(const std::string& expression) const {
    std::uint32_t result = 0;
    std::istringstream parts(expression);
    for (std::string part; std::getline(parts, part, '|');) {
      part = trim(part);
      if (part.empty()) throw std::runtime_error("empty term in " + expression);
      if (std::isdigit(static_cast<unsigned char>(part[0]))) {
        result |= static_cast<std::uint32_t>(std::stoul(part, nullptr, 0));
      } else {
        const auto it = values_.find(part);
        if (it == values_.end()) throw std::runtime_error("unknown symbol " + part);
        result |= it->second;
      }
    }
    return result;
  }

 private:
  std::map<std::string, std::uint32_t> values_;
};

struct ParsedControl {
  std::string text;
  std::uint32_t id = 0;
  std::string windowClass;
  std::uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

struct ParsedDialog {
  int width = 0, height = 0;
  std::uint32_t style = 0, exStyle = 0;
  std::string caption, font;
  int fontSize = 0;
  std::vector<ParsedControl> controls;
};

// Reads the DIALOG blocks of a resource script (as written, or as the resource compiler
// writes it back with plain numbers).
std::map<std::uint32_t, ParsedDialog> parseDialogs(const std::string& script,
                                                   const Symbols& symbols) {
  std::map<std::uint32_t, ParsedDialog> dialogs;
  std::istringstream lines(script);
  ParsedDialog* current = nullptr;
  bool inBody = false;
  for (std::string line; std::getline(lines, line);) {
    line = trim(line);
    if (line.empty() || line.rfind("//", 0) == 0 || line[0] == '#') continue;
    std::istringstream words(line);
    std::string first, second;
    words >> first >> second;
    if (second == "DIALOG") {
      // "<id> DIALOG [memory flags] x, y, width, height"
      const std::size_t comma = line.find(',');
      const std::size_t start = line.find_last_of(' ', line.find_last_not_of(' ', comma - 1));
      const auto numbers = splitFields(line.substr(start + 1));
      if (numbers.size() != 4) throw std::runtime_error("bad DIALOG line: " + line);
      current = &dialogs[symbols.evaluate(first)];
      current->width = std::stoi(numbers[2]);
      current->height = std::stoi(numbers[3]);
      inBody = false;
      continue;
    }
    if (current == nullptr) continue;
    const std::string rest = trim(line.substr(first.size()));
    if (first == "STYLE") {
      current->style = symbols.evaluate(rest);
    } else if (first == "EXSTYLE") {
      current->exStyle = symbols.evaluate(rest);
    } else if (first == "CAPTION") {
      current->caption = unquote(rest);
    } else if (first == "FONT") {
      const auto fields = splitFields(rest);
      current->fontSize = std::stoi(fields.at(0));
      current->font = unquote(fields.at(1));
    } else if (first == "BEGIN") {
      inBody = true;
    } else if (first == "END") {
      current = nullptr;
    } else if (inBody && first == "CONTROL") {
      const auto fields = splitFields(rest);
      if (fields.size() != 8) throw std::runtime_error("bad CONTROL line: " + line);
      ParsedControl control;
      control.text =
          fields[0][0] == '"' ? unquote(fields[0]) : std::to_string(symbols.evaluate(fields[0]));
      control.id = symbols.evaluate(fields[1]);
      control.windowClass = unquote(fields[2]);
      control.style = symbols.evaluate(fields[3]);
      control.x = std::stoi(fields[4]);
      control.y = std::stoi(fields[5]);
      control.width = std::stoi(fields[6]);
      control.height = std::stoi(fields[7]);
      current->controls.push_back(control);
    } else if (inBody) {
      throw std::runtime_error("only CONTROL statements are checked: " + line);
    }
  }
  return dialogs;
}

// Compares parsed dialogs with the table. `implicitDialogStyle` and
// `implicitControlStyle` are the bits the resource compiler adds.
void expectMatchesTable(const std::map<std::uint32_t, ParsedDialog>& dialogs,
                        std::uint32_t implicitDialogStyle, std::uint32_t implicitControlStyle) {
  ASSERT_EQ(dialogs.size(), 2u);
  for (const DialogTemplate* table : {&questionDialogTemplate(), &statusDialogTemplate()}) {
    SCOPED_TRACE(table->id);
    const auto found = dialogs.find(static_cast<std::uint32_t>(table->id));
    ASSERT_NE(found, dialogs.end());
    const ParsedDialog& dialog = found->second;
    EXPECT_EQ(dialog.width, table->width);
    EXPECT_EQ(dialog.height, table->height);
    EXPECT_EQ(dialog.style, table->style | implicitDialogStyle);
    EXPECT_EQ(dialog.exStyle, table->exStyle);
    EXPECT_EQ(dialog.caption, host::toUtf8(std::u16string(table->caption)));
    EXPECT_EQ(dialog.font, host::toUtf8(std::u16string(table->fontName)));
    EXPECT_EQ(dialog.fontSize, table->fontPointSize);
    ASSERT_EQ(dialog.controls.size(), table->controls.size());
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
      const ParsedControl& parsed = dialog.controls[i];
      const ControlTemplate& expected = table->controls[i];
      SCOPED_TRACE(expected.id);
      EXPECT_EQ(parsed.id, static_cast<std::uint32_t>(expected.id));
      EXPECT_EQ(lower(parsed.windowClass),
                lower(host::toUtf8(std::u16string(expected.windowClass))));
      EXPECT_EQ(parsed.text, expected.bitmapResource != 0
                                 ? std::to_string(expected.bitmapResource)
                                 : host::toUtf8(std::u16string(expected.text)));
      EXPECT_EQ(parsed.style, expected.style | implicitControlStyle);
      EXPECT_EQ(parsed.x, expected.x);
      EXPECT_EQ(parsed.y, expected.y);
      EXPECT_EQ(parsed.width, expected.width);
      EXPECT_EQ(parsed.height, expected.height);
    }
  }
}

TEST(ResourceScript, DialogsMatchTheTemplateTable) {
  const Symbols symbols;
  const auto dialogs = parseDialogs(readText(kSourceDir + "/resources/autorun.rc"), symbols);
  expectMatchesTable(dialogs, 0, 0);
}

// The compiled script, written back by the resource compiler with every symbol resolved
// by the system's own headers.
TEST(ResourceScript, CompiledDialogsMatchTheTemplateTable) {
  const std::string command = "x86_64-w64-mingw32-windres -I '" + kSourceDir +
                              "/src/base' -O rc -i '" + kSourceDir + "/resources/autorun.rc' 2>&1";
  if (std::system("x86_64-w64-mingw32-windres --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no resource compiler";
  }
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
    output.append(buffer, got);
  }
  ASSERT_EQ(pclose(pipe.release()), 0) << output;

  const auto dialogs = parseDialogs(output, Symbols());
  expectMatchesTable(dialogs, kDsSetFont, kWsChild | kWsVisible);
  // The high-resolution marker holds two zero bytes.
  EXPECT_NE(output.find("\"HI_RES_AWARE\" \"CEUX\""), std::string::npos);
  EXPECT_NE(output.find("L\"\\000\""), std::string::npos);
}

TEST(ResourceScript, BuiltInLogoIsAn84By100TrueColourBitmap) {
  const std::string bytes = readText(kSourceDir + "/resources/logo.bmp");
  testing::MemoryPlatform platform;
  platform.addFile(u"logo.bmp", bytes);
  LogoImage logo;
  ASSERT_EQ(logo.load(platform, u"logo.bmp"), LogoImage::kLoaded);
  EXPECT_EQ(platform.opens.size(), 1u);
  EXPECT_EQ(logo.width(), 84);
  EXPECT_EQ(logo.height(), 100);
  EXPECT_EQ(logo.bitsPerPixel(), 24u);
  EXPECT_EQ(logo.stride(), 252);
  // Exactly the headers and 100 rows of 252 bytes.
  EXPECT_EQ(bytes.size(), 14u + 40u + 100u * 252u);
}

TEST(DialogTemplates, ConvertDialogUnitsAsTheSystemRounds) {
  const DialogBaseUnits base{6, 13};
  EXPECT_EQ(dialogUnitsToPixelsX(187, base), 281);  // 280.5 rounds up
  EXPECT_EQ(dialogUnitsToPixelsY(153, base), 249);  // 248.6
  EXPECT_EQ(dialogUnitsToPixelsX(-3, base), -5);    // -4.5 rounds away from zero
  const ControlTemplate* yes = findControlTemplate(questionDialogTemplate(), IDC_QUESTION_YES);
  ASSERT_NE(yes, nullptr);
  const Rect rect = controlRectInPixels(*yes, base);
  EXPECT_EQ(rect.left, 11);  // 10.5
  EXPECT_EQ(rect.top, 211);  // 211.25
  EXPECT_EQ(rect.width(), 72);
  EXPECT_EQ(rect.height(), 26);  // 26
  EXPECT_EQ(findDialogTemplate(IDD_STATUS), &statusDialogTemplate());
  EXPECT_EQ(findDialogTemplate(103), nullptr);
  EXPECT_EQ(findControlTemplate(statusDialogTemplate(), IDC_QUESTION_YES), nullptr);
}

}  // namespace
}  // namespace autorun
