#include "platform/sim/sim_filesystem.h"

#include <sys/stat.h>

#include <algorithm>

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

std::optional<ResolvedPath> DeviceFileSystem::resolveComponents(
    std::vector<std::u16string> components) const {
  ResolvedPath resolved;
  resolved.components = std::move(components);
  std::filesystem::path current = root_;
  bool currentIsFolder = true;
  std::size_t i = 0;
  for (; i < resolved.components.size() && currentIsFolder; ++i) {
    struct stat info {};
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
  for (; i < resolved.components.size(); ++i) {
    current /= host::toUtf8(resolved.components[i]);
  }
  resolved.host = current;
  return resolved;
}

std::vector<HostEntry> DeviceFileSystem::list(const std::filesystem::path& folder) const {
  std::vector<HostEntry> entries;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    HostEntry entry;
    entry.host = it->path();
    entry.name = host::fromUtf8(it->path().filename().string());
    struct stat info {};
    if (::lstat(entry.host.c_str(), &info) != 0) continue;
    if (S_ISLNK(info.st_mode)) {
      std::error_code linkError;
      entry.host = std::filesystem::canonical(entry.host, linkError);
      if (linkError || !inside(entry.host) || ::stat(entry.host.c_str(), &info) != 0) continue;
    }
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
    entry.directory = S_ISDIR(info.st_mode);
    entry.size = entry.directory ? 0 : static_cast<std::uint64_t>(info.st_size);
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(), [](const HostEntry& a, const HostEntry& b) {
    const std::u16string fa = foldLower(a.name);
    const std::u16string fb = foldLower(b.name);
    return fa != fb ? fa < fb : a.name < b.name;
  });
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
