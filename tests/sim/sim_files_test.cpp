// The simulated device's files: path resolution, confinement, enumeration, sharing.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "platform/sim/sim_platform.h"
#include "support/device_image.h"

namespace autorun::sim {
namespace {

using autorun::testing::DeviceImage;

std::string readAll(File& file) {
  std::string bytes;
  char buffer[7];
  std::uint32_t got = 0;
  while (file.read(buffer, sizeof buffer, got) && got > 0) bytes.append(buffer, got);
  return bytes;
}

bool writeAll(PlatformServices& platform, const std::u16string& path, std::string_view bytes) {
  auto file = platform.openFile(path, FileOpenMode::WriteTruncate);
  if (!file) return false;
  std::uint32_t written = 0;
  return file->write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written) &&
         written == bytes.size();
}

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
      {u"\\Storage Card\\2577\\autorun_8.qlm\\x", false},
  };
  for (const Case& c : cases) {
    auto file = platform->openFile(c.path, FileOpenMode::ReadShared);
    EXPECT_EQ(file != nullptr, c.found) << std::string(c.path.begin(), c.path.end());
    if (file) {
      EXPECT_EQ(readAll(*file), "cfg");
    }
  }

  // The folder Atlas does not exist yet.
  EXPECT_FALSE(writeAll(*platform, u"\\program files\\Atlas\\x.txt", ""));
  EXPECT_EQ(platform->createDirectory(u"\\PROGRAM FILES\\Atlas"), kErrorSuccess);
  EXPECT_TRUE(std::filesystem::is_directory(image.dir() / "fs" / "Program Files" / "Atlas"));
  EXPECT_EQ(platform->createDirectory(u"\\program files\\ATLAS"), kErrorAlreadyExists);
  EXPECT_EQ(platform->createDirectory(u"\\Program Files\\Missing\\Sub"), kErrorPathNotFound);
  ASSERT_TRUE(writeAll(*platform, u"\\program files\\atlas\\Data.BIN", "0123456789"));
  EXPECT_EQ(image.readFile(u"\\Program Files\\Atlas\\Data.BIN"), "0123456789");
  EXPECT_EQ(platform->fileAttributes(u"\\PROGRAM FILES\\ATLAS"), kAttributeDirectory);
  EXPECT_NE(platform->fileAttributes(u"\\program files\\atlas\\data.bin") & kAttributeDirectory,
            kAttributeDirectory);
  EXPECT_EQ(platform->fileAttributes(u"\\program files\\atlas\\nothing"), kInvalidAttributes);
}

}  // namespace
}  // namespace autorun::sim
