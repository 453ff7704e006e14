// Shortcut files and their removal, on the in-memory device.
#include "actions/shortcut_actions.h"

#include "actions_fixture.h"

namespace autorun::testing {
namespace {

using Opens = decltype(MemoryPlatform::opens);

// The in-memory device's code page passes ASCII and turns everything else into '?'.
class ShortcutTest : public ActionsTest {
 protected:
  void targetExists(const std::u16string& target) { device.addFile(target, "MZ"); }
};

TEST_F(ShortcutTest, ContentIsOneHashQuotedTarget) {
  const struct {
    std::u16string target;
    std::string content;
  } cases[] = {
      {u"\\Storage Card\\Nav\\nav.exe", "1#\"\\Storage Card\\Nav\\nav.exe\""},
      {u"\\Karten\\Stra\u00dfe.exe", "1#\"\\Karten\\Stra?e.exe\""},
  };
  const std::u16string link = u"\\Windows\\Start Menu\\Nav.lnk";
  for (const auto& c : cases) {
    targetExists(c.target);
    device.opens.clear();
    EXPECT_TRUE(createShortcut(context, link, c.target));
    EXPECT_EQ(device.fileText(link), c.content);
    EXPECT_EQ(device.opens,
              (Opens{{c.target, FileOpenMode::ReadShared}, {link, FileOpenMode::WriteTruncate}}));
  }
}

TEST_F(ShortcutTest, TargetOf26CharactersGives30Bytes) {
  const std::u16string target = u"\\Program Files\\Atlas\\a.exe";
  ASSERT_EQ(target.size(), 26u);
  targetExists(target);
  EXPECT_TRUE(createShortcut(context, u"\\l.lnk", target));
  const std::string written = device.fileText(u"\\l.lnk").value_or("");
  ASSERT_EQ(written.size(), 30u);
  EXPECT_EQ(written.front(), '1');
  EXPECT_EQ(written.back(), '"');
}

TEST_F(ShortcutTest, LongTargetIsWrittenWhole) {
  const std::u16string target = u"\\" + std::u16string(290, u'd') + u"\\nav.exe";
  targetExists(target);
  EXPECT_TRUE(createShortcut(context, u"\\l.lnk", target));
  const std::string written = device.fileText(u"\\l.lnk").value_or("");
  ASSERT_EQ(written.size(), target.size() + 4);
  EXPECT_EQ(written.substr(written.size() - 9), "\\nav.exe\"");
}

TEST_F(ShortcutTest, MissingTargetWritesNothingSilently) {
  EXPECT_FALSE(createShortcut(context, u"\\l.lnk", u"\\missing.exe"));
  EXPECT_EQ(device.opens, (Opens{{u"\\missing.exe", FileOpenMode::ReadShared}}));
  EXPECT_EQ(device.fileText(u"\\l.lnk"), std::nullopt);
  EXPECT_TRUE(device.boxes.empty());
}

TEST_F(ShortcutTest, UncreatableLinkIsReported) {
  targetExists(u"\\nav.exe");
  // Held by another program: it cannot be written.
  device.heldExclusively.insert(u"\\No Folder\\Nav.lnk");
  EXPECT_FALSE(createShortcut(context, u"\\No Folder\\Nav.lnk", u"\\nav.exe"));
  EXPECT_EQ(device.opens.back(),
            (Opens::value_type{u"\\No Folder\\Nav.lnk", FileOpenMode::WriteTruncate}));
  EXPECT_EQ(device.boxes,
            (std::vector<MemoryPlatform::Box>{{u"Cannot create link file: \\No Folder\\Nav.lnk!",
                                               context.installerPath, 0x00050010u}}));
}

TEST_F(ShortcutTest, ShortWriteIsAFailure) {
  targetExists(u"\\nav.exe");
  device.chunk = 5;  // each write takes at most 5 bytes
  EXPECT_FALSE(createShortcut(context, u"\\l.lnk", u"\\nav.exe"));
}

TEST_F(ShortcutTest, LinkListGoesOnAfterFailures) {
  set(u"install_actions/link_name_1", u"\\a.lnk");
  set(u"install_actions/link_prg_1", u"\\missing.exe");
  set(u"install_actions/link_name_2", u"\\b.lnk");  // no link_prg: empty target
  set(u"install_actions/link_name_3", u"\\c.lnk");
  set(u"install_actions/link_prg_3", u"\\nav.exe");
  set(u"install_actions/link_name_5", u"\\never.lnk");
  set(u"install_actions/link_prg_5", u"\\nav.exe");

  targetExists(u"\\nav.exe");
  runLinkActions(context, u"install_actions");
  EXPECT_EQ(device.fileText(u"\\c.lnk"), "1#\"\\nav.exe\"");
  EXPECT_EQ(device.opens, (Opens{{u"\\missing.exe", FileOpenMode::ReadShared},
                                 {u"", FileOpenMode::ReadShared},
                                 {u"\\nav.exe", FileOpenMode::ReadShared},
                                 {u"\\c.lnk", FileOpenMode::WriteTruncate}}));
}

TEST_F(ShortcutTest, RemoveLinkDeletesEachPathLiterally) {
  set(u"l/remove_link_1", u"\\Windows\\Start Menu\\*.lnk");
  set(u"l/remove_link_2", u"\\Windows\\Start Menu\\Nav.lnk");
  set(u"l/remove_link_3", u"\\" + std::u16string(300, u'x'));
  set(u"l/remove_link_4", u"\\after.lnk");
  device.addFile(u"\\Windows\\Start Menu\\Nav.lnk", "1#");
  device.addFile(u"\\Windows\\Start Menu\\Other.lnk", "1#");
  device.addFile(u"\\after.lnk", "1#");
  runRemoveLinkActions(context, u"l");
  EXPECT_EQ(device.deletions,
            (std::vector<std::u16string>{u"\\Windows\\Start Menu\\*.lnk",
                                         u"\\Windows\\Start Menu\\Nav.lnk", u"\\after.lnk"}));
  EXPECT_EQ(device.fileText(u"\\Windows\\Start Menu\\Other.lnk"), "1#");
  EXPECT_EQ(device.fileText(u"\\after.lnk"), std::nullopt);
}

}  // namespace
}  // namespace autorun::testing
