// Bad configuration files from a hand-made card, and bad configuration texts straight into
// the parser, and what each must give. The tables here are the ones in the README ("What
// happens when ...").
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/config_store.h"
#include "context/config_loader.h"

#include "hardening/bad_input_support.h"
#include "hardening/hardening_fixture.h"

namespace autorun::testing::hardening {
namespace {

// ---- Configuration files -------------------------------------------------------------------

struct ConfigurationFileCase {
  const char* what;
  std::function<std::string()> file;
  int loadResult;
  const char* message;      // the fatal message box, or null for none
  bool systemCopy = false;  // a usable configuration also lies in the system folder
};

std::string paddedTo(std::size_t bytes) {
  std::u16string text = withCrLf(kSmallConfiguration);
  const std::size_t room = (bytes - 2) / 2 - text.size();  // code units left for the padding
  text += u";" + std::u16string(room - 1, u'x');
  std::string file = encipher(utf16(text), kTestKey);
  if (file.size() < bytes) file.push_back('\0');  // an odd size: one byte more
  return file;
}

// The configuration with `references` entries that each refer to one value of 20000
// characters.
std::string withReferences(int references) {
  std::u16string text = withCrLf(kSmallConfiguration);
  text += u"[big]\r\nv = \"" + std::u16string(20000, u'x') + u"\"\r\n";
  for (int n = 1; n <= references; ++n) {
    text += u"r" + host::fromUtf8(std::to_string(n)) + u" = \"${v}\"\r\n";
  }
  return encipher(utf16(text), kTestKey);
}

const ConfigurationFileCase kConfigurationFiles[] = {
    {"of 0 bytes", [] { return std::string(); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"of 1 byte", [] { return std::string("\x42"); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"of 100000 bytes", [] { return paddedTo(100000); }, kLoadOk, nullptr},
    {"of 100001 bytes", [] { return paddedTo(100001); }, kLoadCannotOpen,
     "Fatal error: cannot open configuration file. (1)"},
    {"of 100001 bytes beside a usable system copy", [] { return paddedTo(100001); },
     kLoadCannotOpen, "Fatal error: cannot open configuration file. (1)", true},
    {"enciphered under another key",
     [] { return encipher(utf16(withCrLf(kSmallConfiguration)), kOtherKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"not enciphered", [] { return utf16(withCrLf(kSmallConfiguration)); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"in plain UTF-8", [] { return encipher(kSmallConfiguration, kTestKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"in UTF-16 without the mark",
     [] { return encipher(utf16(withCrLf(kSmallConfiguration), false), kTestKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"holding only the mark", [] { return encipher("\xFF\xFE", kTestKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"with a brand but no website",
     [] { return encipher(utf16(u"[common]\r\nbrand = \"Atlas\"\r\n"), kTestKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
    {"with 250 references to a value of 20000 characters", [] { return withReferences(250); },
     kLoadOk, nullptr},
    {"whose references pull in more than 16 Mi characters", [] { return withReferences(900); },
     kLoadInvalid, "Fatal error: configuration is invalid. (3)"},
    {"in UTF-16 with lines ended by LF alone",
     [] { return encipher(utf16(host::fromUtf8(kSmallConfiguration)), kTestKey); }, kLoadInvalid,
     "Fatal error: configuration is invalid. (3)"},
};

TEST(BadInput, ConfigurationFiles) {
  for (const ConfigurationFileCase& c : kConfigurationFiles) {
    SCOPED_TRACE(std::string("a configuration file ") + c.what);
    DeviceImage image;
    const std::string file = c.file();
    if (std::string(c.what).find("100000 bytes") != std::string::npos) {
      ASSERT_EQ(file.size(), 100000u);
    }
    if (std::string(c.what).find("100001 bytes") != std::string::npos) {
      ASSERT_EQ(file.size(), 100001u);
    }
    image.writeFile(u"\\Storage Card\\2577\\autorun_8.qlm", file);
    if (c.systemCopy) image.writeConfiguration(kSmallConfiguration, u"\\Windows\\autorun_8.qlm");
    const auto device = image.platform();
    InstallerContext context(*device, std::string(kTestKey));
    context.moduleHandle = sim::SimPlatform::kModuleHandle;
    EXPECT_EQ(loadConfiguration(context), c.loadResult);
    const std::vector<std::string> shown = messageBoxes(*device);
    if (c.message == nullptr) {
      EXPECT_TRUE(shown.empty());
    } else {
      EXPECT_EQ(shown, std::vector<std::string>{c.message});
    }
  }
}

// ---- Configuration texts, straight into the parser --------------------------------------------

struct ParsedText {
  ConfigStore store;
  bool parsed = false;
  std::size_t storedUnits = 0;
};

std::unique_ptr<ParsedText> parse(const std::u16string& text) {
  auto out = std::make_unique<ParsedText>();
  const std::string bytes = utf16(text);
  out->parsed =
      out->store.parseText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  for (const auto& [key, value] : out->store.entries())
    out->storedUnits += key.size() + value.size();
  return out;
}

TEST(BadInput, LinesOfOneMegabyte) {
  const std::u16string megabyte(1 << 20, u'v');
  // An entry: stored whole.
  auto entry = parse(u"[s]\r\nlong = \"" + megabyte + u"\"\r\nafter = \"1\"");
  EXPECT_TRUE(entry->parsed);
  EXPECT_EQ(entry->store.getString(u"s/long", u"").size(), megabyte.size());
  EXPECT_EQ(entry->store.getString(u"s/after", u""), u"1");
  // A name of 1 MB is stored; a header of 1 MB with spaces in it and a line of 1 MB
  // without "=" change nothing, and the text goes on.
  std::u16string spaced;
  while (spaced.size() < megabyte.size()) spaced += u"a b ";
  auto name = parse(u"[s]\r\n" + megabyte + u" = \"x\"\r\n[" + spaced + u"]\r\n" + megabyte +
                    u"\r\nafter = \"1\"");
  EXPECT_TRUE(name->parsed);
  EXPECT_EQ(name->store.entries().size(), 2u);
  EXPECT_EQ(name->store.getString(u"s/" + megabyte, u""), u"x");
  EXPECT_EQ(name->store.getString(u"s/after", u""), u"1");
}

TEST(BadInput, HundredThousandEntries) {
  std::u16string text = u"[list]\r\n";
  for (int n = 1; n <= 100000; ++n) {
    text += u"src_" + host::fromUtf8(std::to_string(n)) + u" = \"\\\\Atlas\\\\file\"\r\n";
  }
  auto parsed = parse(text);
  EXPECT_EQ(parsed->store.entries().size(), 100000u);
  EXPECT_EQ(parsed->store.getString(u"list/src_100000", u""), u"\\Atlas\\file");
}

// Each entry refers twice to the one before: a 100000-byte file would describe values of
// 2^3000 characters.
TEST(BadInput, DeeplyChainedReferences) {
  std::u16string text = u"[c]\r\na0 = \"0123456789abcdef\"";
  int entries = 1;
  for (; text.size() < 49000; ++entries) {
    const std::u16string previous = u"a" + host::fromUtf8(std::to_string(entries - 1));
    text += u"\r\na" + host::fromUtf8(std::to_string(entries)) + u" = \"${" + previous + u"}${" +
            previous + u"}\"";
  }
  ASSERT_LE(utf16(text).size(), kMaxConfigurationFileSize);
  const auto started = std::chrono::steady_clock::now();
  auto parsed = parse(text);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_TRUE(parsed->parsed);
  EXPECT_EQ(parsed->store.entries().size(), static_cast<std::size_t>(entries));
  EXPECT_EQ(parsed->store.getString(u"c/a1", u""), u"0123456789abcdef0123456789abcdef");
  // The bound is reached, which makes loading refuse the configuration (result 3).
  EXPECT_TRUE(parsed->store.expansionLimitReached());
  // Stored text stays within a small multiple of the file (a few million code units).
  EXPECT_LE(parsed->storedUnits, std::size_t{64} << 20);
  std::printf("%d chained entries: %zu code units stored in %.1f s\n", entries, parsed->storedUnits,
              seconds);

  // A chain of single references resolves to the first value at any depth.
  std::u16string single = u"[c]\r\nb0 = \"x\"";
  for (int n = 1; n < 5000; ++n) {
    single += u"\r\nb" + host::fromUtf8(std::to_string(n)) + u" = \"${b" +
              host::fromUtf8(std::to_string(n - 1)) + u"}\"";
  }
  EXPECT_EQ(parse(single)->store.getString(u"c/b4999", u""), u"x");
  // A reference to itself, or to one not yet defined, gives the empty text.
  auto self = parse(u"[c]\r\nme = \"<${me}>\"\r\nearly = \"${late}\"\r\nlate = \"1\"");
  EXPECT_EQ(self->store.getString(u"c/me", u"?"), u"<>");
  EXPECT_EQ(self->store.getString(u"c/early", u"?"), u"");
}

}  // namespace
}  // namespace autorun::testing::hardening
