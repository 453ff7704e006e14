// Copy planning and performing, and the deletions, on the in-memory device: the listings
// it answers are exactly those a test gives. The same behaviour on a simulated device is in
// actions_device_test.cpp; the calls that making folders costs are in action_calls_test.cpp.
#include "actions/copy_actions.h"

#include <algorithm>

#include "actions_fixture.h"

namespace autorun::testing {
namespace {

using sim::Operation;

constexpr WindowHandle kStatusDialog = 501;

class CopyActionsTest : public ActionsTest {
 protected:
  CopyActionsTest() {
    // The card: "\SD" carries the configuration.
    device.cards = {u"SD"};
    device.files[u"\\SD\\2577\\autorun_8.qlm"] = {};
  }

  CopyPlan collect(std::u16string_view list = u"install_actions") {
    CopyPlan plan;
    collectCopyActions(context, list, plan);
    return plan;
  }
  std::vector<int> progress() const { return device.progress(kStatusDialog); }
};

using Jobs = std::vector<std::pair<std::u16string, std::u16string>>;

Jobs jobsOf(const CopyPlan& plan) {
  Jobs jobs;
  for (const CopyJob& job : plan.jobs) jobs.emplace_back(job.source, job.destination);
  return jobs;
}

TEST_F(CopyActionsTest, SingleFileGoesIntoExistingFolderOrIsRenamed) {
  device.listings = {
      {u"\\SD\\Data\\map.dat", {fileEntry(u"map.dat", 10)}},
      {u"\\Existing", {folderEntry(u"Existing")}},
  };
  set(u"install_actions/src_1", u"\\Data\\map.dat");
  set(u"install_actions/dst_1", u"\\Existing");
  set(u"install_actions/src_2", u"\\Data\\map.dat");
  set(u"install_actions/dst_2", u"\\Nowhere\\renamed.dat");
  const CopyPlan plan = collect();
  EXPECT_EQ(jobsOf(plan), (Jobs{{u"\\SD\\Data\\map.dat", u"\\Existing\\map.dat"},
                                {u"\\SD\\Data\\map.dat", u"\\Nowhere\\renamed.dat"}}));
  EXPECT_TRUE(plan.directories.empty());
  EXPECT_EQ(plan.totalBytes, 20u);
}

TEST_F(CopyActionsTest, WholeFolderIntoUnplannedOrPlannedDestination) {
  device.listings = {
      {u"\\SD\\App", {folderEntry(u"App")}},
      {u"\\SD\\App\\*.*",
       {folderEntry(u"."), folderEntry(u".."), fileEntry(u"a.exe"), folderEntry(u"Sub"),
        fileEntry(u"b.dll")}},
      {u"\\SD\\App\\Sub\\*.*", {fileEntry(u"c.txt")}},
  };
  set(u"install_actions/src_1", u"\\App");
  set(u"install_actions/dst_1", u"\\Program Files\\App");

  // Neither existing nor planned: top-level files become the destination itself.
  CopyPlan unplanned = collect();
  EXPECT_EQ(unplanned.directories, (std::vector<std::u16string>{u"\\Program Files\\App\\Sub"}));
  EXPECT_EQ(jobsOf(unplanned),
            (Jobs{{u"\\SD\\App\\a.exe", u"\\Program Files\\App"},
                  {u"\\SD\\App\\Sub\\c.txt", u"\\Program Files\\App\\Sub\\c.txt"},
                  {u"\\SD\\App\\b.dll", u"\\Program Files\\App"}}));

  // Listed as a folder to make: everything goes inside.
  CopyPlan planned;
  planned.addDirectory(u"\\Program Files\\App");
  collectCopyActions(context, u"install_actions", planned);
  EXPECT_EQ(planned.directories,
            (std::vector<std::u16string>{u"\\Program Files\\App", u"\\Program Files\\App\\Sub"}));
  EXPECT_EQ(jobsOf(planned), (Jobs{{u"\\SD\\App\\a.exe", u"\\Program Files\\App\\a.exe"},
                                   {u"\\SD\\App\\Sub\\c.txt", u"\\Program Files\\App\\Sub\\c.txt"},
                                   {u"\\SD\\App\\b.dll", u"\\Program Files\\App\\b.dll"}}));
}

TEST_F(CopyActionsTest, PatternPlansMatchingFilesAndEntersMatchingFolders) {
  device.listings = {
      {u"\\SD\\Maps\\*.dat", {fileEntry(u"a.dat"), folderEntry(u"more.dat"), fileEntry(u"b.dat")}},
      {u"\\SD\\Maps\\more.dat\\*.dat", {fileEntry(u"c.dat")}},
  };
  set(u"card_insert_actions/src_1", u"\\Maps\\*.dat");
  set(u"card_insert_actions/dst_1", u"\\Maps");
  const CopyPlan plan = collect(u"card_insert_actions");
  EXPECT_EQ(plan.directories, (std::vector<std::u16string>{u"\\Maps\\more.dat"}));
  EXPECT_EQ(jobsOf(plan), (Jobs{{u"\\SD\\Maps\\a.dat", u"\\Maps"},
                                {u"\\SD\\Maps\\more.dat\\c.dat", u"\\Maps\\more.dat\\c.dat"},
                                {u"\\SD\\Maps\\b.dat", u"\\Maps"}}));
}

TEST_F(CopyActionsTest, WildcardSourceFolderPutsFilesInside) {
  device.listings = {{u"\\SD\\D*\\x.txt", {fileEntry(u"x.txt")}}};
  CopyPlan plan;
  EXPECT_TRUE(scanSource(context, u"\\SD\\D*\\", u"x.txt", u"\\Out", plan));
  EXPECT_EQ(jobsOf(plan), (Jobs{{u"\\SD\\D*\\x.txt", u"\\Out\\x.txt"}}));
  EXPECT_FALSE(scanSource(context, u"\\SD\\Nothing", u"*.*", u"\\Out", plan));
  EXPECT_EQ(plan.jobs.size(), 1u);
}

TEST_F(CopyActionsTest, EmptySubfolderDoesNotEndTheWalk) {
  // Ending the walk at "Empty" would leave z.dll uninstalled while reporting success.
  device.listings = {
      {u"\\SD\\App", {folderEntry(u"App")}},
      {u"\\SD\\App\\*.*",
       {fileEntry(u"a.exe"), folderEntry(u"Empty"), folderEntry(u"Full"), fileEntry(u"z.dll")}},
      {u"\\SD\\App\\Full\\*.*", {fileEntry(u"f.txt")}},
  };
  set(u"install_actions/src_1", u"\\App");
  set(u"install_actions/dst_1", u"\\PF\\App");
  set(u"install_actions/makedir_1", u"\\PF\\App");
  CopyPlan plan;
  plan.addDirectory(u"\\PF\\App");
  collectCopyActions(context, u"install_actions", plan);
  EXPECT_EQ(plan.directories,
            (std::vector<std::u16string>{u"\\PF\\App", u"\\PF\\App\\Empty", u"\\PF\\App\\Full"}));
  EXPECT_EQ(jobsOf(plan), (Jobs{{u"\\SD\\App\\a.exe", u"\\PF\\App\\a.exe"},
                                {u"\\SD\\App\\Full\\f.txt", u"\\PF\\App\\Full\\f.txt"},
                                {u"\\SD\\App\\z.dll", u"\\PF\\App\\z.dll"}}));
}

TEST_F(CopyActionsTest, TotalIsTheWholeSizeOfEveryFile) {
  constexpr std::uint64_t kThreeGiB = 3ull << 30;
  device.listings = {
      {u"\\SD\\Big\\*.*",
       {fileEntry(u"a", kThreeGiB), fileEntry(u"b", kThreeGiB), fileEntry(u"c", 5)}}};
  CopyPlan plan;
  scanSource(context, u"\\SD\\Big", u"*.*", u"\\Out", plan);
  EXPECT_EQ(plan.totalBytes, 2 * kThreeGiB + 5);
}

TEST_F(CopyActionsTest, MissingSourcePlansNothing) {
  set(u"install_actions/src_1", u"\\Nothing\\here.exe");
  set(u"install_actions/src_2", u"\\Nothing");
  const CopyPlan plan = collect();
  EXPECT_TRUE(plan.jobs.empty());
  EXPECT_TRUE(plan.directories.empty());
  EXPECT_TRUE(device.boxes.empty());
}

TEST_F(CopyActionsTest, ProgressMovesOncePerFolderAndFile) {
  const struct {
    int folders;
    int files;
    std::vector<int> positions;
  } cases[] = {
      {3, 7, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
      {1, 2, {33, 66, 100}},
      {0, 1, {100}},
      {0, 0, {}},
  };
  device.files[u"\\s"] = bytesOf("s");
  for (const auto& c : cases) {
    CopyPlan plan;
    for (int i = 0; i < c.folders; ++i) plan.addDirectory(u"\\D" + std::u16string(1, u'0' + i));
    for (int i = 0; i < c.files; ++i) plan.jobs.push_back({u"\\s", u"\\d"});
    device.folders.clear();
    device.itemMessages.clear();
    EXPECT_TRUE(performCopyPlan(context, plan, kStatusDialog));
    EXPECT_EQ(progress(), c.positions) << c.folders << " folders, " << c.files << " files";
  }
}

TEST_F(CopyActionsTest, FailedCopyIsReportedAndEndsThePlan) {
  device.addFile(u"\\SD\\a", "a");
  device.addFile(u"\\SD\\c", "c");  // \SD\b is missing
  CopyPlan plan;
  plan.jobs = {{u"\\SD\\a", u"\\a"}, {u"\\SD\\b", u"\\b"}, {u"\\SD\\c", u"\\c"}};
  EXPECT_FALSE(performCopyPlan(context, plan, kStatusDialog));
  EXPECT_EQ(device.fileText(u"\\a"), "a");
  EXPECT_EQ(device.fileText(u"\\c"), std::nullopt);
  EXPECT_EQ(calls(Operation::CopyFile), 2u);
  EXPECT_EQ(device.boxes, (std::vector<MemoryPlatform::Box>{
                              {u"Can't copy:\n\\SD\\b", context.installerPath, 0x00050010u}}));
  EXPECT_EQ(progress(), (std::vector<int>{33}));
}

TEST_F(CopyActionsTest, OverlongPathsFailLikeAnyFailedStep) {
  const std::u16string longPath = u"\\" + std::u16string(259, u'x');  // 260 characters
  device.addFile(u"\\SD\\ok", "ok");
  device.addFile(u"\\SD\\a", "a");

  CopyPlan folder;
  folder.addDirectory(longPath);
  EXPECT_FALSE(performCopyPlan(context, folder, kStatusDialog));
  EXPECT_FALSE(makePath(platform, longPath));
  EXPECT_EQ(calls(Operation::CreateDirectory), 0u);

  CopyPlan file;
  file.jobs = {{u"\\SD\\ok", u"\\ok"}, {u"\\SD\\a", longPath}};
  EXPECT_FALSE(performCopyPlan(context, file, kStatusDialog));
  EXPECT_EQ(device.boxes, (std::vector<MemoryPlatform::Box>{
                              {u"Can't copy:\n\\SD\\a", context.installerPath, kMbErrorStyle}}));
  EXPECT_EQ(device.fileText(u"\\ok"), "ok");
  EXPECT_EQ(calls(Operation::CopyFile), 1u);

  // The silent copy skips it and goes on.
  file.jobs.push_back({u"\\SD\\z", u"\\z"});  // missing: fails
  device.files.erase(u"\\ok");
  platform.resetCounts();
  copyJobsOnly(context, file);
  EXPECT_EQ(device.fileText(u"\\ok"), "ok");
  EXPECT_EQ(calls(Operation::CopyFile), 2u);
  EXPECT_EQ(device.fileText(longPath), std::nullopt);
}

TEST_F(CopyActionsTest, RemoveDirDeletesFilesKeepsFolders) {
  device.listings = {
      {u"\\PF\\App\\*.*",
       {folderEntry(u"."), folderEntry(u".."), fileEntry(u"a.exe"), folderEntry(u"Sub")}},
      {u"\\PF\\App\\Sub\\*.*", {fileEntry(u"b.txt"), folderEntry(u"Deeper")}},
      {u"\\PF\\App\\Sub\\Deeper\\*.*", {fileEntry(u"c.txt")}},
      {u"\\PF\\Other\\*.*", {fileEntry(u"d.txt")}},
      {u"\\*.*", {fileEntry(u"root.txt")}},
  };
  // a.exe is listed but cannot be deleted: a failure does not stop the walk.
  for (const char16_t* path : {u"\\PF\\App\\Sub\\b.txt", u"\\PF\\App\\Sub\\Deeper\\c.txt",
                               u"\\PF\\Other\\d.txt", u"\\root.txt"}) {
    device.addFile(path, "x");
  }
  set(u"uninstall_actions/remove_dir_1", u"\\PF\\App");
  set(u"uninstall_actions/remove_dir_2", u"");  // would name the whole device
  set(u"uninstall_actions/remove_dir_3", u"\\PF\\Other\\");
  runRemoveDirActions(context, u"uninstall_actions");
  EXPECT_EQ(device.deletions,
            (std::vector<std::u16string>{u"\\PF\\App\\a.exe", u"\\PF\\App\\Sub\\b.txt",
                                         u"\\PF\\App\\Sub\\Deeper\\c.txt", u"\\PF\\Other\\d.txt"}));
  EXPECT_EQ(std::count(device.searches.begin(), device.searches.end(), u"\\*.*"), 0);
  EXPECT_EQ(device.files.size(), 2u);  // the configuration and \root.txt
  EXPECT_EQ(calls(Operation::CreateDirectory), 0u);
}

TEST_F(CopyActionsTest, RemoveFileDeletesMatchesDirectlyInTheFolder) {
  device.listings = {
      {u"\\Maps\\*.dat", {fileEntry(u"a.dat"), folderEntry(u"sub.dat"), fileEntry(u"b.dat")}},
      {u"*.tmp", {fileEntry(u"x.tmp")}},  // no folder part: nothing deleted
      {u"\\Maps\\one.dat", {fileEntry(u"one.dat")}},
  };
  set(u"l/remove_file_1", u"\\Maps\\*.dat");
  set(u"l/remove_file_2", u"\\Missing\\*.dat");
  set(u"l/remove_file_3", u"*.tmp");
  set(u"l/remove_file_4", u"\\Maps\\one.dat");
  runRemoveFileActions(context, u"l");
  EXPECT_EQ(device.deletions,
            (std::vector<std::u16string>{u"\\Maps\\a.dat", u"\\Maps\\b.dat", u"\\Maps\\one.dat"}));
}

TEST_F(CopyActionsTest, DeletionsSkipPathsTooLongForTheDevice) {
  const std::u16string deep = u"\\" + std::u16string(250, u'd');
  device.listings = {{deep + u"\\*.*", {fileEntry(u"short"), fileEntry(std::u16string(20, u'n'))}}};
  deleteFilesInTree(platform, deep);
  EXPECT_EQ(device.deletions, (std::vector<std::u16string>{deep + u"\\short"}));
}

// Jobs come back as they were added, whatever shares text with what: folders repeated
// or not, names kept once or twice, and parts that fill or overrun a block of the text.
TEST(CopyJobListTest, JobsReadBackAsAdded) {
  CopyJobList list;
  Jobs expected;
  const auto add = [&](std::u16string_view sourceFolder, std::u16string_view sourceName,
                       std::u16string_view destinationFolder, std::u16string_view destinationName) {
    list.add(sourceFolder, sourceName, destinationFolder, destinationName);
    expected.emplace_back(std::u16string(sourceFolder) + std::u16string(sourceName),
                          std::u16string(destinationFolder) + std::u16string(destinationName));
  };
  add(u"\\SD\\Maps\\", u"a.map", u"\\App\\Maps\\", u"a.map");
  add(u"\\SD\\Maps\\", u"b.map", u"\\App\\Maps\\", u"b.map");
  add(u"\\SD\\Maps\\", u"c.map", u"\\App\\single.map", u"");
  add(u"\\SD\\Other\\", u"c.map", u"\\App\\Maps\\", u"renamed.map");
  list.push_back({u"\\SD\\whole", u"\\App\\whole"});
  expected.emplace_back(u"\\SD\\whole", u"\\App\\whole");
  list.push_back({u"", u""});
  expected.emplace_back(u"", u"");
  // Enough text for many blocks, with parts longer than one block among them.
  for (int i = 0; i < 3000; ++i) {
    const std::u16string folder =
        u"\\SD\\" + std::u16string(static_cast<std::size_t>(i % 7 + 1) * 40, u'f') + u"\\";
    const std::u16string name(static_cast<std::size_t>(i % 13 + 1) * 9,
                              static_cast<char16_t>(u'a' + i % 26));
    add(folder, name, u"\\App\\", name);
    if (i % 1000 == 500) {
      const std::u16string longName(70000 + static_cast<std::size_t>(i), u'L');
      add(folder, longName, u"\\App\\", longName);
      add(folder, u"x", u"\\App\\", u"x");  // right after the long part
    }
  }
  add(u"\\SD\\last\\", u"z", u"\\App\\", u"z");

  ASSERT_EQ(list.size(), expected.size());
  EXPECT_FALSE(list.empty());
  std::size_t index = 0;
  for (const CopyJob& job : list) {
    ASSERT_LT(index, expected.size());
    EXPECT_EQ(job.source, expected[index].first) << "job " << index;
    EXPECT_EQ(job.destination, expected[index].second) << "job " << index;
    ++index;
  }
  EXPECT_EQ(index, expected.size());
  EXPECT_EQ(list[3].destination, u"\\App\\Maps\\renamed.map");
  EXPECT_TRUE(CopyJobList{}.empty());
}

TEST(HasWildcardTest, OnlyTheStarCounts) {
  EXPECT_TRUE(hasWildcard(u"\\a\\*.dat"));
  EXPECT_TRUE(hasWildcard(u"*"));
  EXPECT_FALSE(hasWildcard(u"\\a\\?.dat"));
  EXPECT_FALSE(hasWildcard(u""));
}

}  // namespace
}  // namespace autorun::testing
