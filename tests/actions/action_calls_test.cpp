// The calls that some actions make, where their order and number are the contract: making
// a folder that exists (a failed create, then every prefix), a path whose parent cannot be
// made, and a registry write or deletion (the value or subkey, then the flush, then the
// broadcast). On the gmock platform; everything else of the actions is tested on the
// in-memory device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "actions/copy_actions.h"
#include "actions/registry_actions.h"
#include "base/dialog_ids.h"
#include "context/installer_context.h"
#include "support/mock_platform.h"
#include "support/test_keys.h"

namespace autorun::testing {
namespace {

using namespace std::string_literals;

using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;

constexpr WindowHandle kDialog = 501;

class MockRegistryKey : public RegistryKey {
 public:
  MOCK_METHOD(bool, setDword, (const std::u16string& name, std::uint32_t value), (override));
  MOCK_METHOD(bool, setString, (const std::u16string& name, const std::u16string& value),
              (override));
  MOCK_METHOD(bool, queryValue,
              (const std::u16string& name, std::uint32_t& type, std::vector<std::uint8_t>& data),
              (override));
  MOCK_METHOD(bool, deleteSubkeyTree, (const std::u16string& name), (override));
  MOCK_METHOD(void, flush, (), (override));
};

class ActionCallsTest : public ::testing::Test {
 protected:
  ActionCallsTest() : context(platform, std::string(kTestKey)) {
    context.installerPath = u"\\storage card\\2577\\autorun.exe";
  }
  void set(std::u16string_view key, std::u16string_view value) {
    context.config.setValue(key, value);
  }

  ::testing::NiceMock<MockPlatform> platform;
  InstallerContext context;
};

// ---- Making folders ------------------------------------------------------------------------

class CopyCallsTest : public ActionCallsTest {
 protected:
  CopyCallsTest() {
    ON_CALL(platform, sendDialogItemMessage(kDialog, IDC_STATUS_PROGRESS, kPbmSetPos, _, _))
        .WillByDefault(
            [this](WindowHandle, int, std::uint32_t, std::uintptr_t position, std::intptr_t) {
              progress.push_back(static_cast<int>(position));
              return 0;
            });
  }

  std::vector<int> progress;
};

TEST_F(CopyCallsTest, ExistingFolderCostsAFailedCreateAndAMakePath) {
  CopyPlan plan;
  plan.addDirectory(u"\\Program Files\\App");
  ::testing::InSequence order;
  EXPECT_CALL(platform, createDirectory(u"\\Program Files\\App"s))
      .WillOnce(Return(kErrorAlreadyExists));
  EXPECT_CALL(platform, createDirectory(u"Program Files"s)).WillOnce(Return(kErrorAlreadyExists));
  EXPECT_CALL(platform, createDirectory(u"Program Files\\App"s))
      .WillOnce(Return(kErrorAlreadyExists));
  EXPECT_TRUE(performCopyPlan(context, plan, kDialog));
  EXPECT_EQ(progress, (std::vector<int>{100}));
}

TEST_F(CopyCallsTest, UncreatableFolderStopsSilently) {
  CopyPlan plan;
  plan.addDirectory(u"\\Gone\\App");
  plan.jobs.push_back({u"\\s", u"\\Gone\\App\\s"});
  EXPECT_CALL(platform, createDirectory(u"\\Gone\\App"s)).WillOnce(Return(kErrorPathNotFound));
  EXPECT_CALL(platform, createDirectory(u"Gone"s)).WillOnce(Return(kErrorPathNotFound));
  EXPECT_CALL(platform, copyFile).Times(0);
  EXPECT_CALL(platform, messageBox).Times(0);
  EXPECT_FALSE(performCopyPlan(context, plan, kDialog));
  EXPECT_TRUE(progress.empty());
}

TEST_F(CopyCallsTest, MakePathCreatesEachPrefixFromTheRoot) {
  const struct {
    std::u16string path;
    std::vector<std::pair<std::u16string, std::uint32_t>> creates;
    bool result;
  } cases[] = {
      {u"\\A\\B\\C",
       {{u"A", kErrorAlreadyExists}, {u"A\\B", kErrorSuccess}, {u"A\\B\\C", kErrorSuccess}},
       true},
      {u"A\\\\B\\", {{u"A", kErrorSuccess}, {u"A\\B", kErrorAccessDenied}}, true},
      {u"\\A\\B", {{u"A", kErrorPathNotFound}}, false},
      {u"\\\\", {}, false},
      {u"", {}, false},
  };
  for (const auto& c : cases) {
    ::testing::Mock::VerifyAndClearExpectations(&platform);
    ::testing::InSequence order;
    for (const auto& [prefix, code] : c.creates) {
      EXPECT_CALL(platform, createDirectory(prefix)).WillOnce(Return(code));
    }
    EXPECT_EQ(makePath(platform, c.path), c.result);
  }
}

// ---- Registry writes and deletions ---------------------------------------------------------

class RegistryCallsTest : public ActionCallsTest {
 protected:
  // The next createKey of root\path hands out `key`, on which no other call may come.
  MockRegistryKey& expectCreate(RegistryRoot root, const std::u16string& path) {
    auto key = std::make_unique<::testing::StrictMock<MockRegistryKey>>();
    MockRegistryKey& ref = *key;
    EXPECT_CALL(platform, createKey(root, path))
        .WillOnce(Return(::testing::ByMove(std::move(key))));
    return ref;
  }
};

TEST_F(RegistryCallsTest, WritesDwordThenFlushes) {
  MockRegistryKey& key = expectCreate(RegistryRoot::LocalMachine, u"Software\\A");
  {
    InSequence order;
    EXPECT_CALL(key, setDword(u"B"s, 42u)).WillOnce(Return(true));
    EXPECT_CALL(key, flush());
  }
  writeRegistryDword(platform, u"HKLM\\Software\\A\\B", 42);
}

TEST_F(RegistryCallsTest, DeleteCreatesThePathDeletesTheSubkeyAndBroadcasts) {
  MockRegistryKey& key = expectCreate(RegistryRoot::LocalMachine, u"Software\\A");
  {
    InSequence order;
    EXPECT_CALL(key, deleteSubkeyTree(u"B"s)).WillOnce(Return(true));
    EXPECT_CALL(key, flush());
    EXPECT_CALL(platform, broadcastSettingChange());
  }
  EXPECT_TRUE(deleteRegistryKey(platform, RegistryRoot::LocalMachine, u"Software\\A", u"B"));
}

TEST_F(RegistryCallsTest, RegKeyListWritesDwordOrString) {
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

}  // namespace
}  // namespace autorun::testing
