#include "platform/sim/sim_filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/utf.h"
#include "config/wide_text.h"
#include "platform/platform_services.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

bool isSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

bool validComponent(std::u16string_view name, bool pattern) {
  if (name == u"." || name == u"..") return false;
  for (char16_t c : name) {
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
        if (!pattern) return false;
        break;
      default:
        break;
    }
  }
  return true;
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
  rootFd_ = ::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

DeviceFileSystem::~DeviceFileSystem() {
  if (rootFd_ >= 0) ::close(rootFd_);
}

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

bool DeviceFileSystem::inside(const std::filesystem::path& canonicalPath) const {
  const std::string& root = root_.native();
  const std::string& path = canonicalPath.native();
  return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                          path[root.size()] == '/');
}

std::optional<std::string> DeviceFileSystem::findName(const std::filesystem::path& folder,
                                                      std::u16string_view name,
                                                      struct stat& info) const {
  const std::string exact = host::toUtf8(name);
  if (::lstat((folder / exact).c_str(), &info) == 0 && host::fromUtf8(exact) == name) return exact;
  const std::u16string folded = foldLower(name);
  std::optional<std::string> best;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string candidate = it->path().filename().string();
    if (foldLower(host::fromUtf8(candidate)) == folded && (!best || candidate < *best)) {
      best = candidate;
    }
  }
  if (best && ::lstat((folder / *best).c_str(), &info) != 0) return std::nullopt;
  return best;
}

std::optional<ResolvedPath> DeviceFileSystem::resolve(std::u16string_view path) const {
  auto components = split(path);
  if (!components) return std::nullopt;
  return resolveComponents(std::move(*components));
}

std::optional<std::string> DeviceFileSystem::exactRelative(
    const std::vector<std::u16string>& components, std::size_t count) {
  std::string relative;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string name = host::toUtf8(components[k]);
    if (host::fromUtf8(name) != components[k]) return std::nullopt;  // not a name as written
    if (!relative.empty()) relative += '/';
    relative += name;
  }
  return relative;
}

int DeviceFileSystem::openBeneath(const std::string& relative, int flags) const {
  if (noOpenBeneath_) return -1;
  // The kernel walks the path beneath fs/ and refuses any link, which the slow path
  // would have to check itself.
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC | O_NOFOLLOW);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd =
      ::syscall(SYS_openat2, rootFd_, relative.empty() ? "." : relative.c_str(), &how, sizeof how);
  if (fd < 0 && errno == ENOSYS) noOpenBeneath_ = true;  // an older kernel: asked once
  return fd < 0 ? -1 : static_cast<int>(fd);
}

bool DeviceFileSystem::resolveExactly(const std::vector<std::u16string>& components,
                                      std::size_t count, std::filesystem::path& host,
                                      struct stat& info) const {
  if (rootFd_ < 0 || count == 0) return false;
  const std::optional<std::string> relative = exactRelative(components, count);
  if (!relative) return false;
  const int fd = openBeneath(*relative, O_PATH);
  if (fd < 0) return false;
  const bool known = ::fstat(fd, &info) == 0;
  ::close(fd);
  // Only files and folders are what they seem; anything else is left to the slow path.
  if (!known || !(S_ISDIR(info.st_mode) || S_ISREG(info.st_mode))) return false;
  host = root_ / *relative;
  return true;
}

std::optional<ResolvedPath> DeviceFileSystem::resolveComponents(
    std::vector<std::u16string> components) const {
  ResolvedPath resolved;
  resolved.components = std::move(components);
  const std::size_t count = resolved.components.size();
  std::filesystem::path current = root_;
  bool currentIsFolder = true;
  std::size_t i = 0;

  struct stat info {};
  if (resolveExactly(resolved.components, count, current, info)) {
    resolved.host = std::move(current);
    resolved.existing = count;
    resolved.folder = S_ISDIR(info.st_mode);
    resolved.file = S_ISREG(info.st_mode);
    resolved.parentFolder = true;
    resolved.device = info.st_dev;
    resolved.inode = info.st_ino;
    return resolved;
  }
  // Often only the last component is missing (a file about to be made): start there.
  if (count >= 2 && resolveExactly(resolved.components, count - 1, current, info) &&
      S_ISDIR(info.st_mode)) {
    i = count - 1;
  } else {
    current = root_;
  }

  for (; i < count && currentIsFolder; ++i) {
    const auto name = findName(current, resolved.components[i], info);
    if (!name) break;
    std::filesystem::path candidate = current / *name;
    if (S_ISLNK(info.st_mode)) {
      // A link is followed only while it stays inside fs/; one leading out, or nowhere,
      // makes the whole path invalid.
      std::error_code error;
      candidate = std::filesystem::canonical(candidate, error);
      if (error || !inside(candidate) || ::stat(candidate.c_str(), &info) != 0) {
        return std::nullopt;
      }
    }
    current = candidate;
    currentIsFolder = S_ISDIR(info.st_mode);
  }
  resolved.existing = i;
  resolved.folder = resolved.exists() && currentIsFolder;
  resolved.file = resolved.exists() && count > 0 && S_ISREG(info.st_mode);
  resolved.parentFolder = count > 0 && (resolved.exists() || (i + 1 == count && currentIsFolder));
  if (resolved.exists() && count > 0) {
    resolved.device = info.st_dev;
    resolved.inode = info.st_ino;
  }
  for (; i < count; ++i) {
    current /= host::toUtf8(resolved.components[i]);
  }
  resolved.host = current;
  return resolved;
}

std::vector<HostEntry> DeviceFileSystem::list(const std::filesystem::path& folder,
                                              bool hostPaths) const {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return {};
  return listOpened(dir, folder, hostPaths);
}

std::optional<std::vector<HostEntry>> DeviceFileSystem::listFolder(
    const std::vector<std::u16string>& components) const {
  if (rootFd_ < 0) return std::nullopt;
  const std::optional<std::string> relative = exactRelative(components, components.size());
  if (!relative) return std::nullopt;
  const int fd = openBeneath(*relative, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return std::nullopt;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return std::nullopt;
  }
  return listOpened(dir, relative->empty() ? root_ : root_ / *relative, false);
}

std::vector<HostEntry> DeviceFileSystem::listOpened(DIR* dir, const std::filesystem::path& folder,
                                                    bool hostPaths) const {
  struct Listed {
    HostEntry entry;
    std::u16string folded;
  };
  std::vector<Listed> listed;
  const int dirFd = ::dirfd(dir);
  while (const dirent* found = ::readdir(dir)) {
    const std::string_view name = found->d_name;
    if (name == "." || name == "..") continue;
    HostEntry entry;
    if (hostPaths) entry.host = folder / name;
    entry.name = host::fromUtf8(name);
    if (found->d_type == DT_DIR) {
      // The directory entry already tells; only files need a stat, for their size.
      entry.directory = true;
    } else {
      struct stat info {};
      if (::fstatat(dirFd, found->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISLNK(info.st_mode)) {
        std::error_code linkError;
        entry.host = std::filesystem::canonical(folder / name, linkError);
        if (linkError || !inside(entry.host) || ::stat(entry.host.c_str(), &info) != 0) continue;
      }
      if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
      entry.directory = S_ISDIR(info.st_mode);
      entry.size = entry.directory ? 0 : static_cast<std::uint64_t>(info.st_size);
    }
    std::u16string folded = foldLower(entry.name);
    listed.push_back({std::move(entry), std::move(folded)});
  }
  ::closedir(dir);
  std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
    return a.folded != b.folded ? a.folded < b.folded : a.entry.name < b.entry.name;
  });
  std::vector<HostEntry> entries;
  entries.reserve(listed.size());
  for (Listed& item : listed) entries.push_back(std::move(item.entry));
  return entries;
}

bool DeviceFileSystem::matches(std::u16string_view pattern, std::u16string_view name) {
  const std::u16string p = foldLower(pattern);
  const std::u16string n = foldLower(name);
  if (glob(p, n)) return true;
  return p.size() >= 2 && p.compare(p.size() - 2, 2, u".*") == 0 &&
         glob(std::u16string_view(p).substr(0, p.size() - 2), n);
}

}  // namespace autorun::sim
