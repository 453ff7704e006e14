// The simulated registry: the text file format, keys and values, and durable writes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"
#include "support/device_image.h"

namespace autorun::sim {
namespace {

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

std::vector<std::uint8_t> utf16Bytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

// Types the installer never writes, a default value, escapes and a continued hex line.
constexpr std::string_view kForeignRegistry =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Atlas]\n"
    "@=\"the default\"\n"
    "\"Path\"=\"\\\\Storage Card\\\\Atlas \\\"quoted\\\"\"\n"
    "\"Count\"=dword:0000002a\n"
    "\"Expand\"=hex(2):25,00,57,00,49,00,4e,00,25,00,00,00\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "\"Blob\"=hex:00,01,02,fe,ff\n"
    "\"Quad\"=hex(b):01,00,00,00,00,00,00,80\n"
    "\"NoNul\"=hex(1):41,00\n"
    "\"ShortDword\"=hex(4):01,02\n"
    "\"Empty\"=hex:\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
    "  17,18,19,1a,1b,1c,1d,1e,1f,20\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Atlas\\Sub]\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Ätlas Ünicode]\n"
    "@=dword:ffffffff\n"
    "\n"
    "[HKEY_USERS\\.Default]\n"
    "\"x\"=\"\"\n";

struct ExpectedValue {
  RegistryRoot root;
  std::u16string key;
  std::u16string name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

std::vector<ExpectedValue> foreignValues() {
  std::vector<std::uint8_t> longBytes;
  for (int i = 0; i <= 0x20; ++i) longBytes.push_back(static_cast<std::uint8_t>(i));
  return {
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"", 1, utf16Bytes(u"the default")},
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"path", 1,
       utf16Bytes(u"\\Storage Card\\Atlas \"quoted\"")},
      {RegistryRoot::LocalMachine, u"SOFTWARE\\ATLAS", u"Count", 4, {0x2a, 0, 0, 0}},
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"Expand", 2, utf16Bytes(u"%WIN%")},
      {RegistryRoot::LocalMachine,
       u"Software\\Atlas",
       u"Multi",
       7,
       {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0}},
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"Blob", 3, {0, 1, 2, 0xfe, 0xff}},
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"Quad", 11, {1, 0, 0, 0, 0, 0, 0, 0x80}},
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"NoNul", 1, {0x41, 0}},
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"ShortDword", 4, {1, 2}},
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"Empty", 3, {}},
      {RegistryRoot::LocalMachine, u"Software\\Atlas", u"Long", 3, longBytes},
      {RegistryRoot::CurrentUser, u"Software\\ätlas ünicode", u"", 4, {0xff, 0xff, 0xff, 0xff}},
      {RegistryRoot::Users, u".default", u"X", 1, {0, 0}},
  };
}

void expectValues(PlatformServices& platform, const std::vector<ExpectedValue>& values) {
  for (const ExpectedValue& v : values) {
    SCOPED_TRACE(std::string(v.name.begin(), v.name.end()));
    auto key = platform.openKey(v.root, v.key);
    ASSERT_NE(key, nullptr);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(key->queryValue(v.name, type, data));
    EXPECT_EQ(type, v.type);
    EXPECT_EQ(data, v.data);
  }
}

TEST(SimRegistry, ValuesOfEveryTypeSurviveAReadAndARewrite) {
  DeviceImage image;
  image.writeRegistry(kForeignRegistry);
  {
    auto platform = image.platform();
    expectValues(*platform, foreignValues());
    // A change makes the platform write the whole file again.
    auto key = platform->createKey(RegistryRoot::LocalMachine, u"Software\\Atlas");
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->setDword(u"Installed", 1));
  }
  const std::string rewritten = image.registryText();
  EXPECT_NE(rewritten.find("\"Installed\"=dword:00000001"), std::string::npos);
  EXPECT_NE(rewritten.find("[HKEY_LOCAL_MACHINE\\Software\\Atlas\\Sub]"), std::string::npos);
  auto again = image.platform();
  expectValues(*again, foreignValues());
  EXPECT_NE(again->openKey(RegistryRoot::LocalMachine, u"software\\atlas\\sub"), nullptr);
  // Writing the same tree again gives the same text.
  EXPECT_EQ(formatRegistryText(parseRegistryText(rewritten, "registry.reg")), rewritten);
}

TEST(SimRegistry, KeysMatchWithoutRegardToCaseAndKeepTheirFirstName) {
  DeviceImage image;
  auto platform = image.platform();
  auto key = platform->createKey(RegistryRoot::LocalMachine, u"Software\\Atlas\\Today");
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(key->setString(u"Name", u"C:\\ \"x\""));
  EXPECT_TRUE(key->setDword(u"", 7));
  auto same = platform->createKey(RegistryRoot::LocalMachine, u"SOFTWARE\\atlas\\TODAY");
  ASSERT_NE(same, nullptr);
  EXPECT_TRUE(same->setDword(u"NAME", 3));  // replaces the string, keeps the name's case
  EXPECT_EQ(platform->openKey(RegistryRoot::CurrentUser, u"Software\\Atlas"), nullptr);

  const std::string text = image.registryText();
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Atlas\\Today]\n\"Name\"=dword:00000003\n"
                      "@=dword:00000007\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("SOFTWARE"), std::string::npos);

  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  auto reader = platform->openKey(RegistryRoot::LocalMachine, u"software\\ATLAS\\today");
  ASSERT_NE(reader, nullptr);
  ASSERT_TRUE(reader->queryValue(u"", type, data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{7, 0, 0, 0}));
  EXPECT_FALSE(reader->queryValue(u"Missing", type, data));

  // Key paths with empty components are refused, the root itself opens.
  EXPECT_EQ(platform->createKey(RegistryRoot::LocalMachine, u"Software\\\\Atlas"), nullptr);
  EXPECT_EQ(platform->createKey(RegistryRoot::LocalMachine, u"\\Software"), nullptr);
  EXPECT_NE(platform->openKey(RegistryRoot::LocalMachine, u""), nullptr);

  const auto& trace = platform->trace();
  ASSERT_GE(trace.size(), 4u);
  EXPECT_EQ(trace[0], (nlohmann::json{{"op", "create_key"},
                                      {"key", "HKEY_LOCAL_MACHINE\\Software\\Atlas\\Today"},
                                      {"ok", true}}));
  EXPECT_EQ(trace[1], (nlohmann::json{{"op", "set_value"},
                                      {"key", "HKEY_LOCAL_MACHINE\\Software\\Atlas\\Today"},
                                      {"name", "Name"},
                                      {"type", "string"},
                                      {"value", "C:\\ \"x\""},
                                      {"ok", true}}));
  EXPECT_EQ(trace[2]["name"], "");
  EXPECT_EQ(trace[2]["value"], 7);
}

TEST(SimRegistry, DeletingAKeyTakesEverythingBelowIt) {
  DeviceImage image;
  auto platform = image.platform();
  ASSERT_NE(platform->createKey(RegistryRoot::CurrentUser, u"Software\\Atlas\\A\\B\\C"), nullptr);
  auto deep = platform->openKey(RegistryRoot::CurrentUser, u"Software\\Atlas\\A\\B");
  ASSERT_NE(deep, nullptr);
  EXPECT_TRUE(deep->setDword(u"v", 1));
  auto parent = platform->createKey(RegistryRoot::CurrentUser, u"Software\\Atlas");
  ASSERT_NE(parent, nullptr);
  EXPECT_FALSE(parent->deleteSubkeyTree(u"Missing"));
  EXPECT_FALSE(parent->deleteSubkeyTree(u""));
  EXPECT_TRUE(parent->deleteSubkeyTree(u"a"));
  EXPECT_EQ(platform->trace().back(), (nlohmann::json{{"op", "delete_key"},
                                                      {"key", "HKEY_CURRENT_USER\\Software\\Atlas"},
                                                      {"subkey", "a"},
                                                      {"ok", true}}));
  EXPECT_EQ(platform->openKey(RegistryRoot::CurrentUser, u"Software\\Atlas\\A"), nullptr);
  EXPECT_NE(platform->openKey(RegistryRoot::CurrentUser, u"Software\\Atlas"), nullptr);
  // A handle to a deleted key no longer reaches anything.
  EXPECT_FALSE(deep->setDword(u"v", 2));
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  EXPECT_FALSE(deep->queryValue(u"v", type, data));
  EXPECT_EQ(image.registryText().find("Atlas\\A"), std::string::npos);
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

// Keys nest at most 512 levels; nothing that walks a tree recurses on its depth.
TEST(SimRegistry, KeysNestAtMost512Levels) {
  DeviceImage image;
  std::u16string deepest;
  for (std::size_t i = 0; i < kMaxRegistryDepth; ++i) deepest += i == 0 ? u"k" : u"\\k";
  image.writeRegistry("Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\" +
                      host::toUtf8(deepest) + "]\n\"v\"=dword:00000001\n");
  auto platform = image.platform();
  EXPECT_NE(platform->openKey(RegistryRoot::Users, deepest), nullptr);
  EXPECT_NE(platform->createKey(RegistryRoot::LocalMachine, deepest), nullptr);
  EXPECT_EQ(platform->createKey(RegistryRoot::LocalMachine, deepest + u"\\k"), nullptr);
  auto top = platform->openKey(RegistryRoot::LocalMachine, u"");
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(top->deleteSubkeyTree(u"k"));

  // A tree far deeper than any file may hold is released and marked without recursion.
  auto chain = std::make_shared<RegistryNode>(u"top");
  RegistryNode* last = chain.get();
  for (int i = 0; i < 100000; ++i) last = last->addChild(u"k").get();
  markDeleted(*chain, true);
  EXPECT_TRUE(last->deleted);
  chain.reset();
}

// A read-only registry.reg is never replaced: a change fails as a write failure does.
TEST(SimRegistry, AReadOnlyFileIsNotChanged) {
  DeviceImage image;
  image.writeRegistry(std::string(kEditorExport));
  const std::filesystem::path file = image.dir() / "registry.reg";
  std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  auto platform = image.platform();
  auto key = platform->openKey(RegistryRoot::CurrentUser, u"Software\\AutorunRoundTrip");
  ASSERT_NE(key, nullptr);
  EXPECT_FALSE(key->setDword(u"Count", 1));
  EXPECT_FALSE(key->deleteSubkeyTree(u"A"));
  EXPECT_EQ(platform->createKey(RegistryRoot::CurrentUser, u"Software\\New"), nullptr);
  EXPECT_EQ(image.registryText(), kEditorExport);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                std::filesystem::perms::others_read);
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(key->queryValue(u"Count", type, data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0x2a, 0, 0, 0}));
  EXPECT_NE(platform->openKey(RegistryRoot::CurrentUser, u"Software\\AutorunRoundTrip\\A"),
            nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(image.dir() / "fs" / "Storage Card"));
}

TEST(SimRegistry, AMissingFileIsAnEmptyRegistry) {
  DeviceImage image;
  std::filesystem::remove(image.dir() / "registry.reg");
  auto platform = image.platform();
  EXPECT_EQ(platform->openKey(RegistryRoot::LocalMachine, u"Software"), nullptr);
  auto key = platform->createKey(RegistryRoot::LocalMachine, u"Software\\Atlas");
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(key->setString(u"Line\nBreak", u"x") == false);  // names with line breaks are refused
  EXPECT_TRUE(key->setString(u"Text", u"two\r\nlines"));
  auto again = image.platform();
  auto reread = again->openKey(RegistryRoot::LocalMachine, u"Software\\Atlas");
  ASSERT_NE(reread, nullptr);
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  ASSERT_TRUE(reread->queryValue(u"Text", type, data));
  EXPECT_EQ(type, kRegString);
  EXPECT_EQ(data, utf16Bytes(u"two\r\nlines"));
}

// A child process writes the registry in a loop; killing it at any moment must leave a
// file that reads whole.
TEST(SimRegistry, AKilledRunLeavesAWholeFile) {
  DeviceImage image;
  {
    auto platform = image.platform();
    auto key = platform->createKey(RegistryRoot::LocalMachine, u"Software\\Atlas");
    for (int i = 0; i < 200; ++i)
      key->setString(
          u"Filler" + std::u16string(1, u'A' + i % 26) + u"_" + std::u16string(1, u'0' + i % 10),
          std::u16string(200, u'x'));
  }
  const std::chrono::microseconds delays[] = {
      std::chrono::microseconds(200), std::chrono::microseconds(1000),
      std::chrono::microseconds(3000), std::chrono::microseconds(7000),
      std::chrono::microseconds(15000)};
  for (const auto delay : delays) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        auto platform = image.platform();
        auto key = platform->createKey(RegistryRoot::LocalMachine, u"Software\\Atlas");
        for (std::uint32_t i = 0;; ++i) {
          key->setDword(u"Counter", i);
          key->setString(u"Text", std::u16string(i % 500, u'y'));
        }
      } catch (...) {
      }
      ::_exit(1);
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string text = image.registryText();
    EXPECT_NO_THROW(parseRegistryText(text, "registry.reg"));
    EXPECT_NO_THROW(image.platform());
  }
}

}  // namespace
}  // namespace autorun::sim
