// The device's own platform: every operation over the wide-character Win32 API.
//
// Only calls that the handheld's core library also offers are made directly. The two
// handheld-only libraries ("aygshell.dll" for the full-screen dialog set-up and
// "Note_prj.dll" for the storage-card enumeration) are looked up at run time; when they
// are absent, as on a desktop, a fallback gives the same results.
#pragma once

#include <map>
#include <string>

#include "platform/platform_services.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_handles.h"

namespace autorun::win32 {

inline HWND toWindow(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}
inline WindowHandle fromWindow(HWND window) {
  return reinterpret_cast<WindowHandle>(window);
}

// The predefined key a registry root names.
HKEY rootKey(RegistryRoot root);

class Win32Platform : public PlatformServices {
 public:
  Win32Platform();
  ~Win32Platform() override = default;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override;
  std::uint32_t fileAttributes(const std::u16string& path) override;
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string& pattern,
                                                      FindEntry& first) override;
  std::uint32_t createDirectory(const std::u16string& path) override;
  bool copyFile(const std::u16string& source, const std::u16string& destination) override;
  bool deleteFile(const std::u16string& path) override;
  std::optional<std::uint64_t> freeBytes(const std::u16string& folder) override;
  std::string toMultiByte(const std::u16string& text) override;

  std::u16string moduleFileName(ModuleHandle module) override;
  std::u16string specialFolderPath(int number) override;
  std::unique_ptr<CardEnumeration> findFirstCard(std::u16string& firstCard) override;

  std::unique_ptr<RegistryKey> createKey(RegistryRoot root, const std::u16string& path) override;
  std::unique_ptr<RegistryKey> openKey(RegistryRoot root, const std::u16string& path) override;
  void broadcastSettingChange() override;

  std::unique_ptr<Library> loadLibrary(const std::u16string& path) override;

  bool shellOpen(const std::u16string& path) override;
  WindowHandle findWindow(const std::u16string& windowClass, const std::u16string& title) override;
  WindowHandle findWindowByClass(const std::u16string& windowClass) override;
  bool postCloseRequest(WindowHandle window) override;
  std::unique_ptr<Process> openWindowProcess(WindowHandle window) override;

  int runModalDialog(ModuleHandle module, int templateId, DialogHandler& handler) override;
  WindowHandle createModelessDialog(ModuleHandle module, int templateId,
                                    DialogHandler& handler) override;
  void endDialog(WindowHandle dialog, int result) override;
  WindowHandle dialogItem(WindowHandle dialog, int id) override;
  bool setWindowText(WindowHandle window, const std::u16string& text) override;
  std::intptr_t sendDialogItemMessage(WindowHandle dialog, int id, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) override;
  void updateWindow(WindowHandle window) override;
  bool windowRect(WindowHandle window, Rect& rect) override;
  bool clientRect(WindowHandle window, Rect& rect) override;
  bool moveWindow(WindowHandle window, int x, int y, int width, int height, bool repaint) override;
  bool shellInitDialog(WindowHandle dialog, std::uint32_t flags) override;
  void setForegroundWindow(WindowHandle window) override;
  DrawingSurface beginPaint(WindowHandle window) override;
  void endPaint(WindowHandle window, DrawingSurface surface) override;
  bool drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                  const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) override;

  int messageBox(const std::u16string& text, const std::u16string& caption,
                 std::uint32_t style) override;

 private:
  // A device path as the system takes it (win32_paths.h).
  std::wstring systemPath(const std::u16string& path) const;
  // Registers the progress bar's window class before the first dialog is created.
  void prepareCommonControls();

  // What paths without a drive are rooted on; empty on the handheld.
  std::wstring root_;

  bool commonControlsReady_ = false;
  // The shell library stays loaded for the process: the dialogs it prepared use it.
  bool shellLibraryProbed_ = false;
  LibraryHandle shellLibrary_;
  // Paints in progress, by window: EndPaint needs the PAINTSTRUCT that BeginPaint filled.
  std::map<HWND, PAINTSTRUCT> paints_;
};

#ifndef _WIN32_WCE
// Deletes `name` below `parent` with everything under it, one key at a time; the desktop's
// RegDeleteKeyW removes only keys without subkeys. Used where RegDeleteTreeW is missing.
LONG deleteRegistryTreeByHand(HKEY parent, const wchar_t* name);
#endif

}  // namespace autorun::win32
