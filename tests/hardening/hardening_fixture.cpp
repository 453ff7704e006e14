#include "hardening/hardening_fixture.h"

#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "actions/registry_actions.h"
#include "context/config_loader.h"
#include "entry/entry.h"
#include "host_text/utf.h"
#include "platform/sim/sim_registry.h"
#include "support/test_keys.h"

namespace autorun::testing::hardening {

namespace fs = std::filesystem;

namespace {

fs::path memoryFolder() {
  std::error_code error;
  return fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0
             ? fs::path("/dev/shm")
             : fs::temp_directory_path();
}

}  // namespace

ScratchFolder::ScratchFolder() {
  const fs::path base = memoryFolder();
  std::string pattern = (base / "autorun-hardening-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a scratch folder");
  dir_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code error;
  fs::remove_all(dir_, error);
}

ImagesInMemory::ImagesInMemory() {
  if (const char* tmpdir = std::getenv("TMPDIR")) previous_ = tmpdir;
  ::setenv("TMPDIR", memoryFolder().c_str(), 1);
}

ImagesInMemory::~ImagesInMemory() {
  if (previous_) {
    ::setenv("TMPDIR", previous_->c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
}

SmallDisk::SmallDisk(fs::path at, std::size_t bytes) : at_(std::move(at)) {
  fs::create_directories(at_);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  if (!mounted_) error_ = errno;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
}

std::string SmallDisk::skipReason() const {
  return "a small disk (tmpfs) cannot be mounted here (" + std::string(std::strerror(error_)) +
         "); run as root to test a full disk";
}

namespace {

// An 84 x 30 logo, 24 bits per pixel, rows bottom-up (every row is one read).
std::string logoBitmap() {
  constexpr std::uint32_t kWidth = 84;
  constexpr std::uint32_t kHeight = 30;
  constexpr std::uint32_t kStride = kWidth * 3;
  std::string out;
  auto put = [&out](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  out += "BM";
  put(54 + kStride * kHeight, 4);
  put(0, 4);
  put(54, 4);
  put(40, 4);
  put(kWidth, 4);
  put(kHeight, 4);
  put(1, 2);
  put(24, 2);
  for (int i = 0; i < 6; ++i) put(0, 4);
  for (std::uint32_t i = 0; i < kStride * kHeight; ++i) out.push_back(static_cast<char>(i * 7));
  return out;
}

std::string hex(const std::vector<std::uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t byte : data) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 15]);
  }
  return out;
}

void walkRegistry(const sim::RegistryNode& node, const std::string& path, bool isRoot,
                  DeviceSnapshot& out) {
  if (!isRoot) out.registryKeys.insert(path);
  for (const sim::RegistryValue& value : node.values()) {
    out.registryValues[path + "\\@" + host::toUtf8(value.name)] =
        std::to_string(value.type) + ":" + hex(value.data);
  }
  for (const auto& child : node.children()) {
    walkRegistry(*child, path + "\\" + host::toUtf8(child->name()), false, out);
  }
}

bool within(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '\\';
}

std::string longRootName(RegistryRoot root) {
  return host::toUtf8(sim::registryRootName(root));
}

}  // namespace

std::string folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void writeCardAndBystanders(DeviceImage& image) {
  image.writeConfiguration(kCardConfiguration);
  image.writeFile(u"\\Storage Card\\2577\\autorun.exe", "MZ installer");
  image.writeFile(kCardExe, fakeExecutable(kCardStamp));
  image.writeFile(u"\\Storage Card\\Atlas\\atlasext.dll", std::string(300, 'd'));
  image.writeFile(u"\\Storage Card\\Atlas\\Skins\\day.skn", std::string(200, 'a'));
  image.writeFile(u"\\Storage Card\\Atlas\\Skins\\night.skn", std::string(100, 'n'));
  image.writeFile(u"\\Storage Card\\Atlas\\Skins\\Hi\\day.skn", std::string(400, 'A'));
  image.writeFile(u"\\Storage Card\\Atlas\\Voices\\anna.wav", std::string(500, 'w'));
  image.writeFile(u"\\Storage Card\\Atlas\\Voices\\paul.wav", std::string(600, 'v'));
  image.writeFile(u"\\Storage Card\\Atlas\\Voices\\readme.txt", "not copied");
  image.writeFile(u"\\Storage Card\\Atlas\\atlas.ini", "[atlas]\r\nunits=metric\r\n");
  image.writeFile(u"\\Storage Card\\Atlas\\maps.exe", "MZ maps");
  image.writeFile(u"\\Storage Card\\Atlas\\logo.bmp", logoBitmap());

  image.writeFile(u"\\Storage Card\\Other\\data.bin", "someone else's");
  image.writeFile(u"\\Program Files\\Other\\keep.txt", "keep");
  image.writeFile(u"\\Program Files\\Atlas Tools\\tool.exe", "MZ tool");
  image.writeFile(u"\\Program Files\\atlas.txt", "beside the folder");
  image.writeFile(u"\\Windows\\Start Menu\\Programs\\Other.lnk", "1#\"\\Windows\\other.exe\"");
  image.writeFile(u"\\Windows\\atlas.dll", "a system file of the same name");
  image.writeFile(u"\\My Documents\\notes.txt", "notes");
  image.writeRegistry(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\AtlasTools]\n"
      "\"Keep\"=dword:00000001\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Today\\Items\\Other]\n"
      "\"Enabled\"=dword:00000001\n\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "\"Name\"=\"someone else's\"\n"
      "\"Volume\"=dword:00000003\n");
  image.writeDeviceJson({{"windows", {{{"class", "MSContactsUI"}, {"title", "Contacts"}}}}});
}

std::unique_ptr<InstallerContext> loadInstaller(PlatformServices& platform,
                                                std::u16string commandLine) {
  auto context = std::make_unique<InstallerContext>(platform, std::string(kTestKey));
  context->moduleHandle = sim::SimPlatform::kModuleHandle;
  context->commandLine = std::move(commandLine);
  if (loadConfiguration(*context) != kLoadOk) return nullptr;
  publishFolderVariables(*context);
  return context;
}

DeviceSnapshot snapshot(const fs::path& deviceDir) {
  DeviceSnapshot out;
  const fs::path root = deviceDir / "fs";
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    std::string device;
    for (const fs::path& part : it->path().lexically_relative(root)) device += "\\" + part.string();
    if (it->is_directory()) {
      out.folders.insert(device);
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      out.files[device] = bytes.str();
    }
  }
  std::ifstream in(deviceDir / "registry.reg", std::ios::binary);
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    const sim::RegistryTree tree = sim::parseRegistryText(text.str(), "registry.reg");
    for (const auto& rootNode : tree.roots) {
      walkRegistry(*rootNode, host::toUtf8(rootNode->name()), true, out);
    }
  }
  return out;
}

std::vector<std::string> differences(const DeviceSnapshot& before, const DeviceSnapshot& after) {
  std::vector<std::string> out;
  auto compareSets = [&out](const std::set<std::string>& a, const std::set<std::string>& b,
                            const std::string& what) {
    for (const std::string& item : a) {
      if (b.count(item) == 0) out.push_back("-" + what + " " + item);
    }
    for (const std::string& item : b) {
      if (a.count(item) == 0) out.push_back("+" + what + " " + item);
    }
  };
  auto compareMaps = [&out](const std::map<std::string, std::string>& a,
                            const std::map<std::string, std::string>& b, const std::string& what) {
    for (const auto& [item, content] : a) {
      const auto other = b.find(item);
      if (other == b.end()) {
        out.push_back("-" + what + " " + item);
      } else if (other->second != content) {
        out.push_back("~" + what + " " + item);
      }
    }
    for (const auto& [item, content] : b) {
      if (a.count(item) == 0) out.push_back("+" + what + " " + item);
    }
  };
  compareSets(before.folders, after.folders, "folder");
  compareMaps(before.files, after.files, "file");
  compareSets(before.registryKeys, after.registryKeys, "key");
  compareMaps(before.registryValues, after.registryValues, "value");
  return out;
}

NamedByConfiguration::NamedByConfiguration(const ConfigStore& config) {
  for (const auto& [key, value] : config.entries()) {
    if (!value.empty() && value.front() == u'\\') {
      std::string path = folded(host::toUtf8(value));
      // A pattern names the files of its folder.
      const std::size_t slash = path.rfind('\\');
      if (path.find_first_of("*?", slash) != std::string::npos) path.resize(slash);
      while (!path.empty() && path.back() == '\\') path.pop_back();
      if (!path.empty()) paths_.push_back(path);
    }
    const RegistryLocation location = parseRegistryLocation(value);
    if (location.root) {
      std::string keyPath = longRootName(*location.root);
      if (!location.keyPath.empty()) keyPath += "\\" + host::toUtf8(location.keyPath);
      locations_.push_back({folded(keyPath), folded(host::toUtf8(location.name))});
    }
  }
}

bool NamedByConfiguration::pathAllowed(const std::string& devicePath) const {
  const std::string path = folded(devicePath);
  return std::any_of(paths_.begin(), paths_.end(), [&path](const std::string& named) {
    return path == named || within(path, named) || within(named, path);
  });
}

bool NamedByConfiguration::keyAllowed(const std::string& key, bool removed) const {
  const std::string k = folded(key);
  return std::any_of(locations_.begin(), locations_.end(), [&](const Location& l) {
    const std::string subtree = l.key + "\\" + l.name;
    if (k == subtree || within(k, subtree)) return true;
    // Writing a value creates its key and the keys above it.
    return !removed && (k == l.key || within(l.key, k));
  });
}

bool NamedByConfiguration::valueAllowed(const std::string& key, const std::string& name,
                                        bool removed) const {
  const std::string k = folded(key);
  const std::string n = folded(name);
  return std::any_of(locations_.begin(), locations_.end(), [&](const Location& l) {
    const std::string subtree = l.key + "\\" + l.name;
    if (k == subtree || within(k, subtree)) return true;
    return !removed && k == l.key && n == l.name;
  });
}

std::vector<std::string> NamedByConfiguration::untouchable(const DeviceSnapshot& before,
                                                           const DeviceSnapshot& after) const {
  std::vector<std::string> out;
  for (const std::string& change : differences(before, after)) {
    const bool removed = change[0] == '-';
    const std::size_t space = change.find(' ');
    const std::string what = change.substr(1, space - 1);
    const std::string item = change.substr(space + 1);
    bool allowed = false;
    if (what == "file" || what == "folder") {
      allowed = pathAllowed(item);
    } else if (what == "key") {
      allowed = keyAllowed(item, removed);
    } else {
      const std::size_t at = item.rfind("\\@");
      allowed = valueAllowed(item.substr(0, at), item.substr(at + 2), removed);
    }
    if (!allowed) out.push_back(change);
  }
  return out;
}

}  // namespace autorun::testing::hardening
