#include "common/config_text.h"

#include <gtest/gtest.h>

#include <string>

#include "base/config_store.h"
#include "support/test_keys.h"

namespace autorun::host {
namespace {

using testing::kOtherKey;
constexpr std::string_view kKey = testing::kTestKey;

TEST(ConfigText, DecodesEveryAcceptedSourceIntoCrLfLines) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::u16string expected = u"[common]\r\nbrand = \"\u00C5tlas\"\r\n";
  const Case cases[] = {
      {"UTF-8, LF", "[common]\nbrand = \"\xC3\x85tlas\"\n"},
      {"UTF-8, CR LF", "[common]\r\nbrand = \"\xC3\x85tlas\"\r\n"},
      {"UTF-8 with mark", "\xEF\xBB\xBF[common]\nbrand = \"\xC3\x85tlas\"\r\n"},
      {"UTF-8, lone CR", "[common]\rbrand = \"\xC3\x85tlas\"\r"},
      {"UTF-16LE with mark",
       std::string(
           "\xFF\xFE[\0c\0o\0m\0m\0o\0n\0]\0\r\0\n\0b\0r\0a\0n\0d\0 \0=\0 \0\"\0\xC5\0t\0l\0a\0s\0"
           "\"\0\r\0\n\0",
           2 + 2 * 27)},
      {"UTF-16LE without mark",
       std::string("[\0c\0o\0m\0m\0o\0n\0]\0\r\0\n\0b\0r\0a\0n\0d\0 \0=\0 \0\"\0\xC5\0t\0l\0a\0s\0"
                   "\"\0\r\0\n\0",
                   2 * 27)},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(isConfigurationSource(c.bytes)) << c.what;
    EXPECT_EQ(decodeConfigurationSource(c.bytes), expected) << c.what;
  }
  // UTF-16 is the installer's own form: its line ends stay as written.
  EXPECT_EQ(decodeConfigurationSource(std::string("\xFF\xFE"
                                                  "a\0\n\0b\0\r\0",
                                                  10)),
            u"a\nb\r");
  EXPECT_FALSE(isConfigurationSource("\x80\x81 not UTF-8"));
  EXPECT_FALSE(isConfigurationSource(std::string("\xFF\xFE\x41", 3)));  // odd UTF-16 length
}

TEST(ConfigText, EnciphersWithMarkAndDeciphersBack) {
  const std::u16string text = u"[common]\r\nbrand = \"Atlas\u20AC\"\r\n";
  const std::vector<std::uint8_t> file = encipherConfigurationText(text, kKey);
  ASSERT_EQ(file.size(), 2 + 2 * text.size());

  const std::string bytes(file.begin(), file.end());
  EXPECT_EQ(decipherConfigurationFile(bytes, kKey), text);
  EXPECT_EQ(decipherConfigurationFile(bytes, kOtherKey), std::nullopt);
  EXPECT_EQ(decipherConfigurationFile("", kKey), std::nullopt);

  // The installer's parser reads what the tool writes.
  ConfigStore store;
  std::vector<std::uint8_t> plain(2 + 2 * text.size());
  plain[0] = 0xFF;
  plain[1] = 0xFE;
  for (std::size_t k = 0; k < text.size(); ++k) {
    plain[2 + 2 * k] = static_cast<std::uint8_t>(text[k] & 0xFF);
    plain[3 + 2 * k] = static_cast<std::uint8_t>(text[k] >> 8);
  }
  ASSERT_TRUE(store.parseText(plain.data(), plain.size()));
  EXPECT_EQ(store.getString(u"common/brand", u""), u"Atlas\u20AC");
}

TEST(ConfigText, EnciphersTheEmptyTextAsTheMarkAlone) {
  const std::vector<std::uint8_t> file = encipherConfigurationText(u"", kKey);
  ASSERT_EQ(file.size(), 2u);
  EXPECT_EQ(decipherConfigurationFile(std::string(file.begin(), file.end()), kKey),
            std::u16string());
}

}  // namespace
}  // namespace autorun::host
