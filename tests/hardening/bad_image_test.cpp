// Device images that a hostile or unlucky user made: links in the folders the installer
// walks, and a disk that fills up during a copy. The tables here are the ones in the
// README ("What happens when ...").
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "flows/card_flows.h"
#include "flows/install_flow.h"
#include "flows/uninstall_flow.h"

#include "hardening/bad_input_support.h"
#include "hardening/hardening_fixture.h"

namespace autorun::testing::hardening {
namespace {

namespace fs = std::filesystem;

// ---- Links ---------------------------------------------------------------------------------

enum class LinkFlow { Install, Uninstall };

struct LinkCase {
  const char* what;
  LinkFlow flow;
  // Makes the links, given a file outside the image.
  std::function<void(DeviceImage&, const fs::path& outside)> lay;
};

// A symbolic link at a device path (replacing what is there) to a host path.
void makeLink(DeviceImage& image, std::u16string_view at, const fs::path& target) {
  fs::remove_all(image.hostPath(at));
  fs::create_symlink(target, image.hostPath(at));
}

// The Atlas card's uninstall empties Skins and Voices (remove_dir) and removes the files
// directly in \Program Files\Atlas (remove_file *.*); its installation copies the card's
// folder Skins.
const LinkCase kLinks[] = {
    {"a link in a removed folder to the card's folder", LinkFlow::Uninstall,
     [](DeviceImage& image, const fs::path&) {
       makeLink(image, u"\\Program Files\\Atlas\\Skins\\Maps",
                image.hostPath(u"\\Storage Card\\Atlas"));
     }},
    {"a link in a removed folder to the device's root", LinkFlow::Uninstall,
     [](DeviceImage& image, const fs::path&) {
       makeLink(image, u"\\Program Files\\Atlas\\Voices\\all", image.dir() / "fs");
     }},
    {"two links back to their own folder", LinkFlow::Uninstall,
     [](DeviceImage& image, const fs::path&) {
       makeLink(image, u"\\Program Files\\Atlas\\Skins\\again",
                image.hostPath(u"\\Program Files\\Atlas\\Skins"));
       makeLink(image, u"\\Program Files\\Atlas\\Skins\\Hi\\up", "..");
     }},
    {"a link among the files removed by pattern, to the card's program", LinkFlow::Uninstall,
     [](DeviceImage& image, const fs::path&) {
       makeLink(image, u"\\Program Files\\Atlas\\maps.exe",
                image.hostPath(u"\\Storage Card\\Atlas\\maps.exe"));
     }},
    {"an installed file replaced by a link to the card's copy", LinkFlow::Uninstall,
     [](DeviceImage& image, const fs::path&) {
       makeLink(image, u"\\Program Files\\Atlas\\Voices\\anna.wav",
                image.hostPath(u"\\Storage Card\\Atlas\\Voices\\anna.wav"));
     }},
    {"a removed folder that is a link to the card's folder", LinkFlow::Uninstall,
     [](DeviceImage& image, const fs::path&) {
       makeLink(image, u"\\Program Files\\Atlas\\Voices",
                image.hostPath(u"\\Storage Card\\Atlas\\Voices"));
     }},
    {"a link in a removed folder to a file outside the image", LinkFlow::Uninstall,
     [](DeviceImage& image, const fs::path& outside) {
       makeLink(image, u"\\Program Files\\Atlas\\Skins\\secret.skn", outside);
     }},
    {"a card folder with links back to itself", LinkFlow::Install,
     [](DeviceImage& image, const fs::path&) {
       makeLink(image, u"\\Storage Card\\Atlas\\Skins\\self", ".");
       makeLink(image, u"\\Storage Card\\Atlas\\Skins\\Hi\\top", "../..");
     }},
    {"a card folder with links to a card file and to a file outside", LinkFlow::Install,
     [](DeviceImage& image, const fs::path& outside) {
       makeLink(image, u"\\Storage Card\\Atlas\\Skins\\extra.skn", "../atlas.ini");
       makeLink(image, u"\\Storage Card\\Atlas\\Skins\\secret.skn", outside);
     }},
};

struct LinkRun {
  DeviceSnapshot after;
  std::vector<std::string> messages;
  std::set<std::string> links;  // device paths of the links in the image
};

// The flow on the Atlas card, with the row's links laid (for an uninstall: after the
// installation) or without.
LinkRun runWithLinks(const LinkCase* c, LinkFlow flow, const fs::path& outside) {
  DeviceImage image;
  writeCardAndBystanders(image);
  sim::SimOptions options;
  options.answers = {true};
  if (flow == LinkFlow::Uninstall) {
    const auto device = image.platform(options);
    const auto context = loadInstaller(*device);
    EXPECT_NE(context, nullptr);
    if (context == nullptr || !runInstall(*context, true)) ADD_FAILURE() << "not installed";
  }
  if (c != nullptr) c->lay(image, outside);
  const auto device = image.platform(options);
  const auto context = loadInstaller(*device);
  EXPECT_NE(context, nullptr);
  if (context == nullptr) return {};
  if (flow == LinkFlow::Install) {
    runInstall(*context, true);
  } else {
    runUninstall(*context, true);
  }
  LinkRun run{snapshot(image.dir()), messageBoxes(*device), {}};
  const fs::path root = image.dir() / "fs";
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    if (!it->is_symlink()) continue;
    std::string path;
    for (const fs::path& part : it->path().lexically_relative(root)) path += "\\" + part.string();
    run.links.insert(path);
  }
  return run;
}

// The links are no part of the device: the flow does exactly what it does without them,
// deletes nothing through them, copies nothing from them and ends. The links themselves
// are the only differences allowed (the snapshot reads them as what they lead to, or as
// nothing); what they lead to is snapshotted where it lies.
TEST(BadImage, Links) {
  const ImagesInMemory inMemory;
  ScratchFolder scratch;
  const fs::path outside = scratch.dir() / "secret.txt";
  std::ofstream(outside) << "host data";
  const LinkRun plainInstall = runWithLinks(nullptr, LinkFlow::Install, outside);
  const LinkRun plainUninstall = runWithLinks(nullptr, LinkFlow::Uninstall, outside);
  for (const LinkCase& c : kLinks) {
    SCOPED_TRACE(c.what);
    const LinkRun& plain = c.flow == LinkFlow::Install ? plainInstall : plainUninstall;
    const LinkRun linked = runWithLinks(&c, c.flow, outside);
    EXPECT_FALSE(linked.links.empty());
    EXPECT_EQ(linked.messages, plain.messages);
    for (const std::string& change : differences(plain.after, linked.after)) {
      const std::string path = change.substr(change.find(' ') + 1);
      EXPECT_EQ(linked.links.count(path), 1u) << change;
    }
    std::ifstream kept(outside);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "host data");
  }
}

// ---- A full disk ---------------------------------------------------------------------------

enum class CopyBy { Platform, Installation, CardInsert };

struct DiskCase {
  const char* what;
  CopyBy by;
  bool replacing;  // a working older file is there
};

const DiskCase kFullDisk[] = {
    {"a copy over an existing file", CopyBy::Platform, true},
    {"a copy to a new name", CopyBy::Platform, false},
    {"an installation copy over an older build", CopyBy::Installation, true},
    {"an installation copy to a new name", CopyBy::Installation, false},
    {"a card-insert copy over the Today DLL", CopyBy::CardInsert, true},
    {"a card-insert copy to a new name", CopyBy::CardInsert, false},
};

// A copy of 256 KiB onto a disk of 64 KiB: it fails, and leaves the old file as it was, no
// part of the new one and no temporary file.
TEST(BadImage, FullDisk) {
  constexpr char16_t kSource[] = u"\\Storage Card\\Atlas\\today.dll";
  constexpr char16_t kDestination[] = u"\\Full\\today.dll";
  const ImagesInMemory inMemory;
  for (const DiskCase& c : kFullDisk) {
    SCOPED_TRACE(c.what);
    DeviceImage image;
    image.writeFile(kSource, std::string(256 * 1024, 'n'));
    const SmallDisk disk(image.hostPath(u"\\Full"), 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.skipReason();
    if (c.replacing) image.writeFile(kDestination, "the working build");
    const char* section =
        c.by == CopyBy::CardInsert ? "[card_insert_actions]\n" : "[install_actions]\n";
    image.writeConfiguration(std::string(kSmallConfiguration) + section +
                             "src_1 = \"\\\\Atlas\\\\today.dll\"\n"
                             "dst_1 = \"\\\\Full\\\\today.dll\"\n");

    sim::SimOptions options;
    options.answers = {true};
    const auto device = image.platform(options);
    const auto context = loadInstaller(*device);
    ASSERT_NE(context, nullptr);
    std::vector<std::string> expected;
    switch (c.by) {
      case CopyBy::Platform:
        EXPECT_FALSE(device->copyFile(kSource, kDestination));
        break;
      case CopyBy::Installation:
        EXPECT_FALSE(runInstall(*context, true));
        expected.push_back("Can't copy:\n" + host::toUtf8(kSource));
        break;
      case CopyBy::CardInsert:
        onCardInserted(*context);
        break;
    }
    EXPECT_EQ(messageBoxes(*device), expected);
    // Compared whole, shown by size: a torn copy is 256 KiB of one letter.
    const std::optional<std::string> left = image.readFile(kDestination);
    EXPECT_TRUE(left ==
                (c.replacing ? std::optional<std::string>("the working build") : std::nullopt))
        << (left ? std::to_string(left->size()) + " bytes" : "no file");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(image.hostPath(u"\\Full"))) {
      names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, c.replacing ? std::set<std::string>{"today.dll"} : std::set<std::string>{});
  }
}

}  // namespace
}  // namespace autorun::testing::hardening
