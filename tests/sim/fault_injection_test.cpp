// The fault-injecting wrapper: counting, failing the Nth call once or from then on, and
// the objects it hands out.
#include <gtest/gtest.h>

#include "platform/sim/fault_injecting_platform.h"
#include "platform/sim/sim_platform.h"
#include "support/device_image.h"

namespace autorun::sim {
namespace {

using autorun::testing::DeviceImage;

TEST(FaultInjection, TheNthCallFailsOnceOrFromThenOn) {
  DeviceImage image;
  auto sim = image.platform();
  FaultInjectingPlatform platform(*sim);

  platform.failNth(Operation::CreateDirectory, 2);
  EXPECT_EQ(platform.createDirectory(u"\\A"), kErrorSuccess);
  EXPECT_EQ(platform.createDirectory(u"\\B"), kErrorAccessDenied);
  EXPECT_EQ(platform.createDirectory(u"\\C"), kErrorSuccess);
  EXPECT_FALSE(image.exists(u"\\B"));  // a failed call is not passed on
  EXPECT_EQ(platform.callCount(Operation::CreateDirectory), 3u);
  EXPECT_EQ(platform.failureCount(Operation::CreateDirectory), 1u);

  platform.setCreateDirectoryFailure(kErrorPathNotFound);
  platform.failNth("createDirectory", 1, true);
  EXPECT_EQ(platform.createDirectory(u"\\D"), kErrorPathNotFound);
  EXPECT_EQ(platform.createDirectory(u"\\E"), kErrorPathNotFound);
  platform.clearFailures();
  EXPECT_EQ(platform.createDirectory(u"\\F"), kErrorSuccess);
  EXPECT_EQ(platform.callCount(Operation::CreateDirectory), 6u);
  EXPECT_EQ(platform.failureCount(Operation::CreateDirectory), 3u);
  platform.resetCounts();
  EXPECT_EQ(platform.callCount(Operation::CreateDirectory), 0u);

  // Counting again keeps what is planned: a pending failure, a lasting one, a spent one.
  platform.failNth(Operation::DeleteFile, 1);
  EXPECT_FALSE(platform.deleteFile(u"\\nothing"));
  platform.failNth(Operation::CopyFile, 2);
  platform.failNth(Operation::ShellOpen, 1, true);
  EXPECT_FALSE(platform.shellOpen(u"\\A"));
  image.writeFile(u"\\x.txt", "x");
  EXPECT_TRUE(platform.copyFile(u"\\x.txt", u"\\y.txt"));
  platform.resetCounts();
  EXPECT_FALSE(platform.copyFile(u"\\x.txt", u"\\z.txt"));
  EXPECT_FALSE(platform.shellOpen(u"\\A"));
  EXPECT_TRUE(platform.deleteFile(u"\\y.txt"));
  EXPECT_EQ(platform.failureCount(Operation::DeleteFile), 0u);
  EXPECT_EQ(platform.failureCount(Operation::CopyFile), 1u);
  platform.clearFailures();

  platform.failNth(Operation::FreeBytes, 1);
  EXPECT_FALSE(platform.freeBytes(u"\\A").has_value());
  EXPECT_TRUE(platform.freeBytes(u"\\A").has_value());
  platform.failNth(Operation::FileAttributes, 1);
  EXPECT_EQ(platform.fileAttributes(u"\\A"), kInvalidAttributes);
  platform.failNth(Operation::RunModalDialog, 1);
  class Ignoring : public DialogHandler {
    bool onInitDialog(WindowHandle) override { return true; }
    bool onCommand(WindowHandle, std::uint32_t) override { return true; }
    bool onPaint(WindowHandle) override { return false; }
  } handler;
  EXPECT_EQ(platform.runModalDialog(0, 102, handler), -1);
  EXPECT_TRUE(sim->dialogs().empty());
  platform.failNth(Operation::MessageBox, 1);
  EXPECT_EQ(platform.messageBox(u"t", u"c", kMbOk), 0);
  platform.failNth(Operation::BroadcastSettingChange, 1);
  platform.broadcastSettingChange();
  platform.broadcastSettingChange();
  int broadcasts = 0;
  for (const auto& entry : sim->trace()) broadcasts += entry["op"] == "broadcast" ? 1 : 0;
  EXPECT_EQ(broadcasts, 1);

  EXPECT_THROW(platform.failNth("noSuchOperation", 1), std::invalid_argument);
  EXPECT_THROW(platform.failNth(Operation::CopyFile, 0), std::invalid_argument);
}

TEST(FaultInjection, ObjectsHandedOutFailToo) {
  DeviceImage image;
  image.writeFile(u"\\f.txt", "abc");
  image.writeFile(u"\\g.txt", "def");
  auto sim = image.platform();
  FaultInjectingPlatform platform(*sim);

  platform.failNth(Operation::FileRead, 2);
  auto file = platform.openFile(u"\\f.txt", FileOpenMode::ReadShared);
  ASSERT_NE(file, nullptr);
  char buffer[2];
  std::uint32_t got = 0;
  EXPECT_TRUE(file->read(buffer, 1, got));
  EXPECT_EQ(got, 1u);
  EXPECT_FALSE(file->read(buffer, 1, got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(file->read(buffer, 1, got));
  EXPECT_EQ(buffer[0], 'b');  // the failed read consumed nothing
  platform.failNth(Operation::FileSize, 1);
  EXPECT_FALSE(file->size().has_value());
  EXPECT_EQ(file->size(), 3u);

  platform.failNth(Operation::DirectoryNext, 1);
  FindEntry entry;
  auto search = platform.findFirstFile(u"\\*.txt", entry);
  ASSERT_NE(search, nullptr);
  EXPECT_FALSE(search->next(entry));
  EXPECT_TRUE(search->next(entry));

  auto key = platform.createKey(RegistryRoot::LocalMachine, u"Software\\Atlas");
  ASSERT_NE(key, nullptr);
  platform.failNth(Operation::KeySetDword, 1);
  EXPECT_FALSE(key->setDword(u"Installed", 1));
  EXPECT_EQ(image.registryText().find("Installed"), std::string::npos);
  EXPECT_TRUE(key->setDword(u"Installed", 1));

  platform.failNth(Operation::LibraryCallEntry, 1);
  auto library = platform.loadLibrary(u"\\f.txt");
  ASSERT_NE(library, nullptr);
  EXPECT_FALSE(library->callEntry("DllRegisterServer"));
  EXPECT_TRUE(library->callEntry("DllRegisterServer"));

  EXPECT_EQ(platform.callCount(Operation::FileRead), 3u);
  EXPECT_EQ(platform.callCount(Operation::KeySetDword), 2u);
  EXPECT_EQ(platform.callCount(Operation::OpenFile), 1u);
  // Null stays null: nothing to wrap.
  EXPECT_EQ(platform.openFile(u"\\missing", FileOpenMode::ReadShared), nullptr);
}

TEST(FaultInjection, EveryOperationHasAName) {
  for (std::size_t i = 0; i < kOperationCount; ++i) {
    const auto operation = static_cast<Operation>(i);
    const std::string_view name = operationName(operation);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(operationFromName(name), operation) << name;
  }
  EXPECT_EQ(operationFromName("File::read"), Operation::FileRead);
  EXPECT_FALSE(operationFromName("read").has_value());
}

}  // namespace
}  // namespace autorun::sim
