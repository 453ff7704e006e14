#include "config/wide_text.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace autorun
