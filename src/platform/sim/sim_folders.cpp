// SimPlatform's folders: enumeration, creation, free space, the special folders and the
// storage cards.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>

#include "platform/sim/device_state.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::u16string_view kDefaultCard = u"Storage Card";

class SimDirectoryEnumeration : public DirectoryEnumeration {
 public:
  explicit SimDirectoryEnumeration(Listing listing) : listing_(std::move(listing)) {}
  bool next(FindEntry& entry) override {
    if (index_ >= listing_.entries.size()) return false;
    const Listing::Entry& next = listing_.entries[index_++];
    entry.name.assign(listing_.name(next));  // into the room the caller's name has
    entry.attributes = next.directory ? kAttributeDirectory : kAttributeArchive;
    entry.size = next.size;
    return true;
  }

 private:
  Listing listing_;
  std::size_t index_ = 0;
};

class SimCardEnumeration : public CardEnumeration {
 public:
  explicit SimCardEnumeration(std::vector<std::u16string> cards) : cards_(std::move(cards)) {}
  bool next(std::u16string& folderName) override {
    if (index_ >= cards_.size()) return false;
    folderName = cards_[index_++];
    return true;
  }

 private:
  std::vector<std::u16string> cards_;
  std::size_t index_ = 1;
};

}  // namespace

std::unique_ptr<DirectoryEnumeration> SimPlatform::findFirstFile(const std::u16string& pattern,
                                                                 FindEntry& first) {
  if (DeviceFileSystem::namesFolderOnly(pattern)) return nullptr;
  std::optional<Listing> listing = state_->files.listMatches(pattern);
  if (!listing) return nullptr;
  auto enumeration = std::make_unique<SimDirectoryEnumeration>(std::move(*listing));
  if (!enumeration->next(first)) return nullptr;
  return enumeration;
}

std::uint32_t SimPlatform::createDirectory(const std::u16string& path) {
  const auto resolved = state_->files.resolve(path, true);
  std::uint32_t result = kErrorSuccess;
  if (!resolved) {
    result = kErrorPathNotFound;
  } else if (resolved->exists()) {
    result = kErrorAlreadyExists;
  } else if (!resolved->parentFolder) {
    result = kErrorPathNotFound;
  } else if ((resolved->parent ? ::mkdirat(resolved->parent.get(), resolved->name(), 0755)
                               : ::mkdir(resolved->host.c_str(), 0755)) != 0) {
    result = errno == EEXIST   ? kErrorAlreadyExists
             : errno == ENOSPC ? kErrorDiskFull
                               : kErrorAccessDenied;
  }
  if (state_->tracing()) {
    state_->record({{"op", "create_directory"}, {"path", utf8(path)}, {"result", result}});
  }
  return result;
}

std::optional<std::uint64_t> SimPlatform::freeBytes(const std::u16string& folder) {
  const auto resolved = state_->files.resolve(folder);
  if (!resolved || !resolved->folder) return std::nullopt;
  if (state_->config.freeBytes) return *state_->config.freeBytes;
  struct statvfs info {};
  if (::statvfs(resolved->host.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::u16string SimPlatform::specialFolderPath(int number) {
  const auto it = state_->config.specialFolders.find(number);
  if (it == state_->config.specialFolders.end()) return {};
  const std::u16string& path = it->second;
  if (const auto whole = state_->files.resolve(path); whole && whole->exists()) {
    return whole->folder ? path : std::u16string();
  }
  const auto components = DeviceFileSystem::split(path);
  if (!components) return {};
  // Made when missing, with every folder above it.
  std::u16string prefix;
  for (const std::u16string& component : *components) {
    prefix += u"\\" + component;
    const auto resolved = state_->files.resolve(prefix);
    if (!resolved) return {};
    if (resolved->exists()) {
      if (!resolved->folder) return {};
      continue;
    }
    if (createDirectory(prefix) != kErrorSuccess) return {};
  }
  return path;
}

std::unique_ptr<CardEnumeration> SimPlatform::findFirstCard(std::u16string& firstCard) {
  std::vector<std::u16string> cards;
  if (state_->config.cards) {
    cards = *state_->config.cards;
  } else if (const auto card =
                 state_->files.resolve(std::u16string(u"\\") + std::u16string(kDefaultCard));
             card && card->folder) {
    cards.emplace_back(kDefaultCard);
  }
  if (cards.empty()) return nullptr;
  firstCard = cards.front();
  return std::make_unique<SimCardEnumeration>(std::move(cards));
}

}  // namespace autorun::sim
