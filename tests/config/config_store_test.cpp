#include "base/config_store.h"

#include <gtest/gtest.h>

#include <string>

#include "config/text_bytes.h"

namespace autorun {
namespace {

using testing::parse;
using Entries = ConfigStore::Entries;

TEST(ConfigStoreLookup, FindsSectionEntriesAndGlobalEntriesByTheirOwnPaths) {
  ConfigStore store;
  store.setValue(u"/brand", u"Atlas");
  store.setValue(u"Install/Title", u"Setup");
  store.setValue(u"install/empty", u"");

  struct Case {
    std::u16string_view key;
    bool found;
    std::u16string_view value;
  };
  const Case cases[] = {
      {u"brand", true, u"Atlas"},          // bare name: the global entry
      {u"/brand", true, u"Atlas"},         // global entry directly
      {u"BRAND", true, u"Atlas"},          // any case
      {u"install/brand", false, u""},      // a section path never reaches the global entry
      {u"install/title", true, u"Setup"},  // stored in mixed case, found in lower case
      {u"INSTALL/TITLE", true, u"Setup"},
      {u"title", false, u""},
      {u"install/empty", true, u""},  // empty value, not the default
      {u"", false, u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store.hasKey(c.key), c.found) << std::string(c.key.begin(), c.key.end());
    EXPECT_EQ(store.getString(c.key, u"default"), c.found ? c.value : u"default")
        << std::string(c.key.begin(), c.key.end());
  }
  // Keys are stored folded.
  EXPECT_EQ(store.entries().count(u"install/title"), 1u);
}

TEST(ConfigStoreGetInt, ReadsTheLeadingDecimalNumber) {
  struct Case {
    std::u16string_view value;
    std::int32_t expected;
  };
  const Case cases[] = {
      {u" 42", 42},
      {u"-7x", -7},
      {u"+5", 5},
      {u"\t\r\n 13 kB", 13},
      {u"007", 7},
      {u"2147483647", 2147483647},
      {u"-2147483648", INT32_MIN},
      // no number, or one outside 32 bits: the default
      {u"", 99},
      {u"abc", 99},
      {u"-", 99},
      {u"- 5", 99},
      {u"x12", 99},
      {u"2147483648", 99},
      {u"-2147483649", 99},
      {u"99999999999999999999999", 99},
  };
  for (const Case& c : cases) {
    ConfigStore store;
    store.setValue(u"common/n", c.value);
    EXPECT_EQ(store.getInt(u"common/n", 99), c.expected)
        << std::string(c.value.begin(), c.value.end());
  }
  ConfigStore empty;
  EXPECT_EQ(empty.getInt(u"common/n", -1), -1);
}

TEST(ConfigStoreReferences, ExpandWhenStoredAgainstTheEntriesThatExistThen) {
  struct Case {
    const char* what;
    std::u16string_view text;  // configuration text; the entry checked is "/v" or "s/v"
    std::u16string_view key;
    std::u16string_view expected;
  };
  const Case cases[] = {
      {"same section", u"[s]\r\na = \"A\"\r\nv = \"<${a}>\"", u"s/v", u"<A>"},
      {"absolute path", u"[t]\r\na = \"T\"\r\n[s]\r\nv = \"${t/a}\"", u"s/v", u"T"},
      {"global by leading slash", u"a = \"G\"\r\n[s]\r\nv = \"${/a}\"", u"s/v", u"G"},
      {"section never reaches global", u"a = \"G\"\r\n[s]\r\nv = \"x${a}y\"", u"s/v", u"xy"},
      {"global reaches global", u"a = \"G\"\r\nv = \"${a}${a}\"", u"/v", u"GG"},
      {"defined further down", u"[s]\r\nv = \"${a}!\"\r\na = \"A\"", u"s/v", u"!"},
      {"unfinished stays", u"[s]\r\na = \"A\"\r\nv = \"${a}${a\"", u"s/v", u"A${a"},
      {"no nesting", u"[s]\r\nv = \"${a${b}}z\"", u"s/v", u"}z"},
      {"empty name is the nameless entry", u"[s]\r\n= \"N\"\r\nv = \"${}\"", u"s/v", u"N"},
      {"name is not trimmed", u"[s]\r\na = \"A\"\r\nv = \"${ a}\"", u"s/v", u""},
      {"earlier value of itself", u"[s]\r\nv = \"1\"\r\nv = \"${v}2\"", u"s/v", u"12"},
      {"chain", u"[s]\r\na = \"A\"\r\nb = \"${a}B\"\r\nv = \"${b}C\"", u"s/v", u"ABC"},
      // The search starts again at the beginning: a replacement holding an unfinished
      // "${" takes the rest of the value as its name.
      {"rescan after replacement", u"[s]\r\nd = \"${\"\r\nx = \"X\"\r\nv = \"${d}x}!\"", u"s/v",
       u"X!"},
      {"dollar before a brace", u"[s]\r\nb = \"{x}\"\r\nx = \"X\"\r\nv = \"$${b}\"", u"s/v", u"X"},
      {"braces are no references", u"[s]\r\na = \"A\"\r\nx = \"X\"\r\nv = \"${a}{x}$ {x}\"", u"s/v",
       u"A{x}$ {x}"},
      {"replacement ending in dollar", u"[s]\r\nd = \"$\"\r\nx = \"X\"\r\nv = \"${d}{x}\"", u"s/v",
       u"X"},
  };
  for (const Case& c : cases) {
    ConfigStore store;
    ASSERT_TRUE(parse(store, c.text)) << c.what;
    EXPECT_EQ(store.getString(c.key, u"<none>"), c.expected) << c.what;
  }
}

TEST(ConfigStoreReferences, LaterChangesDoNotReachEarlierUsers) {
  ConfigStore store;
  store.setValue(u"s/a", u"old");
  store.setValue(u"s/v", u"${a}");
  store.setValue(u"s/a", u"new");
  EXPECT_EQ(store.getString(u"s/v", u""), u"old");
}

TEST(ConfigStoreReferences, DoublingChainsStayBounded) {
  // Each entry refers twice to the one before: the sizes double at every step.
  ConfigStore store;
  store.setValue(u"s/a0", std::u16string(64, u'x'));
  std::u16string previous = u"a0";
  for (int k = 1; k <= 40; ++k) {
    std::u16string name = u"a";
    for (char c : std::to_string(k)) name.push_back(static_cast<char16_t>(c));
    store.setValue(u"s/" + name, u"${" + previous + u"}${" + previous + u"}");
    previous = name;
  }
  // References pull in at most 16 Mi code units between two clears, over all entries.
  std::size_t total = 0;
  for (const auto& entry : store.entries()) total += entry.second.size();
  EXPECT_LE(total, (std::size_t{16} << 20) + 64 + 40 * 16);
  // What could not be expanded stays as written, and the store says so.
  EXPECT_NE(store.getString(u"s/" + previous, u"").find(u"${a"), std::u16string::npos);
  EXPECT_TRUE(store.expansionLimitReached());

  // clear() makes the whole allowance available again.
  store.clear();
  EXPECT_FALSE(store.expansionLimitReached());
  store.setValue(u"s/a", std::u16string(1000, u'x'));
  store.setValue(u"s/b", u"${a}${a}");
  EXPECT_EQ(store.getString(u"s/b", u"").size(), 2000u);
  EXPECT_FALSE(store.expansionLimitReached());
}

TEST(ConfigStoreFillPlaceholder, FillsTheFirstRemainingPlaceholder) {
  ConfigStore store;
  store.setValue(u"error/freespace", u"%s needs %s kB");
  store.fillPlaceholder(u"error/freespace", u"12");
  store.fillPlaceholder(u"error/freespace", u"340");
  EXPECT_EQ(store.getString(u"error/freespace", u""), u"12 needs 340 kB");

  store.setValue(u"install/title", u"Setup %S 100%");
  store.fillPlaceholder(u"Install/Title", u"Atlas");  // only a lower-case "%s" counts
  EXPECT_EQ(store.getString(u"install/title", u""), u"Setup %S 100%");

  store.fillPlaceholder(u"install/missing", u"Atlas");
  EXPECT_FALSE(store.hasKey(u"install/missing"));

  // The filled value is stored through setValue, references included.
  store.setValue(u"install/brand", u"Atlas");
  store.setValue(u"install/q", u"Install %s?");
  store.fillPlaceholder(u"install/q", u"${brand}");
  EXPECT_EQ(store.getString(u"install/q", u""), u"Install Atlas?");
}

TEST(ConfigStoreApplyVariable, ReplacesOnlyTheFirstPairOfPercentSigns) {
  struct Step {
    std::u16string_view name;
    std::u16string_view text;
  };
  struct Case {
    const char* what;
    std::u16string_view before;
    std::vector<Step> steps;
    std::u16string_view after;
  };
  const Case cases[] = {
      {"any case in the value",
       u"%sdcard%\\maps",
       {{u"SDCARD", u"\\Storage Card"}},
       u"\\Storage Card\\maps"},
      {"percent before hides it",
       u"100% of %SDCARD%",
       {{u"SDCARD", u"\\Storage Card"}},
       u"100% of %SDCARD%"},
      {"in order",
       u"%PROGRAMS%\\a;%SDCARD%\\b",
       {{u"PROGRAMS", u"\\P"}, {u"SDCARD", u"\\S"}},
       u"\\P\\a;\\S\\b"},
      {"out of order",
       u"%SDCARD%\\a;%PROGRAMS%\\b",
       {{u"PROGRAMS", u"\\P"}, {u"SDCARD", u"\\S"}},
       u"\\S\\a;%PROGRAMS%\\b"},
      {"name in percent signs", u"%WINDOWS%\\x", {{u"%windows%", u"\\Windows"}}, u"\\Windows\\x"},
      {"name with a space", u"%MY DIR%\\x", {{u"MY DIR", u"\\d"}}, u"%MY DIR%\\x"},
      {"empty name", u"%%x", {{u"", u"\\d"}}, u"%%x"},
      {"percent signs only", u"%%x", {{u"%%", u"\\d"}}, u"%%x"},
      {"other variable", u"%PERSONAL%\\x", {{u"SDCARD", u"\\S"}}, u"%PERSONAL%\\x"},
      {"longer inner name", u"%SDCARD2%\\x", {{u"SDCARD", u"\\S"}}, u"%SDCARD2%\\x"},
      {"single percent", u"50%", {{u"SDCARD", u"\\S"}}, u"50%"},
  };
  for (const Case& c : cases) {
    ConfigStore store;
    store.setValue(u"s/v", c.before);
    store.setValue(u"/g", c.before);
    for (const Step& step : c.steps) store.applyVariable(step.name, step.text);
    EXPECT_EQ(store.getString(u"s/v", u""), c.after) << c.what;
    EXPECT_EQ(store.getString(u"/g", u""), c.after) << c.what;
  }
}

TEST(ConfigStoreApplyVariable, StoresTheResultThroughReferenceExpansion) {
  // A value whose unfinished "${" is completed by the replacement text.
  ConfigStore store;
  store.setValue(u"s/x", u"X");
  store.setValue(u"s/v", u"${%SDCARD%");
  EXPECT_EQ(store.getString(u"s/v", u""), u"${%SDCARD%");
  store.applyVariable(u"SDCARD", u"x}");
  EXPECT_EQ(store.getString(u"s/v", u""), u"X");

  // A replacement text that is itself a reference, and one that completes "${" with the
  // brace that follows the placeholder.
  store.setValue(u"s/w", u"%PERSONAL%\\a");
  store.setValue(u"s/u", u"%PERSONAL%{x}");
  store.applyVariable(u"PERSONAL", u"${x}$");
  EXPECT_EQ(store.getString(u"s/w", u""), u"X$\\a");
  EXPECT_EQ(store.getString(u"s/u", u""), u"XX");
}

TEST(ConfigStoreListKeys, SelectsBySectionInEntryOrder) {
  ConfigStore store;
  for (std::u16string_view key : {u"/b", u"/a", u"install/z", u"install/", u"install_actions/x",
                                  u"installer/y", u"update/title"}) {
    store.setValue(key, u"v");
  }
  using Keys = std::vector<std::u16string>;
  EXPECT_EQ(store.listKeys(u"*"), (Keys{u"/a", u"/b", u"install/", u"install/z",
                                        u"install_actions/x", u"installer/y", u"update/title"}));
  EXPECT_EQ(store.listKeys(u"INSTALL"), (Keys{u"install/", u"install/z"}));
  EXPECT_EQ(store.listKeys(u""), (Keys{u"/a", u"/b"}));
  EXPECT_EQ(store.listKeys(u"/"), (Keys{u"/a", u"/b"}));
  EXPECT_EQ(store.listKeys(u"missing"), Keys{});
}

TEST(ConfigStoreClear, RemovesEntriesButKeepsTheSection) {
  ConfigStore store;
  ASSERT_TRUE(parse(store, u"[first]\r\na = \"1\""));
  store.clear();
  EXPECT_TRUE(store.entries().empty());
  ASSERT_TRUE(parse(store, u"b = \"2\"\r\n[second]\r\nc = \"3\""));
  EXPECT_EQ(store.entries(), (Entries{{u"first/b", u"2"}, {u"second/c", u"3"}}));
}

}  // namespace
}  // namespace autorun
