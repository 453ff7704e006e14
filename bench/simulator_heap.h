// Tells the simulated device's heap from the installer's. Every operation passes on to the
// wrapped platform with the simulator as the heap's owner, and so does every method of the
// objects it hands out (files, listings, keys, ...). Dialog handlers it is given run as the
// installer again: they are the installer's code called back by the device.
//
// What the simulator allocates while it works is what the device's own system would hold
// on a handheld, outside the installer's process (its file system's and registry's books,
// the image's host paths). What an operation hands back is the installer's, as the Win32
// layer would build it in the installer's heap: returned texts, the names and values put
// into the caller's variables, and the small object wrapping each thing handed out.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "heap_counter.h"
#include "platform/platform_wrapper.h"

namespace autorun::bench {

class SimulatorHeapPlatform : public PlatformWrapper {
 public:
  explicit SimulatorHeapPlatform(PlatformServices& target) : PlatformWrapper(target) {}
  ~SimulatorHeapPlatform() override;

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
  bool drawBitmap(DrawingSurface surface, int x, int y, int width, int height,
                  const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) override;
  int messageBox(const std::u16string& text, const std::u16string& caption,
                 std::uint32_t style) override;

 private:
  // The installer's handler, called back as the installer; kept while the platform lives,
  // since a modeless dialog calls it back later.
  DialogHandler& installerSide(DialogHandler& handler);

  std::map<DialogHandler*, std::unique_ptr<DialogHandler>> handlers_;
};

}  // namespace autorun::bench
