#include "actions/shortcut_actions.h"

#include "actions_fixture.h"

namespace autorun::testing {
namespace {

using namespace std::string_literals;

using ::testing::_;
using ::testing::ByMove;
using ::testing::Return;

class ShortcutTest : public ActionsTest {
 protected:
  ShortcutTest() {
    // A single-byte code page: ASCII passes, everything else becomes '?'.
    ON_CALL(platform, toMultiByte).WillByDefault([](const std::u16string& text) {
      std::string bytes;
      for (const char16_t c : text) bytes.push_back(c < 0x80 ? static_cast<char>(c) : '?');
      return bytes;
    });
  }

  void targetExists(const std::u16string& target) {
    EXPECT_CALL(platform, openFile(target, FileOpenMode::ReadShared))
        .WillOnce([](const std::u16string&, FileOpenMode) {
          static std::string unused;
          return std::make_unique<RecordingFile>(unused);
        });
  }

  // The link file records into `written`, accepting at most `accept` bytes per write.
  void linkWritable(const std::u16string& link, std::string& written,
                    std::uint32_t accept = UINT32_MAX) {
    EXPECT_CALL(platform, openFile(link, FileOpenMode::WriteTruncate))
        .WillOnce([&written, accept](const std::u16string&, FileOpenMode) {
          return std::make_unique<RecordingFile>(written, accept);
        });
  }
};

TEST_F(ShortcutTest, ContentIsOneHashQuotedTarget) {
  const struct {
    std::u16string target;
    std::string content;
  } cases[] = {
      {u"\\Storage Card\\Nav\\nav.exe", "1#\"\\Storage Card\\Nav\\nav.exe\""},
      {u"\\Karten\\Stra\u00dfe.exe", "1#\"\\Karten\\Stra?e.exe\""},
  };
  for (const auto& c : cases) {
    std::string written;
    targetExists(c.target);
    linkWritable(u"\\Windows\\Start Menu\\Nav.lnk", written);
    EXPECT_TRUE(createShortcut(context, u"\\Windows\\Start Menu\\Nav.lnk", c.target));
    EXPECT_EQ(written, c.content);
  }
}

TEST_F(ShortcutTest, TargetOf26CharactersGives30Bytes) {
  const std::u16string target = u"\\Program Files\\Atlas\\a.exe";
  ASSERT_EQ(target.size(), 26u);
  std::string written;
  targetExists(target);
  linkWritable(u"\\l.lnk", written);
  EXPECT_TRUE(createShortcut(context, u"\\l.lnk", target));
  EXPECT_EQ(written.size(), 30u);
  EXPECT_EQ(written.front(), '1');
  EXPECT_EQ(written.back(), '"');
}

TEST_F(ShortcutTest, LongTargetIsWrittenWhole) {
  const std::u16string target = u"\\" + std::u16string(290, u'd') + u"\\nav.exe";
  std::string written;
  targetExists(target);
  linkWritable(u"\\l.lnk", written);
  EXPECT_TRUE(createShortcut(context, u"\\l.lnk", target));
  EXPECT_EQ(written.size(), target.size() + 4);
  EXPECT_EQ(written.substr(written.size() - 9), "\\nav.exe\"");
}

TEST_F(ShortcutTest, MissingTargetWritesNothingSilently) {
  EXPECT_CALL(platform, openFile(u"\\missing.exe"s, FileOpenMode::ReadShared))
      .WillOnce(Return(ByMove(nullptr)));
  EXPECT_CALL(platform, openFile(_, FileOpenMode::WriteTruncate)).Times(0);
  EXPECT_CALL(platform, messageBox).Times(0);
  EXPECT_FALSE(createShortcut(context, u"\\l.lnk", u"\\missing.exe"));
}

TEST_F(ShortcutTest, UncreatableLinkIsReported) {
  targetExists(u"\\nav.exe");
  EXPECT_CALL(platform, openFile(u"\\No Folder\\Nav.lnk"s, FileOpenMode::WriteTruncate))
      .WillOnce(Return(ByMove(nullptr)));
  EXPECT_CALL(platform, messageBox(u"Cannot create link file: \\No Folder\\Nav.lnk!"s,
                                   context.installerPath, 0x00050010u))
      .WillOnce(Return(kIdOk));
  EXPECT_FALSE(createShortcut(context, u"\\No Folder\\Nav.lnk", u"\\nav.exe"));
}

TEST_F(ShortcutTest, ShortWriteIsAFailure) {
  std::string written;
  targetExists(u"\\nav.exe");
  linkWritable(u"\\l.lnk", written, 5);
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

  EXPECT_CALL(platform, openFile(u"\\missing.exe"s, _)).WillOnce(Return(ByMove(nullptr)));
  EXPECT_CALL(platform, openFile(u""s, _)).WillOnce(Return(ByMove(nullptr)));
  targetExists(u"\\nav.exe");
  std::string written;
  linkWritable(u"\\c.lnk", written);
  runLinkActions(context, u"install_actions");
  EXPECT_EQ(written, "1#\"\\nav.exe\"");
}

TEST_F(ShortcutTest, RemoveLinkDeletesEachPathLiterally) {
  set(u"l/remove_link_1", u"\\Windows\\Start Menu\\*.lnk");
  set(u"l/remove_link_2", u"\\Windows\\Start Menu\\Nav.lnk");
  set(u"l/remove_link_3", u"\\" + std::u16string(300, u'x'));
  set(u"l/remove_link_4", u"\\after.lnk");
  ::testing::InSequence order;
  EXPECT_CALL(platform, deleteFile(u"\\Windows\\Start Menu\\*.lnk"s)).WillOnce(Return(false));
  EXPECT_CALL(platform, deleteFile(u"\\Windows\\Start Menu\\Nav.lnk"s)).WillOnce(Return(true));
  EXPECT_CALL(platform, deleteFile(u"\\after.lnk"s)).WillOnce(Return(true));
  runRemoveLinkActions(context, u"l");
}

}  // namespace
}  // namespace autorun::testing
