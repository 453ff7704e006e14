#include "platform/sim/sim_platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/dialog_ids.h"
#include "host_text/code_pages.h"
#include "host_text/utf.h"
#include "platform/sim/device_config.h"
#include "platform/sim/host_folder.h"
#include "platform/sim/sim_dialogs.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_terminal.h"
#include "platform/sim/sim_trace.h"

namespace autorun::sim {

namespace {

using nlohmann::json;

constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::u16string_view kDialogClass = u"#32770";
constexpr std::u16string_view kProgressClass = u"msctls_progress32";
constexpr std::u16string_view kDefaultCard = u"Storage Card";

std::string utf8(std::u16string_view text) {
  return host::toUtf8(text);
}

DeviceConfig readDeviceConfig(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return DeviceConfig{};
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) throw SimError(file.string() + ": cannot be read: " + std::strerror(errno));
  std::string text;
  char buffer[16384];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) throw SimError(file.string() + ": cannot be read");
  return parseDeviceConfig(text, file.string());
}

std::filesystem::path checkedDeviceDir(const std::filesystem::path& dir) {
  std::error_code error;
  if (!std::filesystem::is_directory(dir, error)) {
    throw SimError(dir.string() + ": no device image here (expected a folder with fs/ in it)");
  }
  return dir;
}

struct FileId {
  dev_t device;
  ino_t inode;
  bool operator<(const FileId& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
};

struct OpenCounts {
  int readers = 0;  // shared readers
  int writers = 0;
  bool exclusive = false;
};

struct SimWindow {
  SimWindowInfo info;
  DialogHandler* handler = nullptr;  // dialogs only
  bool ended = false;
  int result = 0;
  std::vector<WindowHandle> controls;  // dialogs only
  SimSurface surface;
  SimWindowSpec spec;  // top-level windows of other programs
};

}  // namespace

// ---- The device's state, shared by the platform and everything it hands out -------------

class DeviceState {
 public:
  explicit DeviceState(SimOptions simOptions)
      : options(std::move(simOptions)),
        config(readDeviceConfig(checkedDeviceDir(options.deviceDir) / "device.json")),
        files(options.deviceDir / "fs"),
        registry(options.deviceDir / "registry.reg"),
        trace(options.traceFile, options.keepTrace) {
    for (const SimWindowSpec& spec : config.windows) {
      SimWindow window;
      window.info.kind = SimWindowInfo::Kind::TopLevel;
      window.info.windowClass = spec.windowClass;
      window.info.text = spec.title;
      window.spec = spec;
      windows.emplace(nextHandle++, std::move(window));
    }
  }

  SimOptions options;
  DeviceConfig config;
  DeviceFileSystem files;
  RegistryFile registry;
  TraceLog trace;
  Terminal terminal;

  std::map<FileId, OpenCounts> openFiles;
  std::map<WindowHandle, SimWindow> windows;
  std::vector<WindowHandle> dialogOrder;
  std::map<DrawingSurface, WindowHandle> paintSurfaces;
  WindowHandle nextHandle = 0x100;
  DrawingSurface nextSurface = 0x7000;
  std::size_t answerIndex = 0;
  WindowHandle foreground = 0;

  void record(json entry) { trace.record(std::move(entry)); }
  bool tracing() const { return trace.active(); }

  SimWindow* window(WindowHandle handle) {
    const auto it = windows.find(handle);
    return it == windows.end() ? nullptr : &it->second;
  }

  // The answer to the next Yes/No question: the answer list first, then the terminal,
  // else No.
  bool takeAnswer(const std::u16string& caption, const std::u16string& text) {
    if (answerIndex < options.answers.size()) return options.answers[answerIndex++];
    if (options.useTerminal && Terminal::canAsk()) return terminal.askYesNo(caption, text);
    return false;
  }

  // Adds the window's identity to a trace entry.
  void describe(json& entry, WindowHandle handle) {
    entry["window"] = handle;
    if (const SimWindow* w = window(handle)) {
      if (w->info.templateId != 0) entry["template"] = w->info.templateId;
      if (w->info.controlId != 0) entry["control"] = w->info.controlId;
    }
  }
};

namespace {

// ---- Files -------------------------------------------------------------------------------

class SimFile : public File {
 public:
  SimFile(std::shared_ptr<DeviceState> state, int fd, FileId id, FileOpenMode mode,
          std::u16string devicePath)
      : state_(std::move(state)), fd_(fd), id_(id), mode_(mode), path_(std::move(devicePath)) {}

  ~SimFile() override {
    ::close(fd_);
    const auto held = state_->openFiles.find(id_);
    if (held != state_->openFiles.end()) {
      OpenCounts& counts = held->second;
      switch (mode_) {
        case FileOpenMode::ReadShared:
          --counts.readers;
          break;
        case FileOpenMode::ReadExclusive:
          counts.exclusive = false;
          break;
        case FileOpenMode::WriteTruncate:
          --counts.writers;
          break;
      }
      if (counts.readers == 0 && counts.writers == 0 && !counts.exclusive) {
        state_->openFiles.erase(held);
      }
    }
    if (mode_ == FileOpenMode::WriteTruncate) {
      try {
        state_->record(
            {{"op", "write_file"}, {"path", utf8(path_)}, {"ok", true}, {"bytes", written_}});
      } catch (...) {
        // Out of memory while closing: the file is written, only its trace line is lost.
      }
    }
  }

  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
    got = 0;
    if (mode_ == FileOpenMode::WriteTruncate) return false;
    auto* out = static_cast<char*>(buffer);
    while (got < count) {
      const ssize_t n = ::read(fd_, out + got, count - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      got += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  bool write(const void* buffer, std::uint32_t count, std::uint32_t& written) override {
    written = 0;
    if (mode_ != FileOpenMode::WriteTruncate) return false;
    const auto* in = static_cast<const char*>(buffer);
    while (written < count) {
      const ssize_t n = ::write(fd_, in + written, count - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      written += static_cast<std::uint32_t>(n);
    }
    written_ += written;
    return true;
  }

  std::optional<std::uint64_t> size() override {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
  }

  bool seek(std::uint64_t offset) override {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
  }

 private:
  std::shared_ptr<DeviceState> state_;
  int fd_;
  FileId id_;
  FileOpenMode mode_;
  std::u16string path_;
  std::uint64_t written_ = 0;
};

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

// ---- Registry ----------------------------------------------------------------------------

std::vector<std::uint8_t> dwordBytes(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> stringBytes(const std::u16string& text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

class SimRegistryKey : public RegistryKey {
 public:
  SimRegistryKey(std::shared_ptr<DeviceState> state, std::shared_ptr<RegistryNode> node,
                 std::string name)
      : state_(std::move(state)), node_(std::move(node)), name_(std::move(name)) {}

  bool setDword(const std::u16string& name, std::uint32_t value) override {
    const bool ok =
        !node_->deleted && state_->registry.setValue(*node_, name, kRegDword, dwordBytes(value));
    state_->record({{"op", "set_value"},
                    {"key", name_},
                    {"name", utf8(name)},
                    {"type", "dword"},
                    {"value", value},
                    {"ok", ok}});
    return ok;
  }

  bool setString(const std::u16string& name, const std::u16string& value) override {
    const bool ok =
        !node_->deleted && state_->registry.setValue(*node_, name, kRegString, stringBytes(value));
    state_->record({{"op", "set_value"},
                    {"key", name_},
                    {"name", utf8(name)},
                    {"type", "string"},
                    {"value", utf8(value)},
                    {"ok", ok}});
    return ok;
  }

  bool queryValue(const std::u16string& name, std::uint32_t& type,
                  std::vector<std::uint8_t>& data) override {
    if (node_->deleted) return false;
    const RegistryValue* value = node_->value(name);
    if (value == nullptr) return false;
    type = value->type;
    data = value->data;
    return true;
  }

  bool deleteSubkeyTree(const std::u16string& name) override {
    std::vector<std::u16string> components;
    const bool ok = !node_->deleted && !name.empty() && splitKeyPath(name, components) &&
                    state_->registry.deleteTree(*node_, components);
    state_->record({{"op", "delete_key"}, {"key", name_}, {"subkey", utf8(name)}, {"ok", ok}});
    return ok;
  }

  // Every change is already on disk.
  void flush() override {}

 private:
  std::shared_ptr<DeviceState> state_;
  std::shared_ptr<RegistryNode> node_;
  std::string name_;  // root and path as asked for, for the trace
};

std::string keyName(RegistryRoot root, const std::u16string& path) {
  std::string name = utf8(registryRootName(root));
  if (!path.empty()) name += "\\" + utf8(path);
  return name;
}

// ---- Libraries, processes ------------------------------------------------------------------

class SimLibrary : public Library {
 public:
  SimLibrary(std::shared_ptr<DeviceState> state, std::u16string path, void* handle)
      : state_(std::move(state)), path_(std::move(path)), handle_(handle) {}
  ~SimLibrary() override {
    if (handle_ != nullptr) ::dlclose(handle_);
  }

  bool callEntry(std::string_view name) override {
    bool ok = true;
    if (handle_ != nullptr) {
      void* symbol = ::dlsym(handle_, std::string(name).c_str());
      ok = symbol != nullptr;
      if (ok) {
        // The self-registration entries take nothing; their result is not looked at.
        using Entry = long (*)();
        Entry entry = nullptr;
        static_assert(sizeof entry == sizeof symbol);
        std::memcpy(&entry, &symbol, sizeof entry);
        entry();
      }
    }
    state_->record(
        {{"op", "call_entry"}, {"path", utf8(path_)}, {"entry", std::string(name)}, {"ok", ok}});
    return ok;
  }

 private:
  std::shared_ptr<DeviceState> state_;
  std::u16string path_;
  void* handle_;
};

class SimProcess : public Process {
 public:
  SimProcess(std::shared_ptr<DeviceState> state, WindowHandle window)
      : state_(std::move(state)), window_(window) {}

  bool waitForExit(std::uint32_t milliseconds) override {
    SimWindow* w = state_->window(window_);
    const bool exited = w != nullptr && w->spec.processExits;
    if (exited) w->info.open = false;  // its windows go with it
    json entry = {{"op", "wait_process"}, {"milliseconds", milliseconds}, {"exited", exited}};
    if (w != nullptr) {
      entry["class"] = utf8(w->info.windowClass);
      entry["title"] = utf8(w->info.text);
    }
    state_->record(std::move(entry));
    return exited;
  }

 private:
  std::shared_ptr<DeviceState> state_;
  WindowHandle window_;
};

std::optional<FileId> fileIdOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

// Copies to the end of `from`; `size` is its size when it was opened, which spares asking
// once more at the end when that much was copied.
bool copyContents(int from, int to, std::uint64_t size) {
  // In the kernel where it can (as cp does); by reading and writing where it cannot.
  std::uint64_t copied = 0;
  for (;;) {
    const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, std::size_t{1} << 30, 0);
    if (n > 0) {
      copied += static_cast<std::uint64_t>(n);
      if (copied == size) return true;
      continue;
    }
    if (n == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    ssize_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
  }
}

}  // namespace

// ---- SimPlatform -----------------------------------------------------------------------------

SimPlatform::SimPlatform(SimOptions options)
    : state_(std::make_shared<DeviceState>(std::move(options))) {}

SimPlatform::~SimPlatform() = default;

const std::vector<nlohmann::json>& SimPlatform::trace() const {
  return state_->trace.entries();
}

std::optional<std::filesystem::path> SimPlatform::hostPath(const std::u16string& devicePath) const {
  auto resolved = state_->files.resolve(devicePath);
  if (!resolved) return std::nullopt;
  return resolved->host;
}

int SimPlatform::codePage() const {
  return state_->config.codePage;
}

std::optional<SimWindowInfo> SimPlatform::windowInfo(WindowHandle window) const {
  const SimWindow* w = state_->window(window);
  if (w == nullptr) return std::nullopt;
  return w->info;
}

const SimSurface* SimPlatform::windowSurface(WindowHandle window) const {
  const SimWindow* w = state_->window(window);
  return w == nullptr ? nullptr : &w->surface;
}

std::vector<WindowHandle> SimPlatform::dialogs() const {
  return state_->dialogOrder;
}

std::size_t SimPlatform::answersLeft() const {
  return state_->options.answers.size() - state_->answerIndex;
}

// ---- Files and folders -------------------------------------------------------------------

std::unique_ptr<File> SimPlatform::openFile(const std::u16string& path, FileOpenMode mode) {
  DeviceState& s = *state_;
  const auto resolved = s.files.resolve(path);
  const bool writing = mode == FileOpenMode::WriteTruncate;
  auto refuse = [&]() -> std::unique_ptr<File> {
    if (writing) s.record({{"op", "write_file"}, {"path", utf8(path)}, {"ok", false}});
    return nullptr;
  };
  if (!resolved || resolved->count == 0) return refuse();

  int fd = -1;
  if (!writing) {
    if (!resolved->file) return nullptr;
    fd = ::open(resolved->host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  } else {
    if (resolved->exists() ? !resolved->file : !resolved->parentFolder) {
      return refuse();
    }
    // Not truncated yet: a file others hold stays as it is.
    fd = ::open(resolved->host.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  }
  if (fd < 0) return refuse();
  const auto id = fileIdOf(fd);
  OpenCounts counts =
      id ? (s.openFiles.count(*id) ? s.openFiles[*id] : OpenCounts{}) : OpenCounts{};
  bool allowed = id.has_value() && !counts.exclusive;
  switch (mode) {
    case FileOpenMode::ReadShared:
      allowed = allowed && counts.writers == 0;
      break;
    case FileOpenMode::ReadExclusive:
    case FileOpenMode::WriteTruncate:
      allowed = allowed && counts.writers == 0 && counts.readers == 0;
      break;
  }
  if (!allowed || (writing && ::ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return refuse();
  }
  OpenCounts& held = s.openFiles[*id];
  switch (mode) {
    case FileOpenMode::ReadShared:
      ++held.readers;
      break;
    case FileOpenMode::ReadExclusive:
      held.exclusive = true;
      break;
    case FileOpenMode::WriteTruncate:
      ++held.writers;
      break;
  }
  return std::make_unique<SimFile>(state_, fd, *id, mode, path);
}

std::uint32_t SimPlatform::fileAttributes(const std::u16string& path) {
  const auto resolved = state_->files.resolve(path);
  if (!resolved || !resolved->exists()) return kInvalidAttributes;
  struct stat info {};
  if (::stat(resolved->host.c_str(), &info) != 0) return kInvalidAttributes;
  return S_ISDIR(info.st_mode) ? kAttributeDirectory : kAttributeArchive;
}

std::unique_ptr<DirectoryEnumeration> SimPlatform::findFirstFile(const std::u16string& pattern,
                                                                 FindEntry& first) {
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

bool SimPlatform::copyFile(const std::u16string& source, const std::u16string& destination) {
  DeviceState& s = *state_;
  auto copy = [&]() {
    // The source opened straight away where its name is exact; resolved otherwise.
    struct stat info {};
    int in = s.files.openFileExactly(source, info);
    FileId fromId{info.st_dev, info.st_ino};
    auto size = static_cast<std::uint64_t>(info.st_size);
    if (in < 0) {
      const auto from = s.files.resolve(source);
      if (!from || !from->file) return false;
      in = ::open(from->host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (in < 0) return false;
      fromId = FileId{from->device, from->inode};
      size = from->size;
    }
    const HostFd input(in);
    const auto to = s.files.resolve(destination, true);
    if (!to) return false;
    if (to->exists() ? !to->file : !to->parentFolder) return false;
    // The source is read while others may read it; the destination must be free.
    const auto fromCounts = s.openFiles.find(fromId);
    if (fromCounts != s.openFiles.end() &&
        (fromCounts->second.exclusive || fromCounts->second.writers > 0)) {
      return false;
    }
    if (to->exists()) {
      const FileId toId{to->device, to->inode};
      // A file copied onto itself would be emptied before it is read.
      if (!(toId < fromId || fromId < toId) || s.openFiles.count(toId) != 0) return false;
    }
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    const int out = to->parent ? ::openat(to->parent.get(), to->name(), kFlags, 0644)
                               : ::open(to->host.c_str(), kFlags, 0644);
    if (out < 0) return false;
    const bool ok = copyContents(in, out, size);
    return ::close(out) == 0 && ok;
  };
  const bool ok = copy();
  if (s.tracing()) {
    s.record({{"op", "copy_file"},
              {"source", utf8(source)},
              {"destination", utf8(destination)},
              {"ok", ok}});
  }
  return ok;
}

bool SimPlatform::deleteFile(const std::u16string& path) {
  DeviceState& s = *state_;
  const auto resolved = s.files.resolve(path);
  bool ok = resolved && resolved->file;
  if (ok) {
    const std::optional<FileId> id = FileId{resolved->device, resolved->inode};
    ok = id && s.openFiles.count(*id) == 0 && ::unlink(resolved->host.c_str()) == 0;
  }
  s.record({{"op", "delete_file"}, {"path", utf8(path)}, {"ok", ok}});
  return ok;
}

std::optional<std::uint64_t> SimPlatform::freeBytes(const std::u16string& folder) {
  const auto resolved = state_->files.resolve(folder);
  if (!resolved || !resolved->folder) return std::nullopt;
  if (state_->config.freeBytes) return *state_->config.freeBytes;
  struct statvfs info {};
  if (::statvfs(resolved->host.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string SimPlatform::toMultiByte(const std::u16string& text) {
  return host::toCodePage(text, state_->config.codePage);
}

// ---- The installer and the device's folders --------------------------------------------------

std::u16string SimPlatform::moduleFileName(ModuleHandle) {
  return state_->options.installerPath;
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

// ---- Registry ------------------------------------------------------------------------------

std::unique_ptr<RegistryKey> SimPlatform::createKey(RegistryRoot root, const std::u16string& path) {
  std::vector<std::u16string> components;
  if (!splitKeyPath(path, components)) return nullptr;
  RegistryTree& tree = state_->registry.tree();
  bool created = false;
  auto node =
      state_->registry.create(tree.roots[static_cast<std::size_t>(root)], components, created);
  const std::string name = keyName(root, path);
  if (!node) {
    state_->record({{"op", "create_key"}, {"key", name}, {"ok", false}});
    return nullptr;
  }
  if (created) state_->record({{"op", "create_key"}, {"key", name}, {"ok", true}});
  return std::make_unique<SimRegistryKey>(state_, std::move(node), name);
}

std::unique_ptr<RegistryKey> SimPlatform::openKey(RegistryRoot root, const std::u16string& path) {
  std::vector<std::u16string> components;
  if (!splitKeyPath(path, components)) return nullptr;
  auto node =
      RegistryFile::find(state_->registry.tree().roots[static_cast<std::size_t>(root)], components);
  if (!node) return nullptr;
  return std::make_unique<SimRegistryKey>(state_, std::move(node), keyName(root, path));
}

void SimPlatform::broadcastSettingChange() {
  state_->record(
      {{"op", "broadcast"}, {"message", kWmSettingChange}, {"wparam", kSettingChangeToday}});
}

// ---- Libraries -----------------------------------------------------------------------------

std::unique_ptr<Library> SimPlatform::loadLibrary(const std::u16string& path) {
  const auto resolved = state_->files.resolve(path);
  json entry = {{"op", "load_library"}, {"path", utf8(path)}};
  std::unique_ptr<Library> library;
  if (resolved && resolved->file) {
    void* handle = nullptr;
    if (state_->options.loadDlls) {
      handle = ::dlopen(resolved->host.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) {
        const char* error = ::dlerror();
        entry["error"] = error != nullptr ? error : "cannot be loaded";
      }
    }
    if (!state_->options.loadDlls || handle != nullptr) {
      library = std::make_unique<SimLibrary>(state_, path, handle);
    }
  }
  entry["ok"] = library != nullptr;
  state_->record(std::move(entry));
  return library;
}

// ---- Programs and windows --------------------------------------------------------------------

bool SimPlatform::shellOpen(const std::u16string& path) {
  // Recorded, not started.
  const auto resolved = state_->files.resolve(path);
  const bool ok = resolved && resolved->exists();
  state_->record({{"op", "shell_open"}, {"path", utf8(path)}, {"ok", ok}});
  return ok;
}

WindowHandle SimPlatform::findWindow(const std::u16string& windowClass,
                                     const std::u16string& title) {
  for (const auto& [handle, window] : state_->windows) {
    if (window.info.kind != SimWindowInfo::Kind::Control && window.info.open &&
        window.info.windowClass == windowClass && window.info.text == title) {
      return handle;
    }
  }
  return 0;
}

WindowHandle SimPlatform::findWindowByClass(const std::u16string& windowClass) {
  for (const auto& [handle, window] : state_->windows) {
    if (window.info.kind != SimWindowInfo::Kind::Control && window.info.open &&
        window.info.windowClass == windowClass) {
      return handle;
    }
  }
  return 0;
}

bool SimPlatform::postCloseRequest(WindowHandle window) {
  SimWindow* w = state_->window(window);
  const bool posted = w != nullptr && w->info.open;
  json entry = {{"op", "close_request"}, {"window", window}, {"ok", posted}};
  if (w != nullptr) {
    entry["class"] = utf8(w->info.windowClass);
    entry["title"] = utf8(w->info.text);
  }
  if (posted && w->info.kind == SimWindowInfo::Kind::TopLevel) {
    entry["closed"] = w->spec.closes;
    if (w->spec.closes) w->info.open = false;
  }
  state_->record(std::move(entry));
  return posted;
}

std::unique_ptr<Process> SimPlatform::openWindowProcess(WindowHandle window) {
  const SimWindow* w = state_->window(window);
  if (w == nullptr || !w->info.open || w->info.kind != SimWindowInfo::Kind::TopLevel)
    return nullptr;
  return std::make_unique<SimProcess>(state_, window);
}

// ---- Dialogs and drawing ---------------------------------------------------------------------

namespace {

WindowHandle makeDialog(DeviceState& s, int templateId, DialogHandler& handler) {
  SimDialogLayout layout;
  if (!dialogLayout(templateId, layout)) return 0;
  const WindowHandle dialog = s.nextHandle++;
  SimWindow& d = s.windows[dialog];
  d.info.kind = SimWindowInfo::Kind::Dialog;
  d.info.templateId = templateId;
  d.info.windowClass = std::u16string(kDialogClass);
  d.info.text = layout.caption;
  d.info.rect = Rect{0, 0, s.config.dialogClientWidth, s.config.dialogClientHeight};
  d.handler = &handler;
  d.surface = blankSurface(s.config.dialogClientWidth, s.config.dialogClientHeight);
  for (const SimControlLayout& control : layout.controls) {
    const WindowHandle handle = s.nextHandle++;
    SimWindow& c = s.windows[handle];
    c.info.kind = SimWindowInfo::Kind::Control;
    c.info.templateId = templateId;
    c.info.controlId = control.id;
    c.info.parent = dialog;
    c.info.windowClass = control.windowClass;
    c.info.text = control.text;
    c.info.rect = control.rect;
    c.surface = blankSurface(control.rect.width(), control.rect.height());
    s.windows[dialog].controls.push_back(handle);
  }
  s.dialogOrder.push_back(dialog);
  s.foreground = dialog;
  return dialog;
}

std::u16string controlText(DeviceState& s, WindowHandle dialog, int id) {
  const SimWindow* d = s.window(dialog);
  if (d == nullptr) return {};
  for (WindowHandle handle : d->controls) {
    const SimWindow* c = s.window(handle);
    if (c != nullptr && c->info.controlId == id) return c->info.text;
  }
  return {};
}

}  // namespace

int SimPlatform::runModalDialog(ModuleHandle, int templateId, DialogHandler& handler) {
  DeviceState& s = *state_;
  const WindowHandle dialog = makeDialog(s, templateId, handler);
  if (dialog == 0) {
    s.record({{"op", "open_dialog"}, {"template", templateId}, {"modal", true}, {"ok", false}});
    return -1;
  }
  s.record({{"op", "open_dialog"},
            {"template", templateId},
            {"window", dialog},
            {"modal", true},
            {"ok", true}});
  handler.onInitDialog(dialog);
  if (!s.window(dialog)->ended) handler.onPaint(dialog);
  if (!s.window(dialog)->ended && templateId == IDD_QUESTION) {
    const std::u16string caption = s.window(dialog)->info.text;
    const std::u16string text = controlText(s, dialog, IDC_QUESTION_TEXT);
    const bool yes = s.takeAnswer(caption, text);
    s.record({{"op", "question"},
              {"template", templateId},
              {"window", dialog},
              {"caption", utf8(caption)},
              {"text", utf8(text)},
              {"answer", yes ? "yes" : "no"}});
    handler.onCommand(dialog, yes ? IDC_QUESTION_YES : IDC_QUESTION_NO);
  }
  SimWindow& d = *s.window(dialog);
  d.info.open = false;
  if (!d.ended) {
    // Nothing would ever end it on the device; here the run goes on as if it failed.
    d.ended = true;
    d.result = -1;
    s.record({{"op", "end_dialog"},
              {"template", templateId},
              {"window", dialog},
              {"result", -1},
              {"stuck", true}});
  }
  if (s.foreground == dialog) s.foreground = 0;
  return d.result;
}

WindowHandle SimPlatform::createModelessDialog(ModuleHandle, int templateId,
                                               DialogHandler& handler) {
  DeviceState& s = *state_;
  const WindowHandle dialog = makeDialog(s, templateId, handler);
  if (dialog == 0) {
    s.record({{"op", "open_dialog"}, {"template", templateId}, {"modal", false}, {"ok", false}});
    return 0;
  }
  s.record({{"op", "open_dialog"},
            {"template", templateId},
            {"window", dialog},
            {"modal", false},
            {"ok", true}});
  handler.onInitDialog(dialog);
  if (s.window(dialog)->info.open) handler.onPaint(dialog);
  if (s.options.useTerminal && templateId == IDD_STATUS) {
    const std::u16string text = controlText(s, dialog, IDC_STATUS_TEXT);
    s.terminal.startProgress(s.window(dialog)->info.text + u": " + text);
  }
  return dialog;
}

void SimPlatform::endDialog(WindowHandle dialog, int result) {
  SimWindow* d = state_->window(dialog);
  if (d == nullptr || d->info.kind != SimWindowInfo::Kind::Dialog || d->ended) return;
  d->ended = true;
  d->result = result;
  d->info.open = false;
  state_->record({{"op", "end_dialog"},
                  {"template", d->info.templateId},
                  {"window", dialog},
                  {"result", result}});
}

WindowHandle SimPlatform::dialogItem(WindowHandle dialog, int id) {
  const SimWindow* d = state_->window(dialog);
  if (d == nullptr) return 0;
  for (WindowHandle handle : d->controls) {
    const SimWindow* c = state_->window(handle);
    if (c != nullptr && c->info.controlId == id) return handle;
  }
  return 0;
}

bool SimPlatform::setWindowText(WindowHandle window, const std::u16string& text) {
  SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return false;
  w->info.text = text;
  json entry = {{"op", "set_text"}};
  state_->describe(entry, window);
  entry["text"] = utf8(text);
  state_->record(std::move(entry));
  return true;
}

std::intptr_t SimPlatform::sendDialogItemMessage(WindowHandle dialog, int id, std::uint32_t message,
                                                 std::uintptr_t wParam, std::intptr_t) {
  SimWindow* item = state_->window(dialogItem(dialog, id));
  if (item == nullptr) return 0;
  if (message == kPbmSetPos && item->info.windowClass == kProgressClass) {
    const int previous = item->info.progressPosition;
    const auto position = static_cast<int>(static_cast<std::intptr_t>(wParam));
    item->info.progressPosition = std::clamp(position, 0, 100);
    if (state_->tracing()) state_->record({{"op", "progress"}, {"position", position}});
    if (state_->options.useTerminal) state_->terminal.progress(position);
    return previous;
  }
  return 0;
}

void SimPlatform::updateWindow(WindowHandle window) {
  SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind != SimWindowInfo::Kind::Dialog || !w->info.open) return;
  w->handler->onPaint(window);
}

bool SimPlatform::windowRect(WindowHandle window, Rect& rect) {
  const SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return false;
  rect = w->info.rect;
  if (w->info.kind == SimWindowInfo::Kind::Control) {
    // Screen coordinates: the dialog's client area starts at its window's corner.
    const SimWindow* d = state_->window(w->info.parent);
    rect.left += d->info.rect.left;
    rect.right += d->info.rect.left;
    rect.top += d->info.rect.top;
    rect.bottom += d->info.rect.top;
  }
  return true;
}

bool SimPlatform::clientRect(WindowHandle window, Rect& rect) {
  const SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return false;
  if (w->info.kind == SimWindowInfo::Kind::Dialog) {
    rect = Rect{0, 0, state_->config.dialogClientWidth, state_->config.dialogClientHeight};
  } else {
    rect = Rect{0, 0, std::max(0, w->info.rect.width()), std::max(0, w->info.rect.height())};
  }
  return true;
}

bool SimPlatform::moveWindow(WindowHandle window, int x, int y, int width, int height,
                             bool repaint) {
  SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return false;
  w->info.rect = Rect{x, y, x + width, y + height};
  if (w->info.kind == SimWindowInfo::Kind::Control) w->surface = blankSurface(width, height);
  json entry = {{"op", "move"}};
  state_->describe(entry, window);
  entry.update({{"x", x}, {"y", y}, {"width", width}, {"height", height}, {"repaint", repaint}});
  state_->record(std::move(entry));
  return true;
}

bool SimPlatform::shellInitDialog(WindowHandle dialog, std::uint32_t flags) {
  const SimWindow* d = state_->window(dialog);
  if (d == nullptr || d->info.kind != SimWindowInfo::Kind::Dialog) return false;
  json entry = {{"op", "shell_init_dialog"}};
  state_->describe(entry, dialog);
  entry["flags"] = flags;
  state_->record(std::move(entry));
  return true;
}

void SimPlatform::setForegroundWindow(WindowHandle window) {
  if (state_->window(window) == nullptr) return;
  state_->foreground = window;
  json entry = {{"op", "set_foreground"}};
  state_->describe(entry, window);
  state_->record(std::move(entry));
}

DrawingSurface SimPlatform::beginPaint(WindowHandle window) {
  const SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return 0;
  const DrawingSurface surface = state_->nextSurface++;
  state_->paintSurfaces[surface] = window;
  return surface;
}

void SimPlatform::endPaint(WindowHandle, DrawingSurface surface) {
  state_->paintSurfaces.erase(surface);
}

bool SimPlatform::drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                             const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) {
  const auto it = state_->paintSurfaces.find(target);
  if (it == state_->paintSurfaces.end()) return false;
  SimWindow* w = state_->window(it->second);
  const bool ok = w != nullptr && drawDib(w->surface, x, y, width, height, bitmapInfo, pixels);
  json entry = {{"op", "draw_bitmap"}};
  state_->describe(entry, it->second);
  entry.update({{"x", x}, {"y", y}, {"width", width}, {"height", height}, {"ok", ok}});
  state_->record(std::move(entry));
  return ok;
}

// ---- Message boxes ---------------------------------------------------------------------------

int SimPlatform::messageBox(const std::u16string& text, const std::u16string& caption,
                            std::uint32_t style) {
  DeviceState& s = *state_;
  int answer = kIdOk;
  switch (style & 0xF) {
    case 3:  // Yes, No, Cancel
    case kMbYesNo:
      answer = s.takeAnswer(caption, text) ? kIdYes : kIdNo;
      break;
    case 2:  // Abort, Retry, Ignore: the first button
      answer = 3;
      break;
    case 5:  // Retry, Cancel
      answer = 4;
      break;
    default:  // OK, OK and Cancel: nothing to decide
      if (s.options.useTerminal) s.terminal.show(caption, text);
      break;
  }
  s.record({{"op", "message_box"},
            {"text", utf8(text)},
            {"caption", utf8(caption)},
            {"style", style},
            {"answer", answer}});
  return answer;
}

}  // namespace autorun::sim
