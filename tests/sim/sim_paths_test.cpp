// The simulated device's paths: case, spellings, confinement (no links, nothing outside
// the image), characters and length, and what enumerations match.
#include <sys/stat.h>
#include <unistd.h>

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

TEST(SimFiles, PathsMatchWithoutRegardToCaseAndNewNamesKeepTheirCase) {
  DeviceImage image;
  image.writeFile(u"\\Storage Card\\2577\\Autorun_8.QLM", "cfg");
  auto platform = image.platform();

  struct Case {
    std::u16string path;
    bool found;
  };
  const Case cases[] = {
      {u"\\Storage Card\\2577\\autorun_8.qlm", true},
      {u"\\STORAGE CARD\\2577\\AUTORUN_8.QLM", true},
      {u"storage card\\2577\\autorun_8.qlm", true},      // unrooted resolves from the root
      {u"\\Storage Card\\\\2577\\autorun_8.qlm", true},  // doubled separators collapse
      {u"\\Storage Card\\2577\\autorun_8.qlm2", false},
      {u"\\Storage Card\\2577\\autorun_8.qlm\\x", false},  // through a file
  };
  for (const Case& c : cases) {
    auto file = platform->openFile(c.path, FileOpenMode::ReadShared);
    EXPECT_EQ(file != nullptr, c.found);
    if (file) {
      EXPECT_EQ(readAll(*file), "cfg");
    }
  }

  // The folder Atlas does not exist yet.
  EXPECT_FALSE(writeFile(*platform, u"\\program files\\Atlas\\x.txt", ""));
  EXPECT_EQ(platform->createDirectory(u"\\PROGRAM FILES\\Atlas"), kErrorSuccess);
  EXPECT_TRUE(std::filesystem::is_directory(image.dir() / "fs" / "Program Files" / "Atlas"));
  EXPECT_EQ(platform->createDirectory(u"\\program files\\ATLAS"), kErrorAlreadyExists);
  EXPECT_EQ(platform->createDirectory(u"\\Program Files\\Missing\\Sub"), kErrorPathNotFound);
  EXPECT_EQ(platform->createDirectory(u"\\Storage Card\\2577\\autorun_8.qlm\\Sub"),
            kErrorPathNotFound);
  ASSERT_TRUE(writeFile(*platform, u"\\program files\\atlas\\Data.BIN", "0123456789"));
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\Data.BIN"), "0123456789");
  EXPECT_EQ(platform->fileAttributes(u"\\PROGRAM FILES\\ATLAS"), kAttributeDirectory);
  EXPECT_EQ(platform->fileAttributes(u"\\"), kAttributeDirectory);
  const std::uint32_t fileFlags = platform->fileAttributes(u"\\program files\\atlas\\data.bin");
  EXPECT_NE(fileFlags, kInvalidAttributes);
  EXPECT_EQ(fileFlags & kAttributeDirectory, 0u);
  EXPECT_EQ(platform->fileAttributes(u"\\program files\\atlas\\nothing"), kInvalidAttributes);
  EXPECT_EQ(platform->hostPath(u"\\program files\\atlas\\data.bin"),
            image.dir() / "fs" / "Program Files" / "Atlas" / "Data.BIN");
}

TEST(SimFiles, ANameSpelledOtherwiseOnTheHostIsTheSameName) {
  DeviceImage image;
  // Two host spellings of one device name: the smaller host name is the one meant.
  image.writeFile(u"\\Maps\\Map.dat", "mixed");
  image.writeFile(u"\\Maps\\MAP.DAT", "capitals");
  image.writeFile(u"\\Maps\\\u00C4rger.txt", "umlaut");
  SimOptions options;
  options.keepTrace = false;
  auto platform = image.platform(options);

  auto file = platform->openFile(u"\\maps\\map.dat", FileOpenMode::ReadShared);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(readAll(*file), "capitals");
  file.reset();
  EXPECT_EQ(platform->hostPath(u"\\Maps\\\u00E4RGER.TXT"),
            image.dir() / "fs" / "Maps" / "\xC3\x84rger.txt");

  // A copy onto another spelling replaces that file instead of adding a second one.
  image.writeFile(u"\\Storage Card\\new.dat", "new");
  EXPECT_TRUE(platform->copyFile(u"\\Storage Card\\new.dat", u"\\Maps\\map.DAT"));
  EXPECT_TRUE(platform->copyFile(u"\\Storage Card\\new.dat", u"\\MAPS\\\u00E4rger.txt"));
  EXPECT_EQ(image.readFile(u"\\Maps\\MAP.DAT"), "new");
  EXPECT_EQ(image.readFile(u"\\Maps\\Map.dat"), "mixed");
  EXPECT_EQ(image.readFile(u"\\Maps\\\u00C4rger.txt"), "new");
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(image.dir() / "fs" / "Maps")) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"MAP.DAT", "Map.dat", "\xC3\x84rger.txt"}));
  // A new name keeps the spelling it was given.
  EXPECT_TRUE(platform->copyFile(u"\\storage card\\NEW.dat", u"\\maps\\Fresh.Dat"));
  EXPECT_EQ(image.readFile(u"\\Maps\\Fresh.Dat"), "new");
  // Nothing was kept in memory.
  EXPECT_TRUE(platform->trace().empty());
}

// The device has no links: one inside the image is no more followed than one leading out,
// so that no walk of folders leaves its tree or deletes through one.
TEST(SimFiles, NoLinkIsFollowedAndNothingOutsideTheImageIsReachable) {
  DeviceImage image;
  DeviceImage outside;  // a second image stands in for the host's own files
  outside.writeFile(u"\\secret.txt", "host data");
  const std::filesystem::path secret = outside.hostPath(u"\\secret.txt");
  outside.makeFolder(u"\\Empty");
  const std::filesystem::path outsideFolder = outside.hostPath(u"\\Empty");
  std::filesystem::create_symlink(secret, image.hostPath(u"\\Storage Card\\link.txt"));
  std::filesystem::create_directory_symlink(outsideFolder, image.hostPath(u"\\Storage Card\\out"));
  std::filesystem::create_symlink(image.dir() / ".." / "nowhere.txt",
                                  image.hostPath(u"\\Storage Card\\dangling.txt"));
  // Links that stay inside the image, to a file and to a folder.
  image.writeFile(u"\\My Documents\\inside.txt", "inside");
  std::filesystem::create_symlink(image.hostPath(u"\\My Documents\\inside.txt"),
                                  image.hostPath(u"\\Storage Card\\in.txt"));
  std::filesystem::create_directory_symlink(image.hostPath(u"\\My Documents"),
                                            image.hostPath(u"\\Storage Card\\docs"));
  auto platform = image.platform();

  const std::u16string dotDot = u"\\Storage Card\\..\\..\\" +
                                narrowToWide(outside.dir().filename().string()) +
                                u"\\fs\\secret.txt";
  const std::u16string paths[] = {
      u"\\Storage Card\\link.txt",
      u"\\Storage Card\\out\\x.txt",
      u"\\Storage Card\\dangling.txt",
      dotDot,
      u"..\\secret.txt",
      u"\\Storage Card\\.\\link.txt",
      u"\\Storage Card\\in.txt",
      u"\\STORAGE CARD\\IN.TXT",
      u"\\Storage Card\\docs\\inside.txt",
      u"\\Storage Card\\docs\\new.txt",
  };
  for (const std::u16string& path : paths) {
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    EXPECT_FALSE(platform->hostPath(path).has_value());
    EXPECT_EQ(platform->openFile(path, FileOpenMode::ReadShared), nullptr);
    EXPECT_EQ(platform->openFile(path, FileOpenMode::WriteTruncate), nullptr);
    EXPECT_EQ(platform->fileAttributes(path), kInvalidAttributes);
    EXPECT_FALSE(platform->deleteFile(path));
    EXPECT_FALSE(platform->copyFile(path, u"\\copy.txt"));
    EXPECT_FALSE(platform->copyFile(u"\\My Documents\\inside.txt", path));
    EXPECT_NE(platform->createDirectory(path), kErrorSuccess);
    EXPECT_EQ(platform->loadLibrary(path), nullptr);
  }
  EXPECT_EQ(outside.readFile(u"\\secret.txt"), "host data");
  EXPECT_TRUE(std::filesystem::is_empty(outsideFolder));
  EXPECT_FALSE(image.exists(u"\\copy.txt"));
  // Neither the links nor what they lead to changed.
  EXPECT_EQ(image.readFile(u"\\My Documents\\inside.txt"), "inside");
  EXPECT_FALSE(image.exists(u"\\My Documents\\new.txt"));
  EXPECT_TRUE(std::filesystem::is_symlink(image.hostPath(u"\\Storage Card\\in.txt")));
  EXPECT_TRUE(std::filesystem::is_symlink(image.hostPath(u"\\Storage Card\\docs")));

  // Enumerations leave out every link.
  EXPECT_EQ(enumerate(*platform, u"\\Storage Card\\*"), std::vector<std::u16string>{});
}

TEST(SimFiles, PathsAreReadTheSameWhateverTheirCharacters) {
  DeviceImage image;
  image.writeFile(u"\\Maps\\a.b\\part.map", "x");
  image.writeFile(u"\\Maps\\\u00E9t\u00E9\\part.map", "x");
  auto platform = image.platform();
  const std::filesystem::path fs = image.dir() / "fs";
  struct Case {
    std::u16string path;
    std::optional<std::filesystem::path> host;
  };
  // Each path in ASCII and with an accented folder, which the device reads alike.
  for (const std::u16string folder : {u"a.b", u"\u00E9t\u00E9"}) {
    const std::filesystem::path hostFolder = folder == u"a.b"
                                                 ? std::filesystem::path("a.b")
                                                 : std::filesystem::path("\xC3\xA9t\xC3\xA9");
    const Case cases[] = {
        {u"\\Maps\\" + folder + u"\\part.map", fs / "Maps" / hostFolder / "part.map"},
        {u"Maps/" + folder + u"//PART.MAP", fs / "Maps" / hostFolder / "part.map"},
        {u"\\Maps\\" + folder + u"\\", fs / "Maps" / hostFolder},
        {u"\\\\Maps\\\\" + folder, fs / "Maps" / hostFolder},
        {u"\\Maps\\" + folder + u"\\new.map", fs / "Maps" / hostFolder / "new.map"},
        {u"\\Maps\\" + folder + u"\\.", std::nullopt},
        {u"\\Maps\\..\\" + folder, std::nullopt},
        {u"\\Maps\\" + folder + u"\\...", fs / "Maps" / hostFolder / "..."},
        {u"\\Maps\\" + folder + u"\\a:b", std::nullopt},
        {u"\\Maps\\" + folder + u"\\a*", std::nullopt},
        {u"\\Maps\\" + folder + u"\\tab\t", std::nullopt},
        // A lone surrogate has no host spelling; a pair is one character.
        {u"\\Maps\\" + folder + u"\\a\xD800", std::nullopt},
        {u"\\Maps\\" + folder +
             u"\\\xDC00"
             u"b",
         std::nullopt},
        {u"\\Maps\\" + folder + u"\\\xDBFF\xD800", std::nullopt},
        {u"\\Maps\\" + folder + u"\\\xD83D\xDE00", fs / "Maps" / hostFolder / "\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(host::toUtf8(c.path));
      EXPECT_EQ(platform->hostPath(c.path), c.host);
    }
  }
  EXPECT_EQ(platform->hostPath(u"\\"), fs);
  EXPECT_EQ(platform->hostPath(u""), fs);
  EXPECT_EQ(platform->fileAttributes(u"\\/\\"), kAttributeDirectory);
}

TEST(SimFiles, PathsOverTheLimitFail) {
  DeviceImage image;
  auto platform = image.platform();
  // "\My Documents\" is 14 characters; the name fills the path to the length wanted.
  auto pathOfLength = [](std::size_t length) {
    std::u16string path = u"\\My Documents\\";
    path.append(length - path.size(), u'a');
    return path;
  };
  const std::u16string longest = pathOfLength(kMaxPathLength);
  const std::u16string tooLong = pathOfLength(kMaxPathLength + 1);
  // The host allows 255-byte names; the longest device name here is 245.
  EXPECT_TRUE(writeFile(*platform, longest, "x"));
  EXPECT_NE(platform->fileAttributes(longest), kInvalidAttributes);
  EXPECT_FALSE(writeFile(*platform, tooLong, "x"));
  EXPECT_EQ(platform->fileAttributes(tooLong), kInvalidAttributes);
  EXPECT_EQ(platform->createDirectory(tooLong), kErrorPathNotFound);
  EXPECT_FALSE(platform->hostPath(tooLong).has_value());
  FindEntry entry;
  ASSERT_NE(platform->findFirstFile(longest, entry), nullptr);
  // One character too many, although it matches the file.
  EXPECT_EQ(platform->findFirstFile(longest + u"*", entry), nullptr);
}

TEST(SimFiles, EnumerationMatchesAsTheDeviceDoes) {
  DeviceImage image;
  for (const char16_t* name : {u"\\Data\\README", u"\\Data\\a.TXT", u"\\Data\\b.txt",
                               u"\\Data\\abc.bin", u"\\Data\\axc.bin", u"\\Data\\.hidden"}) {
    image.writeFile(name, "12345");
  }
  image.makeFolder(u"\\Data\\Maps");
  // Host names no device name can be are no entries (a copy's temporary file among them).
  for (const char* name : {"a:b.txt", "tab\t.txt", ".autorun-sim:copy:1"}) {
    std::ofstream(image.dir() / "fs" / "Data" / name) << "host only";
  }
  auto platform = image.platform();

  struct Case {
    std::u16string pattern;
    std::set<std::u16string> names;
  };
  const Case cases[] = {
      {u"\\data\\*.*",
       {u"README", u"a.TXT", u"b.txt", u"abc.bin", u"axc.bin", u".hidden", u"Maps"}},
      {u"\\Data\\*", {u"README", u"a.TXT", u"b.txt", u"abc.bin", u"axc.bin", u".hidden", u"Maps"}},
      {u"\\Data\\*.txt", {u"a.TXT", u"b.txt"}},
      {u"\\Data\\a?c.BIN", {u"abc.bin", u"axc.bin"}},
      {u"\\Data\\readme.*", {u"README"}},
      {u"\\Data\\MAPS", {u"Maps"}},
      {u"\\Data\\*.doc", {}},
      {u"\\Nowhere\\*.*", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern.begin(), c.pattern.end()));
    const auto found = enumerate(*platform, c.pattern);
    EXPECT_EQ(std::set<std::u16string>(found.begin(), found.end()), c.names);
    EXPECT_EQ(found.size(), c.names.size());
  }

  FindEntry entry;
  auto search = platform->findFirstFile(u"\\Data\\M*", entry);
  ASSERT_NE(search, nullptr);
  EXPECT_TRUE(entry.isDirectory());
  EXPECT_FALSE(search->next(entry));
  search = platform->findFirstFile(u"\\Data\\b.txt", entry);
  ASSERT_NE(search, nullptr);
  EXPECT_FALSE(entry.isDirectory());
  EXPECT_EQ(entry.size, 5u);
}

TEST(SimFiles, EntriesCarryTheWholeSizeOfLargeFiles) {
  DeviceImage image;
  image.writeFile(u"\\big.img", "");
  const std::uint64_t size = (std::uint64_t{1} << 32) + 7;
  std::filesystem::resize_file(image.hostPath(u"\\big.img"), size);  // sparse
  auto platform = image.platform();
  FindEntry entry;
  auto search = platform->findFirstFile(u"\\*.img", entry);
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(entry.size, size);
  EXPECT_EQ(entry.sizeLow(), 7u);
  auto file = platform->openFile(u"\\big.img", FileOpenMode::ReadShared);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size(), size);
  EXPECT_TRUE(file->seek(size - 1));
  char last = 'x';
  std::uint32_t got = 0;
  EXPECT_TRUE(file->read(&last, 1, got));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(last, '\0');
}

}  // namespace
}  // namespace autorun::sim
