#include "actions/registry_actions.h"

#include "actions_fixture.h"

namespace autorun::testing {
namespace {

using namespace std::string_literals;

using ::testing::_;
using ::testing::DoAll;
using ::testing::Eq;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::SetArgReferee;

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
  // The next createKey/openKey of root\path hands out `key`.
  MockRegistryKey& expectCreate(RegistryRoot root, const std::u16string& path) {
    auto key = std::make_unique<::testing::StrictMock<MockRegistryKey>>();
    MockRegistryKey& ref = *key;
    EXPECT_CALL(platform, createKey(root, path))
        .WillOnce(Return(::testing::ByMove(std::move(key))));
    return ref;
  }
  MockRegistryKey& expectOpen(RegistryRoot root, const std::u16string& path) {
    auto key = std::make_unique<::testing::NiceMock<MockRegistryKey>>();
    MockRegistryKey& ref = *key;
    EXPECT_CALL(platform, openKey(root, path)).WillOnce(Return(::testing::ByMove(std::move(key))));
    return ref;
  }
};

TEST_F(RegistryActionsTest, WritesDwordThenFlushes) {
  MockRegistryKey& key = expectCreate(RegistryRoot::LocalMachine, u"Software\\A");
  {
    InSequence order;
    EXPECT_CALL(key, setDword(u"B"s, 42u)).WillOnce(Return(true));
    EXPECT_CALL(key, flush());
  }
  writeRegistryDword(platform, u"HKLM\\Software\\A\\B", 42);
}

TEST_F(RegistryActionsTest, TrailingBackslashWritesTheDefaultValue) {
  MockRegistryKey& key = expectCreate(RegistryRoot::CurrentUser, u"Software\\A");
  EXPECT_CALL(key, setString(u""s, u"text"s)).WillOnce(Return(true));
  EXPECT_CALL(key, flush());
  writeRegistryString(platform, u"HKCU\\Software\\A\\", u"text");
}

TEST_F(RegistryActionsTest, UnrecognisedLocationsTouchNothing) {
  EXPECT_CALL(platform, createKey).Times(0);
  EXPECT_CALL(platform, openKey).Times(0);
  EXPECT_CALL(platform, broadcastSettingChange()).Times(1);
  for (const std::u16string text : {u"hklm\\Software\\A\\B", u"HKXX\\Software\\A\\B", u"HKLM\\A"}) {
    writeRegistryDword(platform, text, 1);
    writeRegistryString(platform, text, u"x");
    EXPECT_EQ(readRegistryDword(platform, text), kAbsentMarker);
    EXPECT_EQ(readRegistryString(platform, text), u"");
    EXPECT_FALSE(tryReadRegistryDword(platform, text).has_value());
  }
  // A deletion without a root deletes nothing but still tells the shell.
  EXPECT_FALSE(deleteRegistryKey(platform, std::nullopt, u"Software", u"A"));
}

TEST_F(RegistryActionsTest, WriteSkippedWhenTheKeyCannotBeOpened) {
  EXPECT_CALL(platform, createKey(RegistryRoot::LocalMachine, u"Software\\A"s))
      .WillOnce(Return(::testing::ByMove(nullptr)));
  writeRegistryDword(platform, u"HKLM\\Software\\A\\B", 1);  // nothing to fail on
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
    MockRegistryKey& key = expectOpen(RegistryRoot::LocalMachine, u"K");
    EXPECT_CALL(key, queryValue(u"V"s, _, _))
        .WillOnce(DoAll(SetArgReferee<1>(kRegString), SetArgReferee<2>(c.data), Return(true)));
    const std::optional<std::uint32_t> read = tryReadRegistryDword(platform, u"HKLM\\K\\V");
    EXPECT_EQ(read.has_value(), c.present);
    EXPECT_EQ(read.value_or(0), c.value);
  }
  MockRegistryKey& missing = expectOpen(RegistryRoot::LocalMachine, u"K");
  EXPECT_CALL(missing, queryValue).WillOnce(Return(false));
  EXPECT_EQ(readRegistryDword(platform, u"HKLM\\K\\V"), kAbsentMarker);
  EXPECT_CALL(platform, openKey(RegistryRoot::LocalMachine, u"Gone"s))
      .WillOnce(Return(::testing::ByMove(nullptr)));
  EXPECT_EQ(readRegistryDword(platform, u"HKLM\\Gone\\V"), kAbsentMarker);
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
    MockRegistryKey& key = expectOpen(RegistryRoot::Users, u"K");
    EXPECT_CALL(key, queryValue(u"V"s, _, _))
        .WillOnce(DoAll(SetArgReferee<1>(kRegDword), SetArgReferee<2>(c.data), Return(true)));
    const std::optional<std::u16string> read = tryReadRegistryString(platform, u"HKUS\\K\\V");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, c.text);
  }
  MockRegistryKey& missing = expectOpen(RegistryRoot::Users, u"K");
  EXPECT_CALL(missing, queryValue).WillOnce(Return(false));
  EXPECT_FALSE(tryReadRegistryString(platform, u"HKUS\\K\\V").has_value());
}

TEST_F(RegistryActionsTest, DeleteCreatesThePathDeletesTheSubkeyAndBroadcasts) {
  MockRegistryKey& key = expectCreate(RegistryRoot::LocalMachine, u"Software\\A");
  {
    InSequence order;
    EXPECT_CALL(key, deleteSubkeyTree(u"B"s)).WillOnce(Return(true));
    EXPECT_CALL(key, flush());
    EXPECT_CALL(platform, broadcastSettingChange());
  }
  EXPECT_TRUE(deleteRegistryKey(platform, RegistryRoot::LocalMachine, u"Software\\A", u"B"));
}

TEST_F(RegistryActionsTest, FailedDeleteStillBroadcasts) {
  MockRegistryKey& key = expectCreate(RegistryRoot::LocalMachine, u"Software\\A");
  EXPECT_CALL(key, deleteSubkeyTree(u"B"s)).WillOnce(Return(false));
  EXPECT_CALL(key, flush());
  EXPECT_CALL(platform, broadcastSettingChange());
  EXPECT_FALSE(deleteRegistryKey(platform, RegistryRoot::LocalMachine, u"Software\\A", u"B"));

  EXPECT_CALL(platform, createKey(RegistryRoot::CurrentUser, u"X"s))
      .WillOnce(Return(::testing::ByMove(nullptr)));
  EXPECT_CALL(platform, broadcastSettingChange());
  EXPECT_FALSE(deleteRegistryKey(platform, RegistryRoot::CurrentUser, u"X", u"B"));
}

TEST_F(RegistryActionsTest, EmptySubkeyNameDeletesNothing) {
  // "HKLM\Software\Atlas\" would otherwise take the whole Atlas branch.
  set(u"uninstall_actions/remove_reg_1", u"HKLM\\Software\\Atlas\\");
  EXPECT_CALL(platform, createKey).Times(0);
  EXPECT_CALL(platform, broadcastSettingChange()).Times(1);
  runRemoveRegistryActions(context, u"uninstall_actions");
}

TEST_F(RegistryActionsTest, RemoveListDeletesEachEntryWithOneBroadcastEach) {
  set(u"l/remove_reg_1", u"HKLM\\Software\\A\\B");
  set(u"l/remove_reg_2", u"nonsense");
  set(u"l/remove_reg_3", u"HKCU\\Software\\C");
  MockRegistryKey& first = expectCreate(RegistryRoot::LocalMachine, u"Software\\A");
  EXPECT_CALL(first, deleteSubkeyTree(u"B"s)).WillOnce(Return(true));
  EXPECT_CALL(first, flush());
  MockRegistryKey& third = expectCreate(RegistryRoot::CurrentUser, u"Software");
  EXPECT_CALL(third, deleteSubkeyTree(u"C"s)).WillOnce(Return(false));
  EXPECT_CALL(third, flush());
  EXPECT_CALL(platform, broadcastSettingChange()).Times(3);
  runRemoveRegistryActions(context, u"l");
}

TEST_F(RegistryActionsTest, RegKeyListWritesDwordOrString) {
  set(u"l/reg_key_1", u"HKLM\\S\\Minus");
  set(u"l/reg_dw_value_1", u"-1");
  set(u"l/reg_key_2", u"HKLM\\S\\Both");
  set(u"l/reg_dw_value_2", u"7");
  set(u"l/reg_str_value_2", u"ignored");
  set(u"l/reg_key_3", u"HKLM\\S\\Text");
  set(u"l/reg_str_value_3", u"hello");
  set(u"l/reg_key_4", u"HKLM\\S\\Neither");
  set(u"l/reg_key_5", u"HKLM\\S\\EmptyNumber");
  set(u"l/reg_dw_value_5", u"");
  set(u"l/reg_key_7", u"HKLM\\S\\AfterTheGap");
  set(u"l/reg_dw_value_7", u"1");

  InSequence order;
  for (const auto& expectation :
       std::vector<std::pair<std::u16string, std::optional<std::uint32_t>>>{
           {u"Minus", 0xffffffffu},
           {u"Both", 7u},
           {u"Text", std::nullopt},
           {u"Neither", std::nullopt},
           {u"EmptyNumber", 0u}}) {
    MockRegistryKey& key = expectCreate(RegistryRoot::LocalMachine, u"S");
    if (expectation.second) {
      EXPECT_CALL(key, setDword(expectation.first, *expectation.second)).WillOnce(Return(true));
    } else {
      EXPECT_CALL(key,
                  setString(expectation.first, expectation.first == u"Text"s ? u"hello"s : u""s))
          .WillOnce(Return(true));
    }
    EXPECT_CALL(key, flush());
  }
  runRegistryActions(context, u"l");
}

TEST_F(RegistryActionsTest, BackupContinuesStringNumberingAndKeepsAbsence) {
  set(u"upgrade/backup_dw_1", u"HKLM\\S\\Present");
  set(u"upgrade/backup_dw_2", u"HKLM\\S\\Missing");
  set(u"upgrade/backup_str_1", u"HKLM\\S\\NeverRead");
  set(u"upgrade/backup_str_2", u"HKLM\\S\\NeverReadEither");
  set(u"upgrade/backup_str_3", u"HKLM\\S\\Name");
  set(u"upgrade/backup_str_4", u"HKLM\\S\\NoName");

  ON_CALL(platform, openKey(RegistryRoot::LocalMachine, u"S"s))
      .WillByDefault([](RegistryRoot, const std::u16string&) {
        auto key = std::make_unique<::testing::NiceMock<MockRegistryKey>>();
        ON_CALL(*key, queryValue)
            .WillByDefault([](const std::u16string& name, std::uint32_t& type,
                              std::vector<std::uint8_t>& data) {
              if (name == u"Present") {
                type = kRegDword;
                data = {5, 0, 0, 0};
                return true;
              }
              if (name == u"Name") {
                type = kRegString;
                data = {'N', 0, 0, 0};
                return true;
              }
              if (name.starts_with(u"NeverRead")) ADD_FAILURE() << "read backup_str below 3";
              return false;
            });
        return key;
      });

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
  EXPECT_CALL(platform, openKey(RegistryRoot::CurrentUser, u"S"s))
      .WillOnce(Return(::testing::ByMove(nullptr)));
  context.registryBackup.dwords[u"HKLM\\S\\Old"] = 9u;
  EXPECT_TRUE(backupRegistry(context, u"upgrade"));
  EXPECT_TRUE(context.registryBackup.dwords.empty());
  ASSERT_EQ(context.registryBackup.strings.count(u"HKCU\\S\\A"), 1u);
  EXPECT_FALSE(context.registryBackup.strings.at(u"HKCU\\S\\A").has_value());
}

}  // namespace
}  // namespace autorun::testing
