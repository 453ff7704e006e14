// The simulated registry's file: the encodings and first lines other tools write, what a
// malformed file gives, and what a file in a narrow code page cannot hold.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"
#include "sim/sim_registry_support.h"
#include "support/device_image.h"

namespace autorun::sim {
namespace {

using autorun::sim::registry_test::utf16Bytes;
using autorun::testing::DeviceImage;

std::string repeated(std::string_view text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// A file as the registry editor writes it: UTF-16LE after its mark, lines ended by CR LF.
std::string utf16File(std::string_view utf8) {
  std::string out = "\xFF\xFE";
  for (char16_t c : host::fromUtf8(utf8)) {
    if (c == u'\n') out += std::string("\r\0", 2);
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

TEST(SimRegistry, MalformedFilesAreReportedWithTheirLineAndNeverWritten) {
  const std::string header = "Windows Registry Editor Version 5.00\n";
  struct Case {
    std::string text;
    int line;
  };
  const Case cases[] = {
      {"", 1},
      {"REGEDIT 4\n", 1},
      {"\n\n  \n", 3},
      {header + "\n\"x\"=dword:1\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\Software\n", 2},
      {header + "[HKEY_NOWHERE\\Software]\n", 2},
      {header + "[HKLM\\Software]\n", 2},
      {header + "[HKEY_LOCAL_MACHINE\\Software\\\\A]\n", 2},
      {header + "[-HKEY_LOCAL_MACHINE\\Software]\n", 2},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:123456789\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:12g4\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:1,2,zz\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(zz):01\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"open\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\\nb\"\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\" trailing\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=-\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\" dword:1\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\n\nname=dword:1\n", 5},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"\xff\"=dword:1\n", 3},
      // A continued hex list goes on with hex bytes, after blank lines and comments only.
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex: \\\n\n\"y\"=dword:1\n", 5},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex: \\\n\n", 4},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n; note\n[HKEY_USERS\\B]\n", 5},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01\\\n02\n", 3},
      {header + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,02,\n", 3},
      // Keys nest at most 512 levels.
      {header + "[HKEY_LOCAL_MACHINE" + repeated("\\k", 513) + "]\n", 2},
      {header + "\n[HKEY_LOCAL_MACHINE" + repeated("\\k", 200000) + "]\n", 3},
      // Bytes that are not text in the file's charset.
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"\x81\"\n", 3},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(2):41,81,00\n", 3},
      {utf16File(header + "[HKEY_LOCAL_MACHINE\\A]\n") + "x", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    DeviceImage image;
    image.writeRegistry(c.text);
    const std::string where =
        (image.dir() / "registry.reg").string() + ":" + std::to_string(c.line) + ":";
    try {
      image.platform();
      ADD_FAILURE() << "no error";
    } catch (const SimError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(where, 0), 0u) << error.what();
    }
    EXPECT_EQ(image.registryText(), c.text);
  }
}

TEST(SimRegistry, ReadsWhatOtherToolsWrite) {
  DeviceImage image;
  image.writeRegistry(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Atlas]\r\n"
      "\"Count\"=dword:2A\r\n"
      "\"Bytes\"=hex:01, 02,\\\r\n"
      "    03\r\n"
      // Blank lines and comments inside a continued list are skipped, as the registry
      // editor skips them.
      "\"Gap\"=hex: \\\r\n"
      "\r\n"
      "; between\r\n"
      "  04,\\\r\n"
      "  05\r\n");
  auto platform = image.platform();
  auto key = platform->openKey(RegistryRoot::LocalMachine, u"Software\\Atlas");
  ASSERT_NE(key, nullptr);
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(key->queryValue(u"count", type, data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0x2a, 0, 0, 0}));
  ASSERT_TRUE(key->queryValue(u"Bytes", type, data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{1, 2, 3}));
  ASSERT_TRUE(key->queryValue(u"Gap", type, data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{4, 5}));
}

// What wine's regedit /E writes (here in UTF-8 with LF), byte for byte.
constexpr std::string_view kEditorExport =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\AutorunRoundTrip]\n"
    "@=\"default\"\n"
    "\"Blob\"=hex:00,01,fe,ff\n"
    "\"Count\"=dword:0000002a\n"
    "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\n"
    "  00,25,00,5c,00,10,04,42,04,3b,04,30,04,41,04,00,00\n"
    "\"Multi\"=hex(7):3e,04,34,04,38,04,3d,04,00,00,74,00,77,00,6f,00,00,00,00,00\n"
    "\"Text\"=\"Атлас Ünïcode\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\AutorunRoundTrip\\A]\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\AutorunRoundTrip\\A\\B]\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\AutorunRoundTrip\\A\\B\\C]\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\AutorunRoundTrip\\A\\B\\C\\D]\n"
    "\"Deep\"=\"deep \\\"quoted\\\" \\\\back\"\n"
    "\n";

// The same in a "REGEDIT4" file: texts, also those of hex(2), in the code page (1252,
// 1250 and UTF-8 all hold "Café Über").
constexpr std::string_view kEditor4Export =
    "REGEDIT4\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\AutorunRoundTrip]\n"
    "\"Expand\"=hex(2):25,57,49,4e,25,00\n"
    "\"Text\"=\"Café Über\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\AutorunRoundTrip\\A\\B]\n"
    "@=dword:00000007\n"
    "\n";

std::string withCrLf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

// The bytes of the UTF-8 text in a single-byte code page (Latin letters only).
std::string inCodePage(std::string_view utf8, int codePage) {
  const std::u16string text = host::fromUtf8(utf8);
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (codePage == 1252) {
      out.push_back(static_cast<char>(c));  // Latin-1 letters keep their numbers there
    } else if (codePage == 1250 && (c == u'é' || c == u'Ü' || c == u'Ä' || c == u'ß')) {
      out.push_back(static_cast<char>(c));  // and in 1250 these do too
    } else {
      ADD_FAILURE() << "no byte for U+" << std::hex << static_cast<int>(c);
    }
  }
  return out;
}

void expectText(PlatformServices& platform, std::u16string_view key, std::u16string_view name,
                std::uint32_t type, std::u16string_view text) {
  auto handle = platform.openKey(RegistryRoot::CurrentUser, std::u16string(key));
  ASSERT_NE(handle, nullptr);
  std::uint32_t actualType = 0;
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(handle->queryValue(std::u16string(name), actualType, data));
  EXPECT_EQ(actualType, type);
  EXPECT_EQ(data, utf16Bytes(text));
}

// Each encoding is read, written back unchanged byte for byte, and a change keeps it.
TEST(SimRegistry, FilesAreReadAndWrittenBackInTheirOwnEncoding) {
  struct Case {
    const char* what;
    std::string bytes;
    int codePage;               // the device's
    std::string newLine;        // how the change below must appear in the file
    std::u16string expandText;  // the hex(2) value, read
  };
  const std::u16string expand5 = u"%SystemRoot%\\Атлас";
  const Case cases[] = {
      {"UTF-16LE with its mark, as the registry editor writes it", utf16File(kEditorExport), 1252,
       utf16File("\"New\"=\"Ärger ß\"\n").substr(2), expand5},
      {"UTF-8 without a mark", std::string(kEditorExport), 1252, "\"New\"=\"Ärger ß\"\n", expand5},
      {"UTF-8 with a mark and CR LF", "\xEF\xBB\xBF" + withCrLf(kEditorExport), 1252,
       "\"New\"=\"Ärger ß\"\r\n", expand5},
      {"REGEDIT4 in code page 1252", inCodePage(withCrLf(kEditor4Export), 1252), 1252,
       "\"New\"=\"\xC4rger \xDF\"\r\n", u"%WIN%"},
      {"REGEDIT4 in code page 1250", inCodePage(kEditor4Export, 1250), 1250,
       "\"New\"=\"\xC4rger \xDF\"\n", u"%WIN%"},
      {"REGEDIT4 on a UTF-8 device", std::string(kEditor4Export), 65001, "\"New\"=\"Ärger ß\"\n",
       u"%WIN%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegistryFormat format;
    const RegistryTree tree = parseRegistryText(c.bytes, "registry.reg", c.codePage, &format);
    EXPECT_EQ(formatRegistryText(tree, format), c.bytes);

    DeviceImage image;
    image.writeDeviceJson({{"code_page", c.codePage}});
    image.writeRegistry(c.bytes);
    {
      auto platform = image.platform();
      const bool four = c.expandText == u"%WIN%";
      expectText(*platform, u"Software\\AutorunRoundTrip", u"Text", kRegString,
                 four ? u"Café Über" : u"Атлас Ünïcode");
      expectText(*platform, u"Software\\AutorunRoundTrip", u"Expand", 2, c.expandText);
      auto key = platform->createKey(RegistryRoot::CurrentUser, u"Software\\AutorunRoundTrip");
      ASSERT_NE(key, nullptr);
      EXPECT_TRUE(key->setString(u"New", u"Ärger ß"));
    }
    const std::string written = image.registryText();
    EXPECT_EQ(written.substr(0, 20), c.bytes.substr(0, 20));  // the mark and the header
    EXPECT_NE(written.find(c.newLine), std::string::npos);
    EXPECT_EQ(written.size(), c.bytes.size() + c.newLine.size());
    auto again = image.platform();
    expectText(*again, u"Software\\AutorunRoundTrip", u"New", kRegString, u"Ärger ß");
    expectText(*again, u"Software\\AutorunRoundTrip", u"Expand", 2, c.expandText);
  }
}

// A "REGEDIT4" file holds only what its code page can: a change it cannot hold fails as a
// registry write fails, and the file stays as it was.
TEST(SimRegistry, AChangeTheFileCannotHoldFails) {
  DeviceImage image;
  const std::string bytes = inCodePage(kEditor4Export, 1252);
  image.writeRegistry(bytes);
  auto platform = image.platform();
  auto key = platform->createKey(RegistryRoot::CurrentUser, u"Software\\AutorunRoundTrip");
  ASSERT_NE(key, nullptr);
  EXPECT_FALSE(key->setString(u"Text", u"Атлас"));
  EXPECT_FALSE(key->setString(u"Имя", u"x"));
  EXPECT_EQ(platform->createKey(RegistryRoot::CurrentUser, u"Software\\Атлас"), nullptr);
  EXPECT_EQ(image.registryText(), bytes);
  expectText(*platform, u"Software\\AutorunRoundTrip", u"Text", kRegString, u"Café Über");
  EXPECT_EQ(platform->trace().back()["ok"], false);
  EXPECT_TRUE(key->setString(u"Text", u"Çà"));
}

TEST(SimRegistry, AWrongFirstLineSaysWhatItFound) {
  struct Case {
    std::string bytes;
    std::string message;  // what follows "registry.reg:1: "
  };
  const std::string expected = "the first line must be \"Windows Registry Editor Version 5.00\"";
  const std::string orRegedit4 =
      expected + " (or \"REGEDIT4\" for a file in the device's code page)";
  const Case cases[] = {
      {utf16File("Windows Registry Editor Version 4.00\n"),
       expected + ", found \"Windows Registry Editor Version 4.00\""},
      {utf16File("REGEDIT4\n"), expected + ", found \"REGEDIT4\""},
      {"REGEDIT5\r\n", orRegedit4 + ", found \"REGEDIT5\""},
      {"\x89PNG\r\n\x1a\n", orRegedit4 + ", found \"\\x89PNG\""},
      {"Windows \"Registry\"\x01\n", orRegedit4 + ", found \"Windows \\\"Registry\\\"\\x01\""},
      {"Реестр\n", orRegedit4 + ", found \"Реестр\""},
      {"", orRegedit4 + ", found nothing"},
      {"\xFE\xFF\0W", "UTF-16 big-endian is not read"},
      {std::string("W\0i\0n\0", 6), "UTF-16 without a byte-order mark is not read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      parseRegistryText(c.bytes, "registry.reg");
      ADD_FAILURE() << "no error";
    } catch (const SimError& error) {
      EXPECT_EQ(std::string(error.what()).rfind("registry.reg:1: " + c.message, 0), 0u)
          << error.what();
    }
  }
}

}  // namespace
}  // namespace autorun::sim
