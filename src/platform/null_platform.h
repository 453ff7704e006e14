// Building blocks for devices that only need a few operations: a platform on which every
// operation fails or finds nothing, to derive from and override what is needed (host tools
// reading a card folder, fuzzers serving files from memory, tests), and a read-only file
// over bytes in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform_services.h"

namespace autorun {

// A read-only file over bytes in memory. `chunk` caps what one read returns, to try
// readers on devices that hand out less than asked.
class MemoryFile : public File {
 public:
  explicit MemoryFile(std::vector<std::uint8_t> bytes, std::uint32_t chunk = 0xFFFFFFFFu)
      : bytes_(std::move(bytes)), chunk_(chunk) {}

  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
    const std::uint64_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    got = static_cast<std::uint32_t>(std::min<std::uint64_t>({count, left, chunk_}));
    if (got != 0) std::memcpy(buffer, bytes_.data() + position_, got);
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
  std::vector<std::uint8_t> bytes_;
  std::uint32_t chunk_;
  std::uint64_t position_ = 0;
};

class NullPlatform : public PlatformServices {
 public:
  std::unique_ptr<File> openFile(const std::u16string&, FileOpenMode) override { return nullptr; }
  std::uint32_t fileAttributes(const std::u16string&) override { return kInvalidAttributes; }
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string&, FindEntry&) override {
    return nullptr;
  }
  std::uint32_t createDirectory(const std::u16string&) override { return kErrorAccessDenied; }
  bool copyFile(const std::u16string&, const std::u16string&) override { return false; }
  bool deleteFile(const std::u16string&) override { return false; }
  std::optional<std::uint64_t> freeBytes(const std::u16string&) override { return std::nullopt; }
  // ASCII as it is, anything else as '?'.
  std::string toMultiByte(const std::u16string& text) override {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
  }
  std::u16string moduleFileName(ModuleHandle) override { return {}; }
  std::u16string specialFolderPath(int) override { return {}; }
  std::unique_ptr<CardEnumeration> findFirstCard(std::u16string&) override { return nullptr; }
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
  int messageBox(const std::u16string&, const std::u16string&, std::uint32_t) override { return 0; }
};

}  // namespace autorun
