#include "platform/sim/sim_filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/wide_text.h"
#include "host_text/utf.h"
#include "platform/platform_services.h"
#include "platform/sim/host_folder.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

bool isSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

bool validCharacter(char16_t c, bool pattern) {
  if (c < 0x20) return false;
  switch (c) {
    case u'<':
    case u'>':
    case u':':
    case u'"':
    case u'|':
      return false;
    case u'*':
    case u'?':
      return pattern;
    default:
      return true;
  }
}

// A lone surrogate has no host spelling: two such names would become one file named
// with U+FFFD, which no later path finds again.
bool validComponent(std::u16string_view name, bool pattern) {
  if (name == u"." || name == u"..") return false;
  return std::all_of(name.begin(), name.end(),
                     [pattern](char16_t c) { return validCharacter(c, pattern); }) &&
         !host::hasLoneSurrogate(name);
}

bool glob(std::u16string_view pattern, std::u16string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starP = std::u16string_view::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace

DeviceFileSystem::DeviceFileSystem(const std::filesystem::path& root) {
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) {
    throw SimError(root.string() + ": the device's file system folder is missing");
  }
  root_ = std::filesystem::canonical(root, error);
  if (error) throw SimError(root.string() + ": " + error.message());
  rootFd_.reset(::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

DeviceFileSystem::~DeviceFileSystem() = default;

std::optional<std::vector<std::u16string>> DeviceFileSystem::split(std::u16string_view path,
                                                                   bool pattern) {
  if (path.size() > kMaxPathLength) return std::nullopt;
  std::vector<std::u16string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    if (end > start) components.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (!validComponent(components[i], pattern && i + 1 == components.size())) return std::nullopt;
  }
  return components;
}

std::optional<std::string> DeviceFileSystem::findName(const std::filesystem::path& folder,
                                                      std::u16string_view name,
                                                      struct stat& info) const {
  const std::string exact = host::toUtf8(name);
  if (::lstat((folder / exact).c_str(), &info) == 0 && host::fromUtf8(exact) == name) return exact;
  const HostFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return std::nullopt;
  std::optional<std::string> best = spellings_.find(dir.get(), name);
  if (best && ::lstat((folder / *best).c_str(), &info) != 0) return std::nullopt;
  return best;
}

std::optional<std::string> DeviceFileSystem::asciiRelative(std::u16string_view path) {
  if (path.size() > kMaxPathLength) return std::nullopt;
  std::string relative;
  relative.reserve(path.size());
  std::size_t componentStart = 0;
  // Checks the component that ends the text so far; false when it may not stand.
  auto componentOk = [&]() {
    const std::string_view component = std::string_view(relative).substr(componentStart);
    return component != "." && component != "..";
  };
  for (const char16_t c : path) {
    if (c >= 0x80) return std::nullopt;
    if (isSeparator(c)) {
      if (relative.size() == componentStart) continue;  // an empty component
      if (!componentOk()) return std::nullopt;
      relative += '/';
      componentStart = relative.size();
      continue;
    }
    if (!validCharacter(c, false)) return std::nullopt;
    relative += static_cast<char>(c);
  }
  if (relative.size() == componentStart) {
    if (!relative.empty()) relative.pop_back();  // a trailing separator
  } else if (!componentOk()) {
    return std::nullopt;
  }
  if (relative.empty()) return std::nullopt;
  return relative;
}

std::optional<std::string> DeviceFileSystem::exactPath(std::u16string_view path) {
  if (auto relative = asciiRelative(path)) return relative;
  const auto components = split(path);
  if (!components || components->empty()) return std::nullopt;
  return exactRelative(*components, components->size());
}

std::optional<ResolvedPath> DeviceFileSystem::resolve(std::u16string_view path, bool making) const {
  const auto relative = asciiRelative(path);
  if (relative) {
    ResolvedPath resolved;
    if (resolveFromParent(*relative, resolved, making)) return resolved;
  }
  const auto components = split(path);
  if (!components) return std::nullopt;
  // An ASCII path was just tried as written: component by component.
  return relative ? walk(*components) : resolveComponents(*components);
}

std::optional<std::string> DeviceFileSystem::exactRelative(
    const std::vector<std::u16string>& components, std::size_t count) {
  std::string relative;
  for (std::size_t k = 0; k < count; ++k) {
    const std::u16string& component = components[k];
    if (!relative.empty()) relative += '/';
    if (host::isAscii(component)) {
      for (const char16_t c : component) relative += static_cast<char>(c);
      continue;
    }
    const std::string name = host::toUtf8(component);
    if (host::fromUtf8(name) != component) return std::nullopt;  // not a name as written
    relative += name;
  }
  return relative;
}

HostFd DeviceFileSystem::openBeneath(const std::string& relative, int flags) const {
  if (noOpenBeneath_) return HostFd();
  // The kernel walks the path beneath fs/ and refuses any link, which the slow path
  // would have to check itself.
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC | O_NOFOLLOW);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = ::syscall(SYS_openat2, rootFd_.get(), relative.empty() ? "." : relative.c_str(),
                            &how, sizeof how);
  if (fd < 0 && errno == ENOSYS) noOpenBeneath_ = true;  // an older kernel: asked once
  return HostFd(fd < 0 ? -1 : static_cast<int>(fd));
}

bool DeviceFileSystem::resolveFromParent(const std::string& relative, ResolvedPath& resolved,
                                         bool making) const {
  if (!rootFd_ || relative.empty()) return false;
  const std::size_t slash = relative.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : relative.substr(0, slash);
  std::string name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::size_t count =
      static_cast<std::size_t>(std::count(relative.begin(), relative.end(), '/')) + 1;
  // O_DIRECTORY: the parent is a folder, or the open fails. O_PATH: only looked up from,
  // which spares the kernel opening it.
  HostFd dir(openBeneath(parent, O_PATH | O_DIRECTORY));
  if (!dir) return false;
  resolved.count = count;
  resolved.host.reserve(root_.native().size() + relative.size() + 2);
  resolved.host = root_.native();
  resolved.host += '/';
  if (!parent.empty()) resolved.host.append(parent).append("/");
  const auto missing = [&] {
    resolved.existing = count - 1;
    resolved.parentFolder = true;
    resolved.host += name;
    resolved.parent = std::move(dir);
    return true;
  };
  // About to be made: the index tells a missing name without a question to the kernel.
  // Otherwise the name is most likely there as written, which one stat tells.
  const std::optional<SpellingIndex::Known> known =
      making ? spellings_.lookUp(dir.get(), name) : std::nullopt;
  if (known && !known->present) return missing();
  if (known) name = known->hostName;
  struct stat info {};
  if (::fstatat(dir.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (known || errno != ENOENT) return false;
    // Not under its exact name; perhaps under another spelling.
    std::optional<std::string> other = spellings_.find(dir.get(), host::fromUtf8(name));
    if (!other) return missing();
    name = std::move(*other);
    if (::fstatat(dir.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  }
  // Only files and folders are what they seem; links and the rest take the slow path.
  if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) return false;
  resolved.parent = std::move(dir);
  resolved.existing = count;
  resolved.folder = S_ISDIR(info.st_mode);
  resolved.file = S_ISREG(info.st_mode);
  resolved.parentFolder = true;
  resolved.device = info.st_dev;
  resolved.inode = info.st_ino;
  resolved.size = resolved.file ? static_cast<std::uint64_t>(info.st_size) : 0;
  resolved.host += name;
  return true;
}

std::optional<ResolvedPath> DeviceFileSystem::resolveComponents(
    const std::vector<std::u16string>& components) const {
  if (const auto relative = exactRelative(components, components.size());
      relative && !components.empty()) {
    ResolvedPath resolved;
    if (resolveFromParent(*relative, resolved)) return resolved;
  }
  return walk(components);
}

std::optional<ResolvedPath> DeviceFileSystem::walk(
    const std::vector<std::u16string>& components) const {
  const std::size_t count = components.size();
  ResolvedPath resolved;
  resolved.count = count;
  std::filesystem::path current = root_;
  bool currentIsFolder = true;
  std::size_t i = 0;
  struct stat info {};
  for (; i < count && currentIsFolder; ++i) {
    const auto name = findName(current, components[i], info);
    if (!name) break;
    // The device has no links: a path through one, or naming one, names nothing. A walk
    // of folders thus never leaves its tree, never loops and never deletes through one.
    if (S_ISLNK(info.st_mode)) return std::nullopt;
    current /= *name;
    currentIsFolder = S_ISDIR(info.st_mode);
  }
  resolved.existing = i;
  resolved.folder = resolved.exists() && currentIsFolder;
  resolved.file = resolved.exists() && count > 0 && S_ISREG(info.st_mode);
  resolved.parentFolder = count > 0 && (resolved.exists() || (i + 1 == count && currentIsFolder));
  if (resolved.exists() && count > 0) {
    resolved.device = info.st_dev;
    resolved.inode = info.st_ino;
    if (resolved.file) resolved.size = static_cast<std::uint64_t>(info.st_size);
  }
  for (; i < count; ++i) {
    current /= host::toUtf8(components[i]);
  }
  resolved.host = current.native();
  return resolved;
}

HostFd DeviceFileSystem::openFileExactly(std::u16string_view path, struct stat& info) const {
  if (!rootFd_) return HostFd();
  const std::optional<std::string> relative = exactPath(path);
  if (!relative) return HostFd();
  // Not blocking, and not taking a terminal, should the name be something else than a file.
  HostFd fd = openBeneath(*relative, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd && (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))) fd.reset();
  return fd;
}

Listing DeviceFileSystem::list(const std::filesystem::path& folder) const {
  const HostFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir) return {};
  return listOpened(dir);
}

std::optional<Listing> DeviceFileSystem::listMatches(std::u16string_view pattern) const {
  std::optional<Listing> listing;
  std::u16string last;
  // Most patterns are an ASCII folder path, then the pattern proper: the folder is listed
  // from its host path at once when it is there as written.
  const std::size_t cut = pattern.find_last_of(u"\\/");
  if (pattern.size() <= kMaxPathLength && cut != std::u16string_view::npos &&
      cut + 1 < pattern.size() && validComponent(pattern.substr(cut + 1), true)) {
    if (const auto relative = asciiRelative(pattern.substr(0, cut))) {
      listing = listExactly(*relative);
      if (listing) last = pattern.substr(cut + 1);
    }
  }
  if (!listing) {
    auto components = split(pattern, true);
    if (!components || components->empty()) return std::nullopt;
    last = std::move(components->back());
    components->pop_back();
    if (const auto relative = exactRelative(*components, components->size())) {
      listing = listExactly(*relative);
    }
    if (!listing) {
      const auto folder = resolveComponents(*components);
      if (!folder || !folder->folder) return std::nullopt;
      listing = list(folder->host);
    }
  }
  std::erase_if(listing->entries,
                [&](const Listing::Entry& entry) { return !matches(last, listing->name(entry)); });
  return listing;
}

std::optional<Listing> DeviceFileSystem::listExactly(const std::string& relative) const {
  if (!rootFd_) return std::nullopt;
  const HostFd dir = openBeneath(relative, O_RDONLY | O_DIRECTORY);
  if (!dir) return std::nullopt;
  return listOpened(dir);
}

Listing DeviceFileSystem::listOpened(const HostFd& dir) const {
  const int dirFd = dir.get();
  Listing listing;
  // Room for most folders without growing.
  listing.names.reserve(256);
  listing.entries.reserve(32);
  forEachEntry(dirFd, [&](std::string_view name, unsigned char type) {
    Listing::Entry entry;
    if (type == DT_DIR) {
      // The directory entry already tells; only files need a stat, for their size.
      entry.directory = true;
    } else {
      // Links are no entries of the device (see walk); nor is anything but files and
      // folders.
      if (type == DT_LNK) return;
      struct stat info;  // filled by fstatat
      // Names from getdents64 end in a zero byte.
      if (::fstatat(dirFd, name.data(), &info, AT_SYMLINK_NOFOLLOW) != 0) return;
      if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) return;
      entry.directory = S_ISDIR(info.st_mode);
      if (!entry.directory) entry.size = static_cast<std::uint64_t>(info.st_size);
    }
    entry.offset = listing.names.size();
    host::appendUtf8(name, listing.names);
    entry.length = static_cast<std::uint32_t>(listing.names.size() - entry.offset);
    // A host name no device name can be (a copy's temporary file among them) is left out:
    // no path could name it either.
    if (!validComponent(listing.name(entry), false)) {
      listing.names.resize(entry.offset);
      return;
    }
    listing.entries.push_back(entry);
  });
  // By folded name, then by name; folded as compared rather than stored.
  std::sort(listing.entries.begin(), listing.entries.end(),
            [&listing](const Listing::Entry& first, const Listing::Entry& second) {
              const std::u16string_view a = listing.name(first);
              const std::u16string_view b = listing.name(second);
              const std::size_t common = std::min(a.size(), b.size());
              for (std::size_t i = 0; i < common; ++i) {
                const char16_t x = foldLower(a[i]);
                const char16_t y = foldLower(b[i]);
                if (x != y) return x < y;
              }
              return a.size() != b.size() ? a.size() < b.size() : a < b;
            });
  return listing;
}

bool DeviceFileSystem::matches(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*" || pattern == u"*.*") return true;  // what a folder walk asks
  const std::u16string p = foldLower(pattern);
  const std::u16string n = foldLower(name);
  if (glob(p, n)) return true;
  return p.size() >= 2 && p.compare(p.size() - 2, 2, u".*") == 0 &&
         glob(std::u16string_view(p).substr(0, p.size() - 2), n);
}

}  // namespace autorun::sim
