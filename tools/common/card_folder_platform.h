// A read-only device over a card image on the host: device paths are taken relative to
// the card's root folder ("\maps\a.dat" is <folder>/maps/a.dat) and matched component by
// component without regard to case, as the device's file system does. Only file reading,
// attributes and enumeration work; every other operation fails. It lets host tools run the
// installer's own readers (the logo, the version stamp) on a card image.
#pragma once

#include <filesystem>
#include <optional>

#include "platform/platform_services.h"

namespace autorun::host {

class CardFolderPlatform : public PlatformServices {
 public:
  explicit CardFolderPlatform(std::filesystem::path root);

  // The host path of a device path relative to the card; nothing when a component is
  // missing, or when the path would leave the card (a ".." component).
  std::optional<std::filesystem::path> resolve(const std::u16string& devicePath) const;

  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override;
  std::uint32_t fileAttributes(const std::u16string& path) override;
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string& pattern,
                                                      FindEntry& first) override;
  std::uint32_t createDirectory(const std::u16string&) override { return kErrorAccessDenied; }
  bool copyFile(const std::u16string&, const std::u16string&) override { return false; }
  bool deleteFile(const std::u16string&) override { return false; }
  std::optional<std::uint64_t> freeBytes(const std::u16string&) override { return std::nullopt; }
  std::string toMultiByte(const std::u16string& text) override;
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

 private:
  std::filesystem::path root_;
};

// Whether a name matches a pattern of '*' (any run) and '?' (one character), without
// regard to case.
bool matchesPattern(std::u16string_view name, std::u16string_view pattern);

}  // namespace autorun::host
