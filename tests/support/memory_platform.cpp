#include "support/memory_platform.h"

#include <algorithm>
#include <cstring>

#include "base/dialog_ids.h"

namespace autorun::testing {

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// ---- MemoryFile ---------------------------------------------------------------------------

MemoryFile::MemoryFile(Bytes bytes, std::uint32_t mostPerCall)
    : chunk(mostPerCall), own_(std::move(bytes)) {}

MemoryFile::MemoryFile(Store& store, std::u16string path, bool writable, std::uint32_t mostPerCall)
    : chunk(mostPerCall), store_(&store), path_(std::move(path)), writable_(writable) {}

Bytes* MemoryFile::bytes() {
  if (store_ == nullptr) return &own_;
  const auto found = store_->find(path_);
  return found == store_->end() ? nullptr : &found->second;
}

bool MemoryFile::read(void* buffer, std::uint32_t count, std::uint32_t& got) {
  got = 0;
  const Bytes* data = bytes();
  if (data == nullptr) return false;
  const std::uint64_t left = position_ < data->size() ? data->size() - position_ : 0;
  got = static_cast<std::uint32_t>(std::min<std::uint64_t>({count, left, chunk}));
  if (got != 0) std::memcpy(buffer, data->data() + position_, got);
  position_ += got;
  return true;
}

bool MemoryFile::write(const void* buffer, std::uint32_t count, std::uint32_t& written) {
  written = 0;
  Bytes* data = bytes();
  if (!writable_ || data == nullptr) return false;
  written = std::min(count, chunk);
  if (data->size() < position_ + written) data->resize(position_ + written);
  if (written != 0) std::memcpy(data->data() + position_, buffer, written);
  position_ += written;
  return true;
}

std::optional<std::uint64_t> MemoryFile::size() {
  if (!sizeKnown) return std::nullopt;
  if (statedSize) return statedSize;
  const Bytes* data = bytes();
  if (data == nullptr) return std::nullopt;
  return data->size();
}

bool MemoryFile::seek(std::uint64_t offset) {
  position_ = offset;
  return true;
}

// ---- Objects the platform hands out ----------------------------------------------------

namespace {

class ListEnumeration : public DirectoryEnumeration {
 public:
  ListEnumeration(const std::vector<FindEntry>& entries) : entries_(entries) {}
  bool next(FindEntry& entry) override {
    if (index_ >= entries_.size()) return false;
    entry = entries_[index_++];
    return true;
  }

 private:
  std::vector<FindEntry> entries_;
  std::size_t index_ = 1;  // the first went out with findFirstFile
};

class Cards : public CardEnumeration {
 public:
  explicit Cards(const std::vector<std::u16string>& cards) : cards_(cards) {}
  bool next(std::u16string& folderName) override {
    if (index_ >= cards_.size()) return false;
    folderName = cards_[index_++];
    return true;
  }

 private:
  const std::vector<std::u16string>& cards_;
  std::size_t index_ = 1;
};

class MemoryKey : public RegistryKey {
 public:
  MemoryKey(MemoryPlatform& platform, RegistryRoot root, std::u16string path)
      : platform_(platform), root_(root), path_(std::move(path)) {}

  bool setDword(const std::u16string& name, std::uint32_t value) override {
    MemoryPlatform::Key* key = self();
    if (key == nullptr) return false;
    (*key)[name] = {
        kRegDword,
        {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
         static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}};
    return true;
  }
  bool setString(const std::u16string& name, const std::u16string& value) override {
    MemoryPlatform::Key* key = self();
    if (key == nullptr) return false;
    Bytes data;
    for (char16_t c : value) {
      data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.insert(data.end(), {0, 0});
    (*key)[name] = {kRegString, std::move(data)};
    return true;
  }
  bool queryValue(const std::u16string& name, std::uint32_t& type,
                  std::vector<std::uint8_t>& data) override {
    const MemoryPlatform::Key* key = self();
    if (key == nullptr) return false;
    const auto found = key->find(name);
    if (found == key->end()) return false;
    type = found->second.type;
    data = found->second.data;
    return true;
  }
  // The subkey and every key whose path continues it.
  bool deleteSubkeyTree(const std::u16string& name) override {
    if (self() == nullptr || name.empty()) return false;
    const std::u16string subkey = path_.empty() ? name : path_ + u"\\" + name;
    bool deleted = false;
    for (auto it = platform_.registry.begin(); it != platform_.registry.end();) {
      const std::u16string& path = it->first.second;
      const bool below =
          it->first.first == root_ && (path == subkey || path.starts_with(subkey + u"\\"));
      if (below) {
        it = platform_.registry.erase(it);
        deleted = true;
      } else {
        ++it;
      }
    }
    return deleted;
  }
  void flush() override {}

 private:
  MemoryPlatform::Key* self() {
    const auto found = platform_.registry.find({root_, path_});
    return found == platform_.registry.end() ? nullptr : &found->second;
  }

  MemoryPlatform& platform_;
  RegistryRoot root_;
  std::u16string path_;
};

class MemoryProcess : public Process {
 public:
  explicit MemoryProcess(bool ends) : ends_(ends) {}
  bool waitForExit(std::uint32_t) override { return ends_; }

 private:
  bool ends_;
};

}  // namespace

// ---- MemoryPlatform ------------------------------------------------------------------------

MemoryPlatform::MemoryPlatform() = default;
MemoryPlatform::~MemoryPlatform() = default;

void MemoryPlatform::addFile(const std::u16string& path, std::string_view bytes) {
  files[path] = bytesOf(bytes);
}

std::optional<std::string> MemoryPlatform::fileText(const std::u16string& path) const {
  const auto found = files.find(path);
  if (found == files.end()) return std::nullopt;
  return std::string(found->second.begin(), found->second.end());
}

std::unique_ptr<File> MemoryPlatform::openFile(const std::u16string& path, FileOpenMode mode) {
  opens.emplace_back(path, mode);
  if (heldExclusively.count(path) != 0) return nullptr;
  if (mode != FileOpenMode::ReadShared && heldShared.count(path) != 0) return nullptr;
  if (mode == FileOpenMode::WriteTruncate) {
    if (folders.count(path) != 0) return nullptr;
    files[path].clear();
    return std::make_unique<MemoryFile>(files, path, true, chunk);
  }
  if (files.count(path) == 0) return nullptr;
  return std::make_unique<MemoryFile>(files, path, false, chunk);
}

std::uint32_t MemoryPlatform::fileAttributes(const std::u16string& path) {
  if (folders.count(path) != 0) return kAttributeDirectory;
  if (files.count(path) != 0) return kAttributeArchive;
  return kInvalidAttributes;
}

std::unique_ptr<DirectoryEnumeration> MemoryPlatform::findFirstFile(const std::u16string& pattern,
                                                                    FindEntry& first) {
  searches.push_back(pattern);
  const auto found = listings.find(pattern);
  if (found == listings.end() || found->second.empty()) return nullptr;
  first = found->second.front();
  return std::make_unique<ListEnumeration>(found->second);
}

std::uint32_t MemoryPlatform::createDirectory(const std::u16string& path) {
  if (folders.count(path) != 0 || files.count(path) != 0) return kErrorAlreadyExists;
  folders.insert(path);
  return kErrorSuccess;
}

bool MemoryPlatform::copyFile(const std::u16string& source, const std::u16string& destination) {
  const auto found = files.find(source);
  if (found == files.end() || folders.count(destination) != 0 ||
      heldExclusively.count(destination) != 0 || heldShared.count(destination) != 0) {
    return false;
  }
  const Bytes copy = found->second;
  files[destination] = copy;
  return true;
}

bool MemoryPlatform::deleteFile(const std::u16string& path) {
  deletions.push_back(path);
  if (heldExclusively.count(path) != 0 || heldShared.count(path) != 0) return false;
  return files.erase(path) != 0;
}

std::optional<std::uint64_t> MemoryPlatform::freeBytes(const std::u16string&) {
  return free;
}

std::u16string MemoryPlatform::moduleFileName(ModuleHandle) {
  return modulePath;
}

std::u16string MemoryPlatform::specialFolderPath(int number) {
  const auto found = specialFolders.find(number);
  return found == specialFolders.end() ? std::u16string() : found->second;
}

std::unique_ptr<CardEnumeration> MemoryPlatform::findFirstCard(std::u16string& firstCard) {
  if (cards.empty()) return nullptr;
  firstCard = cards.front();
  return std::make_unique<Cards>(cards);
}

void MemoryPlatform::setDword(RegistryRoot root, const std::u16string& path,
                              const std::u16string& name, std::uint32_t value) {
  registry[{root, path}];
  MemoryKey(*this, root, path).setDword(name, value);
}

std::unique_ptr<RegistryKey> MemoryPlatform::createKey(RegistryRoot root,
                                                       const std::u16string& path) {
  registry[{root, path}];
  return std::make_unique<MemoryKey>(*this, root, path);
}

std::unique_ptr<RegistryKey> MemoryPlatform::openKey(RegistryRoot root,
                                                     const std::u16string& path) {
  if (registry.count({root, path}) == 0) return nullptr;
  return std::make_unique<MemoryKey>(*this, root, path);
}

void MemoryPlatform::broadcastSettingChange() {
  ++broadcasts;
}

bool MemoryPlatform::shellOpen(const std::u16string& path) {
  programsOpened.push_back(path);
  return files.count(path) != 0;
}

WindowHandle MemoryPlatform::findWindow(const std::u16string& windowClass,
                                        const std::u16string& title) {
  for (const auto& [handle, window] : windows) {
    if (window.windowClass == windowClass && window.text == title) return handle;
  }
  return 0;
}

WindowHandle MemoryPlatform::findWindowByClass(const std::u16string& windowClass) {
  for (const auto& [handle, window] : windows) {
    if (window.windowClass == windowClass) return handle;
  }
  return 0;
}

bool MemoryPlatform::postCloseRequest(WindowHandle window) {
  if (windows.count(window) == 0) return false;
  closeRequests.push_back(window);
  return true;
}

std::unique_ptr<Process> MemoryPlatform::openWindowProcess(WindowHandle window) {
  const auto found = windows.find(window);
  if (found == windows.end()) return nullptr;
  return std::make_unique<MemoryProcess>(found->second.processEnds);
}

void MemoryPlatform::endDialog(WindowHandle dialog, int result) {
  endedDialogs.emplace_back(dialog, result);
}

WindowHandle MemoryPlatform::dialogItem(WindowHandle dialog, int id) {
  const auto found = dialogItems.find({dialog, id});
  return found == dialogItems.end() ? 0 : found->second;
}

std::intptr_t MemoryPlatform::sendDialogItemMessage(WindowHandle dialog, int id,
                                                    std::uint32_t message, std::uintptr_t wParam,
                                                    std::intptr_t lParam) {
  itemMessages.push_back({dialog, id, message, wParam, lParam});
  return 0;
}

std::vector<int> MemoryPlatform::progress(WindowHandle dialog) const {
  std::vector<int> positions;
  for (const ItemMessage& m : itemMessages) {
    if (m.dialog == dialog && m.id == IDC_STATUS_PROGRESS && m.message == kPbmSetPos) {
      positions.push_back(static_cast<int>(static_cast<std::intptr_t>(m.wParam)));
    }
  }
  return positions;
}

bool MemoryPlatform::setWindowText(WindowHandle window, const std::u16string& text) {
  const auto found = windows.find(window);
  if (found == windows.end()) return false;
  found->second.text = text;
  return true;
}

bool MemoryPlatform::windowRect(WindowHandle window, Rect& rect) {
  const auto found = windows.find(window);
  if (found == windows.end()) return false;
  rect = found->second.rect;
  return true;
}

bool MemoryPlatform::clientRect(WindowHandle window, Rect& rect) {
  const auto found = windows.find(window);
  if (found == windows.end()) return false;
  rect = found->second.client;
  return true;
}

bool MemoryPlatform::moveWindow(WindowHandle window, int x, int y, int width, int height,
                                bool repaint) {
  const auto found = windows.find(window);
  if (found == windows.end()) return false;
  found->second.rect = Rect{x, y, x + width, y + height};
  found->second.repainted = repaint;
  return true;
}

bool MemoryPlatform::shellInitDialog(WindowHandle dialog, std::uint32_t flags) {
  shellInitDialogs.emplace_back(dialog, flags);
  return shellAcceptsDialogs;
}

void MemoryPlatform::setForegroundWindow(WindowHandle window) {
  foreground = window;
}

bool MemoryPlatform::drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                                const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) {
  drawings.push_back({target, x, y, width, height, bitmapInfo, pixels});
  return true;
}

int MemoryPlatform::messageBox(const std::u16string& text, const std::u16string& caption,
                               std::uint32_t style) {
  boxes.push_back({text, caption, style});
  return kIdOk;
}

}  // namespace autorun::testing
