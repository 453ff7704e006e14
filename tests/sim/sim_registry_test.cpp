// The simulated registry: keys and values, their types, depth and durable writes.
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
#include "sim/sim_registry_support.h"
#include "support/device_image.h"

namespace autorun::sim {
namespace {

using autorun::sim::registry_test::utf16Bytes;
using autorun::testing::DeviceImage;

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
