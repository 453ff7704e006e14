// The index of name spellings that spares reading a folder for every new file: it must
// see every change, whoever makes it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/sim/host_folder.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/spelling_index.h"
#include "support/device_image.h"

namespace autorun::sim {
namespace {

namespace fs = std::filesystem;
using autorun::testing::DeviceImage;

void touch(const fs::path& file, std::string_view bytes = "outside") {
  std::ofstream(file, std::ios::binary) << bytes;
}

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A card file and a folder \Maps to copy it into under various names.
class SpellingIndexOnDevice : public ::testing::Test {
 protected:
  SpellingIndexOnDevice() {
    image.writeFile(u"\\Storage Card\\new.dat", "new");
    image.makeFolder(u"\\Maps");
    platform = image.platform();
  }
  bool copy(const std::u16string& to) {
    return platform->copyFile(u"\\Storage Card\\new.dat", u"\\Maps\\" + to);
  }

  DeviceImage image;
  const fs::path maps = image.dir() / "fs" / "Maps";
  std::unique_ptr<SimPlatform> platform;
};

TEST_F(SpellingIndexOnDevice, ChangesMadeFromOutsideAreSeen) {
  ASSERT_TRUE(copy(u"first.dat"));  // the folder is read and watched from here on
  touch(maps / "SECOND.DAT");
  ASSERT_TRUE(copy(u"second.dat"));
  EXPECT_EQ(namesIn(maps), (std::set<std::string>{"first.dat", "SECOND.DAT"}));
  EXPECT_EQ(image.readFile(u"\\Maps\\SECOND.DAT"), "new");

  fs::rename(maps / "SECOND.DAT", maps / "Third.dat");
  ASSERT_TRUE(copy(u"THIRD.dat"));
  ASSERT_TRUE(copy(u"second.DAT"));  // the old spelling is gone: the new one is made
  EXPECT_EQ(namesIn(maps), (std::set<std::string>{"first.dat", "Third.dat", "second.DAT"}));

  fs::remove(maps / "Third.dat");
  fs::create_directory(maps / "FOURTH.DAT");  // a folder holds the name too
  ASSERT_TRUE(copy(u"third.dat"));
  EXPECT_FALSE(copy(u"fourth.dat"));
  EXPECT_EQ(namesIn(maps),
            (std::set<std::string>{"first.dat", "second.DAT", "third.dat", "FOURTH.DAT"}));

  // A folder removed and made again under the same name is read afresh.
  fs::remove_all(maps);
  fs::create_directory(maps);
  touch(maps / "FIRST.DAT");
  ASSERT_TRUE(copy(u"first.dat"));
  EXPECT_EQ(namesIn(maps), (std::set<std::string>{"FIRST.DAT"}));
}

TEST_F(SpellingIndexOnDevice, ANameAsWrittenWinsOverItsOtherSpellings) {
  ASSERT_TRUE(copy(u"first.dat"));
  touch(maps / "Both.dat", "mixed");
  touch(maps / "BOTH.DAT", "capitals");
  ASSERT_TRUE(copy(u"Both.dat"));
  EXPECT_EQ(image.readFile(u"\\Maps\\Both.dat"), "new");
  // No spelling as written: the first in byte order.
  touch(maps / "Both.dat", "mixed");
  ASSERT_TRUE(copy(u"both.dat"));
  EXPECT_EQ(image.readFile(u"\\Maps\\Both.dat"), "mixed");
  EXPECT_EQ(image.readFile(u"\\Maps\\BOTH.DAT"), "new");
  EXPECT_EQ(namesIn(maps), (std::set<std::string>{"first.dat", "Both.dat", "BOTH.DAT"}));
}

TEST_F(SpellingIndexOnDevice, ForkedChildrenAndTheirParentEachSeeTheOthersChanges) {
  ASSERT_TRUE(copy(u"a.dat"));

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child must not take the parent's notices, and must see its own changes.
    touch(maps / "CHILD.DAT");
    const bool copied = copy(u"child.dat");
    ::_exit(copied && namesIn(maps) == std::set<std::string>{"a.dat", "CHILD.DAT"} ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  ASSERT_TRUE(copy(u"Child.Dat"));
  EXPECT_EQ(namesIn(maps), (std::set<std::string>{"a.dat", "CHILD.DAT"}));
}

TEST(SpellingIndex, KeepsABoundedNumberOfFoldersAndAnswersForEveryOne) {
  const fs::path root =
      fs::temp_directory_path() / ("spelling-index-" + std::to_string(::getpid()));
  fs::create_directories(root);
  const std::size_t count = SpellingIndex::kMaxFolders + 20;
  for (std::size_t i = 0; i < count; ++i) {
    fs::create_directory(root / std::to_string(i));
    touch(root / std::to_string(i) / ("Name" + std::to_string(i)));
  }
  SpellingIndex index;
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < count; ++i) {
      const HostFd dir(::open((root / std::to_string(i)).c_str(), O_RDONLY | O_DIRECTORY));
      ASSERT_TRUE(dir);
      const std::string spelled = "Name" + std::to_string(i);
      EXPECT_EQ(index.find(dir.get(), u"NAME" + std::u16string(spelled.begin() + 4, spelled.end())),
                spelled);
      EXPECT_EQ(index.find(dir.get(), u"other"), std::nullopt);
      const auto known = index.lookUp(dir.get(), "NAME" + std::to_string(i));
      ASSERT_TRUE(known);  // the kernel here has inotify
      EXPECT_TRUE(known->present);
      EXPECT_EQ(known->hostName, spelled);
      EXPECT_FALSE(index.lookUp(dir.get(), "other")->present);
    }
  }
  EXPECT_LE(index.folders(), SpellingIndex::kMaxFolders);
  EXPECT_GT(index.folders(), 0u);  // the kernel here has inotify
  fs::remove_all(root);
}

}  // namespace
}  // namespace autorun::sim
