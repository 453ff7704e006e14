#include "common/card_folder_platform.h"

#include <fstream>
#include <system_error>

#include "base/wide_text.h"
#include "host_text/utf.h"

namespace autorun::host {

namespace {

namespace fs = std::filesystem;

std::vector<std::u16string> components(std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The entry of `folder` whose name equals `name` without regard to case.
std::optional<fs::path> findEntry(const fs::path& folder, std::u16string_view name) {
  std::error_code error;
  const fs::path exact = folder / fs::path(toUtf8(name));
  if (fs::exists(exact, error)) return exact;
  const std::u16string folded = foldLower(name);
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (foldLower(fromUtf8(it->path().filename().string())) == folded) return it->path();
  }
  return std::nullopt;
}

class HostFile : public File {
 public:
  explicit HostFile(const fs::path& path) : stream_(path, std::ios::binary), path_(path) {}
  bool good() const { return static_cast<bool>(stream_); }

  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
    stream_.read(static_cast<char*>(buffer), count);
    got = static_cast<std::uint32_t>(stream_.gcount());
    if (stream_.eof()) stream_.clear();
    return !stream_.bad();
  }
  bool write(const void*, std::uint32_t, std::uint32_t& written) override {
    written = 0;
    return false;
  }
  std::optional<std::uint64_t> size() override {
    std::error_code error;
    const std::uintmax_t bytes = fs::file_size(path_, error);
    if (error) return std::nullopt;
    return bytes;
  }
  bool seek(std::uint64_t offset) override {
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(stream_);
  }

 private:
  std::ifstream stream_;
  fs::path path_;
};

class HostEnumeration : public DirectoryEnumeration {
 public:
  explicit HostEnumeration(std::vector<FindEntry> entries) : entries_(std::move(entries)) {}
  bool next(FindEntry& entry) override {
    if (index_ >= entries_.size()) return false;
    entry = entries_[index_++];
    return true;
  }

 private:
  std::vector<FindEntry> entries_;
  std::size_t index_ = 1;  // the first entry went out with findFirstFile
};

FindEntry entryFor(const fs::directory_entry& item) {
  FindEntry entry;
  entry.name = fromUtf8(item.path().filename().string());
  std::error_code error;
  if (item.is_directory(error)) {
    entry.attributes = kAttributeDirectory;
  } else {
    entry.size = item.file_size(error);
    if (error) entry.size = 0;
  }
  return entry;
}

}  // namespace

bool matchesPattern(std::u16string_view name, std::u16string_view pattern) {
  if (pattern == u"*.*") return true;  // the device's "every name", dotted or not
  // Iterative matching with one backtrack point for the last '*'.
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t starP = std::u16string_view::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || foldLower(pattern[p]) == foldLower(name[n]))) {
      ++n;
      ++p;
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

CardFolderPlatform::CardFolderPlatform(fs::path root) : root_(std::move(root)) {}

std::optional<fs::path> CardFolderPlatform::resolve(const std::u16string& devicePath) const {
  fs::path current = root_;
  for (const std::u16string& part : components(devicePath)) {
    if (part == u".." || part == u".") return std::nullopt;
    std::optional<fs::path> next = findEntry(current, part);
    if (!next) return std::nullopt;
    current = std::move(*next);
  }
  return current;
}

std::unique_ptr<File> CardFolderPlatform::openFile(const std::u16string& path, FileOpenMode mode) {
  if (mode == FileOpenMode::WriteTruncate) return nullptr;
  const std::optional<fs::path> host = resolve(path);
  std::error_code error;
  if (!host || !fs::is_regular_file(*host, error)) return nullptr;
  auto file = std::make_unique<HostFile>(*host);
  if (!file->good()) return nullptr;
  return file;
}

std::uint32_t CardFolderPlatform::fileAttributes(const std::u16string& path) {
  const std::optional<fs::path> host = resolve(path);
  if (!host) return kInvalidAttributes;
  std::error_code error;
  return fs::is_directory(*host, error) ? kAttributeDirectory : 0;
}

std::unique_ptr<DirectoryEnumeration> CardFolderPlatform::findFirstFile(
    const std::u16string& pattern, FindEntry& first) {
  const std::size_t slash = pattern.rfind(u'\\');
  const std::u16string folder = slash == std::u16string::npos ? u"" : pattern.substr(0, slash);
  const std::u16string last = slash == std::u16string::npos ? pattern : pattern.substr(slash + 1);
  const std::optional<fs::path> host = resolve(folder);
  std::error_code error;
  if (!host || !fs::is_directory(*host, error)) return nullptr;
  std::vector<FindEntry> entries;
  for (fs::directory_iterator it(*host, error), end; !error && it != end; it.increment(error)) {
    FindEntry entry = entryFor(*it);
    if (matchesPattern(entry.name, last)) entries.push_back(std::move(entry));
  }
  if (entries.empty()) return nullptr;
  first = entries.front();
  return std::make_unique<HostEnumeration>(std::move(entries));
}

std::string CardFolderPlatform::toMultiByte(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace autorun::host
