// The simulated device's files: sharing, copying, writing, special folders, free space and
// storage cards.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "base/wide_text.h"
#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"
#include "sim/sim_files_support.h"
#include "support/device_image.h"

namespace autorun::sim {
namespace {

using autorun::testing::DeviceImage;
using namespace files_test;

TEST(SimFiles, OpenFilesAreSharedAsOnTheDevice) {
  DeviceImage image;
  image.writeFile(u"\\f.txt", "data");
  auto platform = image.platform();
  const std::u16string path = u"\\F.TXT";
  {
    auto exclusive = platform->openFile(path, FileOpenMode::ReadExclusive);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_EQ(platform->openFile(path, FileOpenMode::ReadShared), nullptr);
    EXPECT_EQ(platform->openFile(u"\\f.txt", FileOpenMode::ReadExclusive), nullptr);
    EXPECT_EQ(platform->openFile(path, FileOpenMode::WriteTruncate), nullptr);
    EXPECT_FALSE(platform->deleteFile(path));
    EXPECT_FALSE(platform->copyFile(path, u"\\g.txt"));
  }
  {
    auto shared = platform->openFile(path, FileOpenMode::ReadShared);
    ASSERT_NE(shared, nullptr);
    auto second = platform->openFile(path, FileOpenMode::ReadShared);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(platform->openFile(path, FileOpenMode::ReadExclusive), nullptr);
    EXPECT_EQ(platform->openFile(path, FileOpenMode::WriteTruncate), nullptr);
    EXPECT_TRUE(platform->copyFile(path, u"\\g.txt"));
    EXPECT_FALSE(platform->copyFile(u"\\g.txt", path));  // the destination is in use
  }
  EXPECT_EQ(image.readFile(u"\\f.txt"), "data");  // a refused writer did not truncate it
  {
    auto writer = platform->openFile(path, FileOpenMode::WriteTruncate);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(platform->openFile(path, FileOpenMode::ReadShared), nullptr);
    char buffer[4];
    std::uint32_t got = 1;
    EXPECT_FALSE(writer->read(buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
  }
  auto exclusive = platform->openFile(path, FileOpenMode::ReadExclusive);
  ASSERT_NE(exclusive, nullptr);
  std::uint32_t written = 1;
  EXPECT_FALSE(exclusive->write("x", 1, written));
  EXPECT_EQ(readAll(*exclusive), "");
}

// The sharing rule, use by use: with a file held open as a row says, which uses may
// proceed ('y') and which are refused ('-'), in the order of `uses`.
TEST(SimFiles, SharingTable) {
  using enum FileOpenMode;
  enum Use { kOpenShared, kOpenExclusive, kOpenWrite, kCopyFrom, kCopyOnto, kDelete };
  const char* const uses[] = {"open shared",  "open exclusive", "open for writing",
                              "copy from it", "copy onto it",   "delete it"};
  struct Row {
    const char* held;
    bool viaLink;  // the opens use another name of the file (a hard link)
    std::vector<FileOpenMode> opens;
    std::size_t closed;  // how many of the opens, from the first, are closed again
    std::string_view allowed;
  };
  // clang-format off
  const Row rows[] = {
      {"nothing",                                false, {},                       0, "yyyyyy"},
      {"a shared reader",                        false, {ReadShared},             0, "y--y--"},
      {"two shared readers",                     false, {ReadShared, ReadShared}, 0, "y--y--"},
      {"one of two shared readers",              false, {ReadShared, ReadShared}, 1, "y--y--"},
      {"an exclusive reader",                    false, {ReadExclusive},          0, "------"},
      {"a writer",                               false, {WriteTruncate},          0, "------"},
      {"two shared readers, both closed",        false, {ReadShared, ReadShared}, 2, "yyyyyy"},
      {"an exclusive reader, closed",            false, {ReadExclusive},          1, "yyyyyy"},
      {"a writer, closed",                       false, {WriteTruncate},          1, "yyyyyy"},
      {"a shared reader under another name",     true,  {ReadShared},             0, "y--y--"},
      {"an exclusive reader under another name", true,  {ReadExclusive},          0, "------"},
  };
  // clang-format on
  DeviceImage image;
  image.writeFile(u"\\other.txt", "other");
  auto platform = image.platform();
  int cell = 0;
  for (const Row& row : rows) {
    ASSERT_EQ(row.allowed.size(), std::size(uses));
    for (std::size_t use = 0; use < std::size(uses); ++use) {
      SCOPED_TRACE(std::string("held by ") + row.held + ": " + uses[use]);
      // A file of its own for each cell, opened under another spelling of its name.
      const std::u16string name = u"\\F" + narrowToWide(std::to_string(++cell));
      const std::u16string path = name + u".txt";
      const std::u16string link = name + u".lnk";
      image.writeFile(path, "data");
      ASSERT_EQ(::link(image.hostPath(path).c_str(), image.hostPath(link).c_str()), 0);
      std::vector<std::unique_ptr<File>> held;
      for (const FileOpenMode mode : row.opens) {
        held.push_back(platform->openFile(row.viaLink ? link : foldLower(path), mode));
        ASSERT_NE(held.back(), nullptr);
      }
      for (std::size_t i = 0; i < row.closed; ++i) held[i].reset();
      const std::optional<std::string> before = image.readFile(path);
      bool allowed = false;
      switch (use) {
        case kOpenShared:
          allowed = platform->openFile(path, ReadShared) != nullptr;
          break;
        case kOpenExclusive:
          allowed = platform->openFile(path, ReadExclusive) != nullptr;
          break;
        case kOpenWrite:
          allowed = platform->openFile(path, WriteTruncate) != nullptr;
          break;
        case kCopyFrom:
          allowed = platform->copyFile(path, name + u".copy");
          EXPECT_EQ(image.exists(name + u".copy"), allowed);
          break;
        case kCopyOnto:
          allowed = platform->copyFile(u"\\other.txt", path);
          EXPECT_EQ(image.readFile(path), allowed ? "other" : before);
          break;
        case kDelete:
          allowed = platform->deleteFile(path);
          EXPECT_EQ(image.exists(path), !allowed);
          break;
      }
      EXPECT_EQ(allowed, row.allowed[use] == 'y');
    }
  }
}

TEST(SimFiles, CopyReplacesDeleteRemovesOnlyFiles) {
  DeviceImage image;
  image.writeFile(u"\\Storage Card\\app.exe", "new build");
  image.writeFile(u"\\Program Files\\App\\app.exe", "old build, longer");
  auto platform = image.platform();

  EXPECT_TRUE(platform->copyFile(u"\\storage card\\APP.EXE", u"\\program files\\app\\app.exe"));
  EXPECT_EQ(image.readFile(u"\\Program Files\\App\\app.exe"), "new build");
  EXPECT_TRUE(platform->copyFile(u"\\storage card\\app.exe", u"\\program files\\app\\Copy.exe"));
  EXPECT_EQ(image.readFile(u"\\Program Files\\App\\Copy.exe"), "new build");
  // A copy onto itself fails and leaves the file whole.
  EXPECT_FALSE(platform->copyFile(u"\\storage card\\app.exe", u"\\STORAGE CARD\\App.exe"));
  EXPECT_EQ(image.readFile(u"\\Storage Card\\app.exe"), "new build");
  EXPECT_FALSE(platform->copyFile(u"\\storage card\\none.exe", u"\\x.exe"));
  EXPECT_FALSE(platform->copyFile(u"\\storage card\\app.exe", u"\\No Folder\\x.exe"));
  EXPECT_FALSE(platform->copyFile(u"\\storage card\\app.exe", u"\\Program Files\\App"));
  EXPECT_FALSE(platform->copyFile(u"\\Program Files\\App", u"\\x.exe"));
  // Something else than a file is not copied, and opening it does not wait for a writer.
  ASSERT_EQ(::mkfifo(image.hostPath(u"\\Storage Card\\pipe").c_str(), 0644), 0);
  EXPECT_FALSE(platform->copyFile(u"\\Storage Card\\pipe", u"\\x.exe"));
  EXPECT_FALSE(image.exists(u"\\x.exe"));

  EXPECT_FALSE(platform->deleteFile(u"\\program files\\app"));
  EXPECT_TRUE(platform->deleteFile(u"\\program files\\app\\COPY.EXE"));
  EXPECT_FALSE(image.exists(u"\\Program Files\\App\\Copy.exe"));
  EXPECT_FALSE(platform->deleteFile(u"\\program files\\app\\COPY.EXE"));

  const std::vector<nlohmann::json> expected = {
      {{"op", "copy_file"},
       {"source", "\\storage card\\APP.EXE"},
       {"destination", "\\program files\\app\\app.exe"},
       {"ok", true}},
      {{"op", "copy_file"},
       {"source", "\\storage card\\app.exe"},
       {"destination", "\\program files\\app\\Copy.exe"},
       {"ok", true}},
  };
  ASSERT_GE(platform->trace().size(), 2u);
  EXPECT_EQ(platform->trace()[0], expected[0]);
  EXPECT_EQ(platform->trace()[1], expected[1]);
  EXPECT_EQ(platform->trace().back(),
            (nlohmann::json{
                {"op", "delete_file"}, {"path", "\\program files\\app\\COPY.EXE"}, {"ok", false}}));
}

// A copy that cannot be finished (here for the file size limit, as for a full disk) leaves
// the old destination as it was: no part of the new file, and no temporary file beside it.
TEST(SimFiles, ACopyThatFailsHalfWayLeavesTheDestinationAsItWas) {
  DeviceImage image;
  const std::string build(256 * 1024, 'n');
  image.writeFile(u"\\Storage Card\\today.dll", build);
  image.writeFile(u"\\Windows\\today.dll", "the working build");
  auto platform = image.platform();
  struct rlimit before {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  struct rlimit small = before;
  small.rlim_cur = 64 * 1024;
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool replaced = platform->copyFile(u"\\Storage Card\\today.dll", u"\\Windows\\TODAY.DLL");
  const bool made = platform->copyFile(u"\\Storage Card\\today.dll", u"\\Windows\\new.dll");
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, handler);

  EXPECT_FALSE(replaced);
  EXPECT_FALSE(made);
  EXPECT_EQ(image.readFile(u"\\Windows\\today.dll"), "the working build");
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(image.dir() / "fs" / "Windows")) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"Start Menu", "today.dll"}));
  // With room again, the copy replaces it whole.
  EXPECT_TRUE(platform->copyFile(u"\\Storage Card\\today.dll", u"\\Windows\\today.dll"));
  EXPECT_EQ(image.readFile(u"\\Windows\\today.dll"), build);
  EXPECT_EQ(enumerate(*platform, u"\\Windows\\*.dll"), std::vector<std::u16string>{u"today.dll"});
}

TEST(SimFiles, WritesAreTracedWithTheirSize) {
  DeviceImage image;
  auto platform = image.platform();
  ASSERT_TRUE(writeFile(*platform, u"\\Windows\\Start Menu\\Programs\\Atlas.lnk", "1#\"x\""));
  EXPECT_FALSE(writeFile(*platform, u"\\Nowhere\\Atlas.lnk", "1#\"x\""));
  ASSERT_EQ(platform->trace().size(), 2u);
  EXPECT_EQ(platform->trace()[0],
            (nlohmann::json{{"op", "write_file"},
                            {"path", "\\Windows\\Start Menu\\Programs\\Atlas.lnk"},
                            {"ok", true},
                            {"bytes", 5}}));
  EXPECT_EQ(
      platform->trace()[1],
      (nlohmann::json{{"op", "write_file"}, {"path", "\\Nowhere\\Atlas.lnk"}, {"ok", false}}));
}

TEST(SimFiles, SpecialFoldersAreMadeWhenAskedFor) {
  DeviceImage image;
  std::filesystem::remove_all(image.dir() / "fs" / "Windows");
  auto platform = image.platform();
  EXPECT_EQ(platform->specialFolderPath(2), u"\\Windows\\Start Menu\\Programs");
  EXPECT_TRUE(std::filesystem::is_directory(image.hostPath(u"\\Windows\\Start Menu\\Programs")));
  EXPECT_EQ(platform->specialFolderPath(5), u"\\My Documents");
  EXPECT_EQ(platform->specialFolderPath(36), u"\\Windows");
  EXPECT_EQ(platform->specialFolderPath(38), u"\\Program Files");
  EXPECT_EQ(platform->specialFolderPath(7), u"");
  EXPECT_EQ(platform->specialFolderPath(-1), u"");
  std::vector<std::string> made;
  for (const auto& entry : platform->trace()) {
    if (entry["op"] == "create_directory" && entry["result"] == 0) made.push_back(entry["path"]);
  }
  EXPECT_EQ(made, (std::vector<std::string>{"\\Windows", "\\Windows\\Start Menu",
                                            "\\Windows\\Start Menu\\Programs"}));

  DeviceImage custom;
  custom.writeDeviceJson({{"special_folders", {{"38", "\\Programme"}, {"5", nullptr}}}});
  auto other = custom.platform();
  EXPECT_EQ(other->specialFolderPath(38), u"\\Programme");
  EXPECT_TRUE(custom.exists(u"\\Programme"));
  EXPECT_EQ(other->specialFolderPath(5), u"");
  EXPECT_EQ(other->specialFolderPath(36), u"\\Windows");
  // A file in the way: the device cannot provide the folder.
  std::filesystem::remove_all(custom.hostPath(u"\\Windows\\Start Menu"));
  custom.writeFile(u"\\Windows\\Start Menu", "not a folder");
  EXPECT_EQ(other->specialFolderPath(2), u"");
}

TEST(SimFiles, FreeBytesComeFromTheDeviceDescription) {
  DeviceImage image;
  {
    auto platform = image.platform();
    const auto real = platform->freeBytes(u"\\Program Files");
    ASSERT_TRUE(real.has_value());
    EXPECT_GT(*real, 0u);
    EXPECT_FALSE(platform->freeBytes(u"\\No Folder").has_value());
  }
  image.writeDeviceJson({{"free_bytes", 5000000000ULL}});
  EXPECT_EQ(image.platform()->freeBytes(u"\\program files"), 5000000000ULL);
  image.writeDeviceJson({{"free_bytes", nullptr}});
  EXPECT_FALSE(image.platform()->freeBytes(u"\\Program Files").has_value());
}

TEST(SimFiles, StorageCardsFollowTheDeviceDescription) {
  DeviceImage image;
  std::u16string card;
  {
    auto platform = image.platform();
    auto cards = platform->findFirstCard(card);
    ASSERT_NE(cards, nullptr);
    EXPECT_EQ(card, u"Storage Card");
    EXPECT_FALSE(cards->next(card));
  }
  image.writeDeviceJson({{"cards", {"SD Card", "Storage Card 2"}}});
  {
    auto platform = image.platform();
    auto cards = platform->findFirstCard(card);
    ASSERT_NE(cards, nullptr);
    EXPECT_EQ(card, u"SD Card");
    ASSERT_TRUE(cards->next(card));
    EXPECT_EQ(card, u"Storage Card 2");
    EXPECT_FALSE(cards->next(card));
  }
  image.writeDeviceJson({{"cards", nlohmann::json::array()}});
  EXPECT_EQ(image.platform()->findFirstCard(card), nullptr);
  image.writeDeviceJson(nlohmann::json::object());
  std::filesystem::remove_all(image.dir() / "fs" / "Storage Card");
  EXPECT_EQ(image.platform()->findFirstCard(card), nullptr);
}

}  // namespace
}  // namespace autorun::sim
