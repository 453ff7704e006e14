// A device held in memory for the fuzzers: files served from a map, one storage card, the
// usual special folders, and harmless answers for everything else. Fast enough to run a
// reader tens of thousands of times a second, with no host files involved.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform_services.h"

namespace autorun::fuzz {

class MemoryFile : public File {
 public:
  explicit MemoryFile(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
    const std::size_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    got = static_cast<std::uint32_t>(std::min<std::size_t>(count, left));
    if (got > 0) std::memcpy(buffer, bytes_.data() + position_, got);
    position_ += got;
    return true;
  }
  bool write(const void*, std::uint32_t, std::uint32_t& written) override {
    written = 0;
    return false;
  }
  std::optional<std::uint64_t> size() override { return bytes_.size(); }
  bool seek(std::uint64_t offset) override {
    position_ = offset;
    return true;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::uint64_t position_ = 0;
};

class MemoryPlatform : public PlatformServices {
 public:
  // Device paths as the installer spells them (matched exactly) -> contents.
  std::map<std::u16string, std::vector<std::uint8_t>> files;
  std::u16string modulePath = u"\\Storage Card\\2577\\autorun.exe";
  int messageBoxes = 0;

  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override {
    if (mode == FileOpenMode::WriteTruncate) return nullptr;
    const auto it = files.find(path);
    if (it == files.end()) return nullptr;
    return std::make_unique<MemoryFile>(it->second);
  }
  std::uint32_t fileAttributes(const std::u16string& path) override {
    return files.count(path) != 0 ? 0x20u : kInvalidAttributes;
  }
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string&, FindEntry&) override {
    return nullptr;
  }
  std::uint32_t createDirectory(const std::u16string&) override { return kErrorAccessDenied; }
  bool copyFile(const std::u16string&, const std::u16string&) override { return false; }
  bool deleteFile(const std::u16string&) override { return false; }
  std::optional<std::uint64_t> freeBytes(const std::u16string&) override { return 1u << 30; }
  std::string toMultiByte(const std::u16string& text) override {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
  }

  std::u16string moduleFileName(ModuleHandle) override { return modulePath; }
  std::u16string specialFolderPath(int number) override {
    switch (number) {
      case 2:
        return u"\\Windows\\Start Menu\\Programs";
      case 5:
        return u"\\My Documents";
      case 36:
        return u"\\Windows";
      case 38:
        return u"\\Program Files";
      default:
        return {};
    }
  }
  std::unique_ptr<CardEnumeration> findFirstCard(std::u16string& firstCard) override {
    struct OneCard : CardEnumeration {
      bool next(std::u16string&) override { return false; }
    };
    firstCard = u"Storage Card";
    return std::make_unique<OneCard>();
  }

  std::unique_ptr<RegistryKey> createKey(RegistryRoot, const std::u16string&) override {
    return nullptr;
  }
  std::unique_ptr<RegistryKey> openKey(RegistryRoot, const std::u16string&) override {
    return nullptr;
  }
  void broadcastSettingChange() override {}
  std::unique_ptr<Library> loadLibrary(const std::u16string&) override { return nullptr; }

  bool shellOpen(const std::u16string&) override { return false; }
  WindowHandle findWindow(const std::u16string&, const std::u16string&) override { return 0; }
  WindowHandle findWindowByClass(const std::u16string&) override { return 0; }
  bool postCloseRequest(WindowHandle) override { return false; }
  std::unique_ptr<Process> openWindowProcess(WindowHandle) override { return nullptr; }

  int runModalDialog(ModuleHandle, int, DialogHandler&) override { return -1; }
  WindowHandle createModelessDialog(ModuleHandle, int, DialogHandler&) override { return 0; }
  void endDialog(WindowHandle, int) override {}
  WindowHandle dialogItem(WindowHandle, int) override { return 0; }
  bool setWindowText(WindowHandle, const std::u16string&) override { return false; }
  std::intptr_t sendDialogItemMessage(WindowHandle, int, std::uint32_t, std::uintptr_t,
                                      std::intptr_t) override {
    return 0;
  }
  void updateWindow(WindowHandle) override {}
  bool windowRect(WindowHandle, Rect&) override { return false; }
  bool clientRect(WindowHandle, Rect&) override { return false; }
  bool moveWindow(WindowHandle, int, int, int, int, bool) override { return false; }
  bool shellInitDialog(WindowHandle, std::uint32_t) override { return false; }
  void setForegroundWindow(WindowHandle) override {}
  DrawingSurface beginPaint(WindowHandle) override { return 0; }
  void endPaint(WindowHandle, DrawingSurface) override {}
  bool drawBitmap(DrawingSurface, int, int, int, int, const std::uint8_t*,
                  const std::uint8_t*) override {
    return false;
  }

  int messageBox(const std::u16string&, const std::u16string&, std::uint32_t) override {
    ++messageBoxes;
    return kIdOk;
  }
};

}  // namespace autorun::fuzz
