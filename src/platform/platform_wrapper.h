// A platform that passes every operation on to another one, as leveldb's EnvWrapper does
// for its Env. Derive from it and override only the operations to change: a wrapper that
// makes some fail, or one that notes some calls, then needs nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform_services.h"

namespace autorun {

class PlatformWrapper : public PlatformServices {
 public:
  // `target` must outlive the wrapper.
  explicit PlatformWrapper(PlatformServices& target) : target_(target) {}

  PlatformServices& target() const { return target_; }

  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override {
    return target_.openFile(path, mode);
  }
  std::uint32_t fileAttributes(const std::u16string& path) override {
    return target_.fileAttributes(path);
  }
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string& pattern,
                                                      FindEntry& first) override {
    return target_.findFirstFile(pattern, first);
  }
  std::uint32_t createDirectory(const std::u16string& path) override {
    return target_.createDirectory(path);
  }
  bool copyFile(const std::u16string& source, const std::u16string& destination) override {
    return target_.copyFile(source, destination);
  }
  bool deleteFile(const std::u16string& path) override { return target_.deleteFile(path); }
  std::optional<std::uint64_t> freeBytes(const std::u16string& folder) override {
    return target_.freeBytes(folder);
  }
  std::string toMultiByte(const std::u16string& text) override { return target_.toMultiByte(text); }

  std::u16string moduleFileName(ModuleHandle module) override {
    return target_.moduleFileName(module);
  }
  std::u16string specialFolderPath(int number) override {
    return target_.specialFolderPath(number);
  }
  std::unique_ptr<CardEnumeration> findFirstCard(std::u16string& firstCard) override {
    return target_.findFirstCard(firstCard);
  }

  std::unique_ptr<RegistryKey> createKey(RegistryRoot root, const std::u16string& path) override {
    return target_.createKey(root, path);
  }
  std::unique_ptr<RegistryKey> openKey(RegistryRoot root, const std::u16string& path) override {
    return target_.openKey(root, path);
  }
  void broadcastSettingChange() override { target_.broadcastSettingChange(); }

  std::unique_ptr<Library> loadLibrary(const std::u16string& path) override {
    return target_.loadLibrary(path);
  }

  bool shellOpen(const std::u16string& path) override { return target_.shellOpen(path); }
  WindowHandle findWindow(const std::u16string& windowClass, const std::u16string& title) override {
    return target_.findWindow(windowClass, title);
  }
  WindowHandle findWindowByClass(const std::u16string& windowClass) override {
    return target_.findWindowByClass(windowClass);
  }
  bool postCloseRequest(WindowHandle window) override { return target_.postCloseRequest(window); }
  std::unique_ptr<Process> openWindowProcess(WindowHandle window) override {
    return target_.openWindowProcess(window);
  }

  int runModalDialog(ModuleHandle module, int templateId, DialogHandler& handler) override {
    return target_.runModalDialog(module, templateId, handler);
  }
  WindowHandle createModelessDialog(ModuleHandle module, int templateId,
                                    DialogHandler& handler) override {
    return target_.createModelessDialog(module, templateId, handler);
  }
  void endDialog(WindowHandle dialog, int result) override { target_.endDialog(dialog, result); }
  WindowHandle dialogItem(WindowHandle dialog, int id) override {
    return target_.dialogItem(dialog, id);
  }
  bool setWindowText(WindowHandle window, const std::u16string& text) override {
    return target_.setWindowText(window, text);
  }
  std::intptr_t sendDialogItemMessage(WindowHandle dialog, int id, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) override {
    return target_.sendDialogItemMessage(dialog, id, message, wParam, lParam);
  }
  void updateWindow(WindowHandle window) override { target_.updateWindow(window); }
  bool windowRect(WindowHandle window, Rect& rect) override {
    return target_.windowRect(window, rect);
  }
  bool clientRect(WindowHandle window, Rect& rect) override {
    return target_.clientRect(window, rect);
  }
  bool moveWindow(WindowHandle window, int x, int y, int width, int height, bool repaint) override {
    return target_.moveWindow(window, x, y, width, height, repaint);
  }
  bool shellInitDialog(WindowHandle dialog, std::uint32_t flags) override {
    return target_.shellInitDialog(dialog, flags);
  }
  void setForegroundWindow(WindowHandle window) override { target_.setForegroundWindow(window); }
  DrawingSurface beginPaint(WindowHandle window) override { return target_.beginPaint(window); }
  void endPaint(WindowHandle window, DrawingSurface surface) override {
    target_.endPaint(window, surface);
  }
  bool drawBitmap(DrawingSurface surface, int x, int y, int width, int height,
                  const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) override {
    return target_.drawBitmap(surface, x, y, width, height, bitmapInfo, pixels);
  }

  int messageBox(const std::u16string& text, const std::u16string& caption,
                 std::uint32_t style) override {
    return target_.messageBox(text, caption, style);
  }

 private:
  PlatformServices& target_;
};

}  // namespace autorun
