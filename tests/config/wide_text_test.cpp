#include "base/wide_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace autorun {
namespace {

TEST(WideText, FoldsCapitalsOfTheCommonScripts) {
  EXPECT_EQ(foldLower(u"UNINSTALL.EXE \\Storage Card"), u"uninstall.exe \\storage card");
  EXPECT_EQ(foldLower(u"\u00C4\u00D6\u00DC\u00D7"), u"\u00E4\u00F6\u00FC\u00D7");
  EXPECT_EQ(foldLower(u"\u0100\u0141\u0391\u0410\u0401"), u"\u0101\u0142\u03B1\u0430\u0451");
  EXPECT_EQ(foldLower(u"already lower 123_"), u"already lower 123_");
}

TEST(WideText, FormatsNumbersAsPrintfWould) {
  EXPECT_EQ(decimal(0), u"0");
  EXPECT_EQ(decimal(-7), u"-7");
  EXPECT_EQ(decimal(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(decimalUnsigned(5000000000ull), u"5000000000");
  EXPECT_TRUE(endsWith(u"\\a\\uninstall.exe", u"\\uninstall.exe"));
  EXPECT_FALSE(endsWith(u"exe", u"\\uninstall.exe"));
}

TEST(WideText, FindsAUnitOnlyWhereAWholeCodeUnitMatches) {
  // Long texts go through a byte search: a matching byte in a high half, or straddling
  // two units, must not count.
  std::u16string text(40, u'\u2525');  // both bytes are '%'
  text += u"\u0025";                   // the one real '%', at 40
  text += std::u16string(40, u'\u2500');
  text += u'%';  // 81
  EXPECT_EQ(findUnit(text, u'%'), 40u);
  EXPECT_EQ(findUnit(text, u'%', 41), 81u);
  EXPECT_EQ(findUnit(text, u'%', 82), std::u16string_view::npos);
  EXPECT_EQ(findUnit(text, u'%', 1000), std::u16string_view::npos);
  EXPECT_EQ(findUnit(text, u'\u2525', 3), 3u);  // units beyond one byte are found too
  EXPECT_EQ(findUnit(u"", u'%'), std::u16string_view::npos);
  EXPECT_EQ(findUnit(u"a%b", u'%'), 1u);

  std::u16string straddle = std::u16string(40, u'x') + u"\u2500\u0025";  // bytes 00 25 25 00
  EXPECT_EQ(findUnit(straddle, u'%'), 41u);
}

TEST(WideText, KeyOrderIsTheOrderOfCodeUnits) {
  // The map of entries relies on this order for section ranges; compare it with the
  // string's own order on texts that share long prefixes and differ in either byte.
  std::mt19937 random(7);
  const std::u16string alphabet = u"aAz_/\u00FF\u0100\u01FF\u2500\uFFFF";
  std::vector<std::u16string> texts;
  for (int n = 0; n < 400; ++n) {
    std::u16string text = n % 2 == 0 ? u"install_actions/reg_str_value_" : u"";
    const int length = static_cast<int>(random() % 12);
    for (int k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
    texts.push_back(text);
  }
  const CodeUnitLess less;
  for (const auto& a : texts) {
    for (const auto& b : texts) {
      ASSERT_EQ(less(a, b), a < b) << "differ at the order of two keys";
    }
  }
}

}  // namespace
}  // namespace autorun
