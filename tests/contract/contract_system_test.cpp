// The rest of the device as the core relies on it: the registry, the special folders, the
// storage cards, the installer's own path, and other programs' windows.
#include <gtest/gtest.h>

#include <set>

#include "contract/contract_fixture.h"

namespace autorun::contract {
namespace {

using ContractSystem = Contract;

using Bytes = std::vector<std::uint8_t>;

Bytes utf16Bytes(std::u16string_view text) {
  Bytes bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

// The key of a test below a folder of its own in the current user's tree.
std::u16string keyOf(std::u16string_view below) {
  std::u16string key = u"Software\\AutorunContract";
  if (!below.empty()) key += u"\\" + std::u16string(below);
  return key;
}

struct Value {
  bool present = false;
  std::uint32_t type = 0;
  Bytes data;
  bool operator==(const Value&) const = default;
};

Value query(PlatformServices& platform, RegistryRoot root, const std::u16string& key,
            const std::u16string& name) {
  Value value;
  auto opened = platform.openKey(root, key);
  if (opened) value.present = opened->queryValue(name, value.type, value.data);
  return value;
}

class ContractRegistryCleanup : public Contract {
 protected:
  void TearDown() override {
    for (const RegistryRoot root : {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine}) {
      if (auto software = platform().openKey(root, u"Software")) {
        software->deleteSubkeyTree(u"AutorunContract");
      }
    }
  }
};

using ContractRegistryTree = ContractRegistryCleanup;

TEST_F(ContractRegistryTree, ValuesAreKeptAsWrittenAndKeysMadeWithTheirParents) {
  for (const RegistryRoot root : {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine}) {
    SCOPED_TRACE(root == RegistryRoot::CurrentUser ? "current user" : "local machine");
    {
      auto key = platform().createKey(root, keyOf(u"One\\Two"));
      ASSERT_TRUE(key);
      EXPECT_TRUE(key->setDword(u"Number", 0x80000000u));
      EXPECT_TRUE(key->setString(u"Text", u"Atlas \u00e9"));
      EXPECT_TRUE(key->setString(u"", u"default"));
      EXPECT_TRUE(key->setString(u"Empty", u""));
      key->flush();
    }
    EXPECT_TRUE(platform().openKey(root, keyOf(u"One")));
    struct Row {
      std::u16string key;
      std::u16string name;
      Value value;
    };
    const Value number{true, kRegDword, {0x00, 0x00, 0x00, 0x80}};
    const Row rows[] = {
        {keyOf(u"One\\Two"), u"Number", number},
        {keyOf(u"One\\Two"), u"Text", {true, kRegString, utf16Bytes(u"Atlas \u00e9")}},
        {keyOf(u"One\\Two"), u"", {true, kRegString, utf16Bytes(u"default")}},
        {keyOf(u"One\\Two"), u"Empty", {true, kRegString, utf16Bytes(u"")}},
        {upper(keyOf(u"One\\Two")), u"NUMBER", number},  // names without regard to case
        {keyOf(u"One\\Two"), u"Missing", {}},
        {keyOf(u"One\\Missing"), u"Number", {}},
    };
    for (const Row& row : rows) {
      SCOPED_TRACE(shown(row.key) + " " + shown(row.name));
      EXPECT_EQ(query(platform(), root, row.key, row.name), row.value);
    }
    // A value written again takes the new type.
    ASSERT_TRUE(platform().createKey(root, keyOf(u"One\\Two"))->setDword(u"Text", 7));
    EXPECT_EQ(query(platform(), root, keyOf(u"One\\Two"), u"Text"),
              (Value{true, kRegDword, {7, 0, 0, 0}}));
  }
}

TEST_F(ContractRegistryTree, ASubkeyGoesWithEverythingBelowIt) {
  const RegistryRoot root = RegistryRoot::CurrentUser;
  ASSERT_TRUE(platform().createKey(root, keyOf(u"Tree\\A\\B\\C"))->setDword(u"Deep", 1));
  ASSERT_TRUE(platform().createKey(root, keyOf(u"Tree\\A"))->setString(u"", u"a"));
  ASSERT_TRUE(platform().createKey(root, keyOf(u"Tree\\D"))->setDword(u"Side", 2));
  ASSERT_TRUE(platform().createKey(root, keyOf(u"Sibling"))->setDword(u"Kept", 3));

  auto parent = platform().createKey(root, keyOf(u""));
  ASSERT_TRUE(parent);
  EXPECT_TRUE(parent->deleteSubkeyTree(u"Tree"));
  EXPECT_FALSE(platform().openKey(root, keyOf(u"Tree")));
  EXPECT_FALSE(platform().openKey(root, keyOf(u"Tree\\A\\B\\C")));
  EXPECT_FALSE(parent->deleteSubkeyTree(u"Tree"));
  EXPECT_EQ(query(platform(), root, keyOf(u"Sibling"), u"Kept"),
            (Value{true, kRegDword, {3, 0, 0, 0}}));
  EXPECT_TRUE(parent->deleteSubkeyTree(u"SIBLING"));
  EXPECT_FALSE(platform().openKey(root, keyOf(u"Sibling")));
}

TEST_F(ContractRegistryTree, ValuesOfOtherTypesAreReadAndKeptAsTheyAre) {
  const RegistryRoot root = RegistryRoot::CurrentUser;
  struct Row {
    std::u16string name;
    std::uint32_t type;
    Bytes data;
  };
  const Row rows[] = {
      {u"Binary", 3, {0x00, 0xFF, 0x10}},
      {u"Expandable", 2, utf16Bytes(u"%WINDOWS%\\x")},
      {u"Multi", 7, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
      {u"Quad", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
      {u"NoBytes", 3, {}},
  };
  for (const Row& row : rows) {
    device().writeForeignValue(root, keyOf(u"Foreign"), row.name, row.type, row.data);
  }
  // The installer's own writes beside them leave them alone.
  ASSERT_TRUE(platform().createKey(root, keyOf(u"Foreign"))->setDword(u"Mine", 1));
  for (const Row& row : rows) {
    SCOPED_TRACE(shown(row.name));
    EXPECT_EQ(query(platform(), root, keyOf(u"Foreign"), row.name),
              (Value{true, row.type, row.data}));
  }
}

TEST_F(ContractSystem, SpecialFoldersAreFoldersThatExist) {
  std::set<std::u16string> seen;
  for (const int number : {2, 5, 36, 38}) {
    const std::u16string folder = platform().specialFolderPath(number);
    SCOPED_TRACE(std::to_string(number) + ": " + shown(folder));
    EXPECT_FALSE(folder.empty());
    EXPECT_TRUE(isFolder(folder));
    EXPECT_NE(folder.back(), u'\\');
    seen.insert(upper(folder));
  }
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(platform().specialFolderPath(-1), u"");
}

TEST_F(ContractSystem, StorageCardsAreTheRootFoldersTheDeviceNames) {
  const auto cards = [&] {
    std::set<std::u16string> found;
    std::u16string name;
    auto enumeration = platform().findFirstCard(name);
    if (!enumeration) return found;
    do {
      EXPECT_TRUE(found.insert(name).second) << shown(name) << " twice";
    } while (enumeration->next(name));
    return found;
  };
  device().insertCards({u"Contract Card A", u"Contract Card B"});
  EXPECT_EQ(cards(), (std::set<std::u16string>{u"Contract Card A", u"Contract Card B"}));
  EXPECT_TRUE(isFolder(u"\\Contract Card A"));
  EXPECT_TRUE(isFolder(u"\\Contract Card B"));
  device().insertCards({});
  EXPECT_EQ(cards(), std::set<std::u16string>{});
  std::u16string name = u"untouched";
  EXPECT_FALSE(platform().findFirstCard(name));
}

TEST_F(ContractSystem, TheModulePathNamesTheInstallerFile) {
  const std::u16string path = platform().moduleFileName(device().module());
  SCOPED_TRACE(shown(path));
  EXPECT_TRUE(isFile(path));
  const std::size_t cut = path.rfind(u'\\');
  ASSERT_NE(cut, std::u16string::npos);
  EXPECT_TRUE(isFolder(path.substr(0, cut)));
  // As the device reports it: asked twice, the same text.
  EXPECT_EQ(platform().moduleFileName(device().module()), path);
}

TEST_F(ContractSystem, WindowsAreFoundByExactClassAndTitleAndAskedToClose) {
  const WindowHandle obeying = device().openWindow(u"ContractWindow", u"Obeying", true);
  const WindowHandle stubborn = device().openWindow(u"ContractWindow", u"Stubborn", false);
  ASSERT_NE(obeying, 0u);
  ASSERT_NE(stubborn, 0u);
  ASSERT_NE(obeying, stubborn);

  EXPECT_EQ(platform().findWindow(u"ContractWindow", u"Obeying"), obeying);
  EXPECT_EQ(platform().findWindow(u"ContractWindow", u"Stubborn"), stubborn);
  EXPECT_EQ(platform().findWindow(u"ContractWindow", u"Obey"), 0u);
  EXPECT_EQ(platform().findWindow(u"ContractWindow", u""), 0u);
  EXPECT_EQ(platform().findWindow(u"ContractWindowX", u"Obeying"), 0u);
  EXPECT_EQ(platform().findWindow(u"", u"Obeying"), 0u);
  const WindowHandle byClass = platform().findWindowByClass(u"ContractWindow");
  EXPECT_TRUE(byClass == obeying || byClass == stubborn);
  EXPECT_EQ(platform().findWindowByClass(u"ContractNoSuchClass"), 0u);
  EXPECT_TRUE(platform().openWindowProcess(obeying));

  EXPECT_TRUE(platform().postCloseRequest(obeying));
  EXPECT_TRUE(platform().postCloseRequest(stubborn));
  EXPECT_TRUE(device().windowGone(obeying));
  EXPECT_FALSE(device().windowGone(stubborn));
  EXPECT_EQ(platform().findWindow(u"ContractWindow", u"Obeying"), 0u);
  EXPECT_EQ(platform().findWindow(u"ContractWindow", u"Stubborn"), stubborn);
  EXPECT_EQ(platform().findWindowByClass(u"ContractWindow"), stubborn);
  EXPECT_FALSE(platform().postCloseRequest(obeying));
  EXPECT_FALSE(platform().openWindowProcess(obeying));
}

}  // namespace
}  // namespace autorun::contract
