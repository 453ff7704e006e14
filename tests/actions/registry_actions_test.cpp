// Registry locations, and the registry actions and backup on the in-memory device. The
// order of the calls a write or a deletion makes is in action_calls_test.cpp.
#include "actions/registry_actions.h"

#include "actions_fixture.h"

namespace autorun::testing {
namespace {

using sim::Operation;
using Key = MemoryPlatform::Key;
using Value = MemoryPlatform::Value;

Value dwordValue(std::uint32_t value) {
  return {kRegDword,
          {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
           static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}};
}
Value stringValue(std::u16string_view text) {
  Bytes data;
  for (char16_t c : text) data.insert(data.end(), {static_cast<std::uint8_t>(c), 0});
  data.insert(data.end(), {0, 0});
  return {kRegString, std::move(data)};
}

TEST(ParseRegistryLocationTest, RootKeyPathAndName) {
  const struct {
    std::u16string text;
    std::optional<RegistryRoot> root;
    std::u16string keyPath;
    std::u16string name;
  } cases[] = {
      {u"HKLM\\Software\\A\\B", RegistryRoot::LocalMachine, u"Software\\A", u"B"},
      {u"HKCU\\Software\\A\\", RegistryRoot::CurrentUser, u"Software\\A", u""},  // default value
      {u"HKUS\\Key\\Value", RegistryRoot::Users, u"Key", u"Value"},
      {u"HKLM\\\\Value", RegistryRoot::LocalMachine, u"", u"Value"},
      // No root: the name is case-sensitive, the text starts with it, and a key path
      // must be followed by a backslash.
      {u"hklm\\Software\\A\\B", std::nullopt, u"", u""},
      {u"HKEY_LOCAL_MACHINE\\Software\\A", std::nullopt, u"", u""},
      {u"HKLMX\\Software\\A", std::nullopt, u"", u""},
      {u"\\HKLM\\Software\\A", std::nullopt, u"", u""},
      {u"HKLM\\Software", std::nullopt, u"", u""},
      {u"HKLM", std::nullopt, u"", u""},
      {u"", std::nullopt, u"", u""},
  };
  for (const auto& c : cases) {
    const RegistryLocation parsed = parseRegistryLocation(c.text);
    const std::string label(c.text.begin(), c.text.end());
    EXPECT_EQ(parsed.root, c.root) << label;
    EXPECT_EQ(parsed.keyPath, c.keyPath) << label;
    EXPECT_EQ(parsed.name, c.name) << label;
  }
}

TEST(ParseRegistryLocationTest, TextLongerThanTheDeviceHoldsHasNoRoot) {
  const std::u16string fits = u"HKLM\\" + std::u16string(249, u'k') + u"\\name";
  ASSERT_EQ(fits.size(), kMaxPathLength);
  EXPECT_TRUE(parseRegistryLocation(fits).root.has_value());
  EXPECT_FALSE(parseRegistryLocation(fits + u"x").root.has_value());
}

class RegistryActionsTest : public ActionsTest {
 protected:
  // The key as the device holds it; empty when it does not exist.
  Key key(RegistryRoot root, const std::u16string& path) const {
    const auto found = device.registry.find({root, path});
    return found == device.registry.end() ? Key{} : found->second;
  }
  bool exists(RegistryRoot root, const std::u16string& path) const {
    return device.registry.count({root, path}) != 0;
  }
};

TEST_F(RegistryActionsTest, TrailingBackslashWritesTheDefaultValue) {
  writeRegistryString(platform, u"HKCU\\Software\\A\\", u"text");
  EXPECT_EQ(key(RegistryRoot::CurrentUser, u"Software\\A"), (Key{{u"", stringValue(u"text")}}));
  EXPECT_EQ(calls(Operation::CreateKey), 1u);
  EXPECT_EQ(calls(Operation::KeyFlush), 1u);
}

TEST_F(RegistryActionsTest, UnrecognisedLocationsTouchNothing) {
  for (const std::u16string text : {u"hklm\\Software\\A\\B", u"HKXX\\Software\\A\\B", u"HKLM\\A"}) {
    writeRegistryDword(platform, text, 1);
    writeRegistryString(platform, text, u"x");
    EXPECT_EQ(readRegistryDword(platform, text), kAbsentMarker);
    EXPECT_EQ(readRegistryString(platform, text), u"");
    EXPECT_FALSE(tryReadRegistryDword(platform, text).has_value());
  }
  // A deletion without a root deletes nothing but still tells the shell.
  EXPECT_FALSE(deleteRegistryKey(platform, std::nullopt, u"Software", u"A"));
  EXPECT_EQ(calls(Operation::CreateKey), 0u);
  EXPECT_EQ(calls(Operation::OpenKey), 0u);
  EXPECT_TRUE(device.registry.empty());
  EXPECT_EQ(device.broadcasts, 1);
}

TEST_F(RegistryActionsTest, WriteSkippedWhenTheKeyCannotBeOpened) {
  platform.failNth(Operation::CreateKey, 1);
  writeRegistryDword(platform, u"HKLM\\Software\\A\\B", 1);  // nothing to fail on
  EXPECT_EQ(platform.failureCount(Operation::CreateKey), 1u);
  EXPECT_TRUE(device.registry.empty());
}

TEST_F(RegistryActionsTest, ReadsDwordWhateverTheTypeWhenItFits) {
  const struct {
    std::vector<std::uint8_t> data;
    bool present;
    std::uint32_t value;
  } cases[] = {
      {{0x2a, 0, 0, 0}, true, 42},
      {{0xff, 0xff, 0xff, 0xff}, true, 0xffffffffu},
      {{0x01, 0x02}, true, 0x0201},
      {{1, 2, 3, 4, 5}, false, 0},  // longer than 32 bits
  };
  for (const auto& c : cases) {
    device.registry[{RegistryRoot::LocalMachine, u"K"}] = {{u"V", {kRegString, c.data}}};
    const std::optional<std::uint32_t> read = tryReadRegistryDword(platform, u"HKLM\\K\\V");
    EXPECT_EQ(read.has_value(), c.present);
    EXPECT_EQ(read.value_or(0), c.value);
  }
  device.registry[{RegistryRoot::LocalMachine, u"K"}] = {};
  EXPECT_EQ(readRegistryDword(platform, u"HKLM\\K\\V"), kAbsentMarker);
  EXPECT_EQ(readRegistryDword(platform, u"HKLM\\Gone\\V"), kAbsentMarker);
  EXPECT_EQ(calls(Operation::OpenKey), 6u);  // one for each read
}

TEST_F(RegistryActionsTest, ReadsStringUpToItsFirstNul) {
  const struct {
    std::vector<std::uint8_t> data;
    std::u16string text;
  } cases[] = {
      {{'a', 0, 'b', 0, 0, 0}, u"ab"},
      {{'a', 0, 0, 0, 'b', 0, 0, 0}, u"a"},  // a multi-string ends at its first NUL
      {{'a', 0, 'b', 0}, u"ab"},             // stored without NUL
      {{0x2a, 0, 0, 0}, u"*"},               // a number read as text
      {{'a', 0, 'b'}, u"ab"},                // odd length
      {{}, u""},
  };
  for (const auto& c : cases) {
    device.registry[{RegistryRoot::Users, u"K"}] = {{u"V", {kRegDword, c.data}}};
    const std::optional<std::u16string> read = tryReadRegistryString(platform, u"HKUS\\K\\V");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, c.text);
  }
  device.registry[{RegistryRoot::Users, u"K"}] = {};
  EXPECT_FALSE(tryReadRegistryString(platform, u"HKUS\\K\\V").has_value());
  EXPECT_EQ(calls(Operation::OpenKey), 7u);  // one for each read
}

TEST_F(RegistryActionsTest, FailedDeleteStillBroadcasts) {
  device.registry[{RegistryRoot::LocalMachine, u"Software\\A"}] = {};  // without a subkey B
  EXPECT_FALSE(deleteRegistryKey(platform, RegistryRoot::LocalMachine, u"Software\\A", u"B"));
  EXPECT_EQ(calls(Operation::KeyDeleteSubkeyTree), 1u);
  EXPECT_EQ(calls(Operation::KeyFlush), 1u);
  EXPECT_EQ(device.broadcasts, 1);

  platform.failNth(Operation::CreateKey, 1);
  EXPECT_FALSE(deleteRegistryKey(platform, RegistryRoot::CurrentUser, u"X", u"B"));
  EXPECT_EQ(platform.failureCount(Operation::CreateKey), 1u);
  EXPECT_EQ(device.broadcasts, 2);
}

TEST_F(RegistryActionsTest, EmptySubkeyNameDeletesNothing) {
  // "HKLM\Software\Atlas\" would otherwise take the whole Atlas branch.
  device.setDword(RegistryRoot::LocalMachine, u"Software\\Atlas", u"Installed", 1);
  set(u"uninstall_actions/remove_reg_1", u"HKLM\\Software\\Atlas\\");
  runRemoveRegistryActions(context, u"uninstall_actions");
  EXPECT_EQ(calls(Operation::CreateKey), 0u);
  EXPECT_TRUE(exists(RegistryRoot::LocalMachine, u"Software\\Atlas"));
  EXPECT_EQ(device.broadcasts, 1);
}

TEST_F(RegistryActionsTest, RemoveListDeletesEachEntryWithOneBroadcastEach) {
  device.setDword(RegistryRoot::LocalMachine, u"Software\\A\\B", u"V", 1);
  device.setDword(RegistryRoot::LocalMachine, u"Software\\A\\B\\Below", u"V", 1);
  device.setDword(RegistryRoot::LocalMachine, u"Software\\A\\Kept", u"V", 1);
  set(u"l/remove_reg_1", u"HKLM\\Software\\A\\B");
  set(u"l/remove_reg_2", u"nonsense");
  set(u"l/remove_reg_3", u"HKCU\\Software\\C");  // no such key
  runRemoveRegistryActions(context, u"l");
  EXPECT_FALSE(exists(RegistryRoot::LocalMachine, u"Software\\A\\B"));
  EXPECT_FALSE(exists(RegistryRoot::LocalMachine, u"Software\\A\\B\\Below"));
  EXPECT_TRUE(exists(RegistryRoot::LocalMachine, u"Software\\A\\Kept"));
  // The keys above each subkey are opened, made when missing.
  EXPECT_TRUE(exists(RegistryRoot::LocalMachine, u"Software\\A"));
  EXPECT_TRUE(exists(RegistryRoot::CurrentUser, u"Software"));
  EXPECT_EQ(calls(Operation::CreateKey), 2u);
  EXPECT_EQ(calls(Operation::KeyDeleteSubkeyTree), 2u);
  EXPECT_EQ(calls(Operation::KeyFlush), 2u);
  EXPECT_EQ(device.broadcasts, 3);
}

TEST_F(RegistryActionsTest, BackupContinuesStringNumberingAndKeepsAbsence) {
  set(u"upgrade/backup_dw_1", u"HKLM\\S\\Present");
  set(u"upgrade/backup_dw_2", u"HKLM\\S\\Missing");
  set(u"upgrade/backup_str_1", u"HKLM\\S\\NeverRead");
  set(u"upgrade/backup_str_2", u"HKLM\\S\\NeverReadEither");
  set(u"upgrade/backup_str_3", u"HKLM\\S\\Name");
  set(u"upgrade/backup_str_4", u"HKLM\\S\\NoName");
  // Values that would show up in the backup if the strings below 3 were read.
  device.registry[{RegistryRoot::LocalMachine, u"S"}] = {
      {u"Present", dwordValue(5)},
      {u"Name", {kRegString, {'N', 0, 0, 0}}},
      {u"NeverRead", stringValue(u"read")},
      {u"NeverReadEither", stringValue(u"read")},
  };

  context.registryBackup.dwords[u"HKLM\\S\\Old"] = 9u;
  context.registryBackup.strings[u"HKLM\\S\\Kept"] = u"kept";
  EXPECT_TRUE(backupRegistry(context, u"upgrade"));

  using Dwords = std::map<std::u16string, std::optional<std::uint32_t>>;
  using Strings = std::map<std::u16string, std::optional<std::u16string>>;
  EXPECT_EQ(context.registryBackup.dwords,
            (Dwords{{u"HKLM\\S\\Present", 5u}, {u"HKLM\\S\\Missing", std::nullopt}}));
  EXPECT_EQ(context.registryBackup.strings, (Strings{{u"HKLM\\S\\Kept", u"kept"},
                                                     {u"HKLM\\S\\Name", u"N"},
                                                     {u"HKLM\\S\\NoName", std::nullopt}}));
}

TEST_F(RegistryActionsTest, BackupWithoutDwordEntriesReadsStringsFromOne) {
  set(u"upgrade/backup_str_1", u"HKCU\\S\\A");
  context.registryBackup.dwords[u"HKLM\\S\\Old"] = 9u;
  EXPECT_TRUE(backupRegistry(context, u"upgrade"));
  EXPECT_EQ(calls(Operation::OpenKey), 1u);
  EXPECT_TRUE(context.registryBackup.dwords.empty());
  ASSERT_EQ(context.registryBackup.strings.count(u"HKCU\\S\\A"), 1u);
  EXPECT_FALSE(context.registryBackup.strings.at(u"HKCU\\S\\A").has_value());
}

}  // namespace
}  // namespace autorun::testing
