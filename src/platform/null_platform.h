// A platform on which every operation fails or finds nothing, to derive from and override
// what is needed: host tools reading a card folder, the in-memory device of the tests and
// fuzzers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform_services.h"

namespace autorun {

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
