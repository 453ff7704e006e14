#include <gtest/gtest.h>

#include <string>

#include "base/config_store.h"
#include "config/text_bytes.h"

namespace autorun {
namespace {

using testing::parse;
using testing::utf16WithMark;
using Entries = ConfigStore::Entries;

std::string narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

TEST(ConfigParser, SampleLinesTakeEffectOneByOne) {
  // Each line, in order, with the section it leaves and the entries it adds or replaces.
  struct Line {
    std::u16string_view text;
    std::u16string_view sectionAfter;
    Entries added;
  };
  const std::u16string path = u"\\maps\new\\tiles";
  const Entries installEntries = {{u"install/width", u"84"},
                                  {u"install/empty", u""},
                                  {u"install/mixed", u"a\"b\"c"},
                                  {u"install/path", path},
                                  {u"install/", u"nameless"}};
  Entries copiedToUpdate;
  for (const auto& [key, value] : installEntries) {
    copiedToUpdate[u"update/" + key.substr(8)] = value;
  }
  const std::vector<Line> lines = {
      {u"[Install]", u"install/", {}},
      {u" [other]", u"install/", {}},
      {u"[ other ]", u"install/", {}},
      {u"Width = 84", u"install/", {}},
      {u"Width = \"84\"", u"install/", {{u"install/width", u"84"}}},
      {u"Empty = \"\"", u"install/", {{u"install/empty", u""}}},
      {u"Mixed = \"a\"b\"c\" ; note", u"install/", {{u"install/mixed", u"a\"b\"c"}}},
      {u"Path = \"\\maps\\new\\\\tiles\"", u"install/", {{u"install/path", path}}},
      {u"Bad-name = \"x\"", u"install/", {}},
      {u" ; note = \"x\"", u"install/", {}},
      {u"= \"nameless\"", u"install/", {{u"install/", u"nameless"}}},
      {u"[update:install]", u"update/", copiedToUpdate},
      {u"[extra:]", u"extra/", {}},  // no global entries yet
      {u"[:install]", u"/", {}},
      {u"Late = \"${width}\"", u"/", {{u"/late", u""}}},
  };

  // Line by line into one store (the section carries from text to text)...
  ConfigStore store;
  Entries expected;
  std::u16string whole;
  for (const Line& line : lines) {
    ASSERT_TRUE(parse(store, line.text));
    for (const auto& [key, value] : line.added) expected[key] = value;
    EXPECT_EQ(store.entries(), expected) << narrow(line.text);
    EXPECT_EQ(store.currentSectionPrefix(), line.sectionAfter) << narrow(line.text);
    whole += line.text;
    whole += u"\r\n";
  }
  // ...and as one text.
  ConfigStore once;
  ASSERT_TRUE(parse(once, whole));
  EXPECT_EQ(once.entries(), expected);
}

TEST(ConfigParser, WorkedExampleStoresItsEntries) {
  const std::u16string text =
      u"; sample configuration\r\n"
      u"[common]\r\n"
      u"brand = \"Atlas\"\r\n"
      u"logo = \"logo.bmp\"\r\n"
      u"logo_width = \"84\"\r\n"
      u"\tlogo_height = \"100\"\r\n"
      u"[navigation]\r\n"
      u"exe_dir = \"%PROGRAM_FILES%\\\\Atlas\"\r\n"
      u"exe = \"${exe_dir}\\\\atlas.exe\"\r\n"
      u"[install]\r\n"
      u"title = \"%s setup\"\r\n"
      u"question = \"Install %s?\\nIt needs 40 MB.\"\r\n"
      u"// the update texts start as copies of the install texts\r\n"
      u"[update:install]\r\n"
      u"title = \"%s update\"\r\n"
      u"[install_actions]\r\n"
      u"makedir_1 = \"${navigation/exe_dir}\"\r\n"
      u"makedir_2 = \"${navigation/exe_dir}\\\\maps\"\r\n";
  ConfigStore store;
  ASSERT_TRUE(parse(store, text));
  const Entries expected = {
      {u"common/brand", u"Atlas"},
      {u"common/logo", u"logo.bmp"},
      {u"common/logo_width", u"84"},
      {u"common/logo_height", u"100"},
      {u"navigation/exe_dir", u"%PROGRAM_FILES%\\Atlas"},
      {u"navigation/exe", u"%PROGRAM_FILES%\\Atlas\\atlas.exe"},
      {u"install/title", u"%s setup"},
      {u"install/question", u"Install %s?\nIt needs 40 MB."},
      {u"update/title", u"%s update"},
      {u"update/question", u"Install %s?\nIt needs 40 MB."},
      {u"install_actions/makedir_1", u"%PROGRAM_FILES%\\Atlas"},
      {u"install_actions/makedir_2", u"%PROGRAM_FILES%\\Atlas\\maps"},
  };
  EXPECT_EQ(store.entries(), expected);
}

TEST(ConfigParser, RefusesTextsWithoutTheByteOrderMark) {
  ConfigStore store;
  store.setValue(u"keep/me", u"1");
  const std::vector<std::vector<std::uint8_t>> refused = {
      {},
      {0xFF},
      {0xFE, 0xFF, 'a', 0, '=', 0, '"', 0, '"', 0},
      {'a', '=', '"', '1', '"'},
      {0xEF, 0xBB, 0xBF, 'a', '=', '"', '1', '"'},
  };
  for (const auto& bytes : refused) {
    EXPECT_FALSE(store.parseText(bytes.data(), bytes.size()));
  }
  EXPECT_FALSE(store.parseText(nullptr, 0));
  EXPECT_EQ(store.entries(), (Entries{{u"keep/me", u"1"}}));

  const std::uint8_t markOnly[] = {0xFF, 0xFE};
  EXPECT_TRUE(store.parseText(markOnly, 2));
  EXPECT_EQ(store.entries().size(), 1u);
}

TEST(ConfigParser, SplitsLinesAtCarriageReturns) {
  static constexpr char16_t kZeroInside[] = u"a = \"1\"\r\nb = \"2\"\0c = \"3\"";
  struct Case {
    const char* what;
    std::u16string_view text;
    Entries expected;
  };
  const Case cases[] = {
      {"CR LF and a last line without end",
       u"a = \"1\"\r\nb = \"2\"\r\nc = \"3\"",
       {{u"/a", u"1"}, {u"/b", u"2"}, {u"/c", u"3"}}},
      {"LF alone makes one line", u"a = \"1\"\nb = \"2\"", {{u"/a", u"1\"\nb = \"2"}}},
      {"the unit after CR is skipped",
       u"a = \"1\"\rXb = \"2\"\r[s]",
       {{u"/a", u"1"}, {u"/b", u"2"}}},
      {"skipped unit may be a header's bracket",
       u"a = \"1\"\r[s]\r\nb = \"2\"",
       {{u"/a", u"1"}, {u"/b", u"2"}}},
      {"text ends with CR", u"a = \"1\"\r", {{u"/a", u"1"}}},
      {"text ends with CR and one unit", u"a = \"1\"\rb", {{u"/a", u"1"}}},
      {"a zero code unit ends the text",
       std::u16string_view(kZeroInside, std::size(kZeroInside) - 1),
       {{u"/a", u"1"}, {u"/b", u"2"}}},
      {"empty and blank lines", u"\r\n   \r\n\t\r\na = \"1\"", {{u"/a", u"1"}}},
  };
  for (const Case& c : cases) {
    ConfigStore store;
    ASSERT_TRUE(parse(store, c.text)) << c.what;
    EXPECT_EQ(store.entries(), c.expected) << c.what;
  }
}

TEST(ConfigParser, IgnoresAnOddLastByte) {
  std::vector<std::uint8_t> bytes = utf16WithMark(u"a = \"1\"");
  bytes.push_back('x');
  ConfigStore store;
  ASSERT_TRUE(store.parseText(bytes.data(), bytes.size()));
  EXPECT_EQ(store.entries(), (Entries{{u"/a", u"1"}}));
}

TEST(ConfigParser, ReadsEntryLines) {
  struct Case {
    std::u16string_view line;
    bool stored;
    std::u16string_view key;
    std::u16string_view value;
  };
  const Case cases[] = {
      {u"a=\"1\"", true, u"/a", u"1"},
      {u"\tA \t= \t\"1\"\t ", true, u"/a", u"1"},
      {u"a = \"x\ty\"", true, u"/a", u"x y"},  // a typed tab becomes a space
      {u"a = \"x\\ty\"", true, u"/a", u"x\ty"},
      {u"a = \"\\n\\r\\b\\\"\\\\\"", true, u"/a", u"\n\r\b\"\\"},
      {u"a = \"\\q\\\"", true, u"/a", u"\\q\\"},  // unknown escape and a last backslash stay
      {u"a = \"\\\\n\"", true, u"/a", u"\\n"},    // an escape's result starts no other one
      {u"a = \"\\\\\\n\"", true, u"/a", u"\\\n"},
      {u"a = \"v\" ; note", true, u"/a", u"v"},
      {u"a = \"v\" ; \"note\"", true, u"/a", u"v\" ; \"note"},
      {u"a = junk \"v\" junk", true, u"/a", u"v"},
      {u"a = \"a=b\"", true, u"/a", u"a=b"},
      {u"a = \"${\"", true, u"/a", u"${"},
      {u"a = \"1", false, u"/a", u""},
      {u"a = 1", false, u"/a", u""},
      {u"a b = \"1\"", false, u"/a b", u""},
      {u"a.b = \"1\"", false, u"/a.b", u""},
      {u"s/a = \"1\"", false, u"/s/a", u""},
      {u";a = \"1\"", false, u"/;a", u""},
      {u"//a = \"1\"", false, u"//a", u""},
      {u"#a = \"1\"", false, u"/#a", u""},
      {u"\u00C4 = \"1\"", false, u"/\u00E4", u""},
  };
  for (const Case& c : cases) {
    ConfigStore store;
    ASSERT_TRUE(parse(store, c.line));
    if (c.stored) {
      EXPECT_EQ(store.entries(), (Entries{{std::u16string(c.key), std::u16string(c.value)}}))
          << narrow(c.line);
    } else {
      EXPECT_TRUE(store.entries().empty()) << narrow(c.line);
    }
  }
}

TEST(ConfigParser, ReadsSectionHeaders) {
  struct Case {
    const char* what;
    std::u16string_view text;
    std::u16string_view sectionAfter;
    Entries expected;
  };
  const Case cases[] = {
      {"rest of line ignored", u"[Sec] junk = \"x\"\r\na = \"1\"", u"sec/", {{u"sec/a", u"1"}}},
      {"header text across lines", u"[s]\r\n[t\r\na = \"1\"\r\n]", u"s/", {{u"s/a", u"1"}}},
      {"no closing bracket", u"[s]\r\n[t\r\na = \"1\"", u"s/", {{u"s/a", u"1"}}},
      {"empty brackets", u"[s]\r\n[]\r\na = \"1\"", u"/", {{u"/a", u"1"}}},
      {"bad parent is global",
       u"g = \"G\"\r\n[s]\r\na = \"1\"\r\n[t:no such]",
       u"t/",
       {{u"/g", u"G"}, {u"s/a", u"1"}, {u"t/g", u"G"}}},
      {"parent in any case", u"[S]\r\na = \"1\"\r\n[T:s]", u"t/", {{u"s/a", u"1"}, {u"t/a", u"1"}}},
      {"parent added to later",
       u"[s]\r\na = \"1\"\r\n[t:s]\r\n[s]\r\nb = \"2\"",
       u"s/",
       {{u"s/a", u"1"}, {u"s/b", u"2"}, {u"t/a", u"1"}}},
      {"repeated header copies again",
       u"[s]\r\na = \"1\"\r\n[t:s]\r\na = \"own\"\r\nc = \"3\"\r\n[s]\r\nb = \"2\"\r\n[t:s]",
       u"t/",
       {{u"s/a", u"1"}, {u"s/b", u"2"}, {u"t/a", u"1"}, {u"t/b", u"2"}, {u"t/c", u"3"}}},
      {"copy of itself", u"[s]\r\na = \"1\"\r\n[s:s]", u"s/", {{u"s/a", u"1"}}},
      {"copied unchanged",
       u"[s]\r\na = \"${x\"\r\nx = \"X\"\r\n[t:s]",
       u"t/",
       {{u"s/a", u"${x"}, {u"s/x", u"X"}, {u"t/a", u"${x"}, {u"t/x", u"X"}}},
      {"prefix sections are not parents",
       u"[s]\r\na = \"1\"\r\n[s2]\r\nb = \"2\"\r\n[t:s]",
       u"t/",
       {{u"s/a", u"1"}, {u"s2/b", u"2"}, {u"t/a", u"1"}}},
      {"bad name keeps the section", u"[s]\r\n[a-b]\r\na = \"1\"", u"s/", {{u"s/a", u"1"}}},
      {"indented header is no header", u"[s]\r\n [t]\r\na = \"1\"", u"s/", {{u"s/a", u"1"}}},
  };
  for (const Case& c : cases) {
    ConfigStore store;
    ASSERT_TRUE(parse(store, c.text)) << c.what;
    EXPECT_EQ(store.currentSectionPrefix(), c.sectionAfter) << c.what;
    EXPECT_EQ(store.entries(), c.expected) << c.what;
  }
}

TEST(ConfigParser, DuplicateEntriesLastOneWins) {
  ConfigStore store;
  ASSERT_TRUE(parse(store, u"[s]\r\na = \"1\"\r\n[t]\r\n[S]\r\nA = \"2\""));
  EXPECT_EQ(store.entries(), (Entries{{u"s/a", u"2"}}));
}

}  // namespace
}  // namespace autorun
