// A platform wrapper that makes chosen operations fail, to test failure paths.
//
// Every platform method, and every method of the objects they return (files, keys,
// enumerations, libraries, processes), is an Operation. Each call is counted; failNth
// makes the Nth call from then on fail, once or from then on. A failing call is not
// passed on: it returns the method's failure value (null, false, 0, kInvalidAttributes,
// nothing, -1 for a modal dialog, the failure code for createDirectory) and a method
// without a result simply does nothing. Every other call goes on through PlatformWrapper.
// The counts alone make it a call counter over any platform.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/platform_wrapper.h"

namespace autorun::sim {

enum class Operation {
  OpenFile,
  FileAttributes,
  FindFirstFile,
  CreateDirectory,
  CopyFile,
  DeleteFile,
  FreeBytes,
  ToMultiByte,
  ModuleFileName,
  SpecialFolderPath,
  FindFirstCard,
  CreateKey,
  OpenKey,
  BroadcastSettingChange,
  LoadLibrary,
  ShellOpen,
  FindWindow,
  FindWindowByClass,
  PostCloseRequest,
  OpenWindowProcess,
  RunModalDialog,
  CreateModelessDialog,
  EndDialog,
  DialogItem,
  SetWindowText,
  SendDialogItemMessage,
  UpdateWindow,
  WindowRect,
  ClientRect,
  MoveWindow,
  ShellInitDialog,
  SetForegroundWindow,
  BeginPaint,
  EndPaint,
  DrawBitmap,
  MessageBox,
  // Methods of returned objects.
  FileRead,
  FileWrite,
  FileSize,
  FileSeek,
  DirectoryNext,
  CardNext,
  KeySetDword,
  KeySetString,
  KeyQueryValue,
  KeyDeleteSubkeyTree,
  KeyFlush,
  LibraryCallEntry,
  ProcessWaitForExit,
};

inline constexpr std::size_t kOperationCount =
    static_cast<std::size_t>(Operation::ProcessWaitForExit) + 1;

// "openFile", "File::read", "RegistryKey::setDword", ... as in the platform interface.
std::string_view operationName(Operation operation);
std::optional<Operation> operationFromName(std::string_view name);

class FaultInjectingPlatform : public PlatformWrapper {
 public:
  explicit FaultInjectingPlatform(PlatformServices& target);
  ~FaultInjectingPlatform() override;

  // The `n`th call of `operation` made after this (1 = the next one) fails; with
  // `persistent` every later call fails as well. Replaces an earlier plan for it.
  void failNth(Operation operation, std::uint64_t n, bool persistent = false);
  void failNth(std::string_view operation, std::uint64_t n, bool persistent = false);
  // No further failures of this operation, or of any.
  void clearFailure(Operation operation);
  void clearFailures();
  // The code a failing createDirectory returns (default kErrorAccessDenied).
  void setCreateDirectoryFailure(std::uint32_t code);

  // Calls made so far (failed ones included), and how many of them were made to fail.
  std::uint64_t callCount(Operation operation) const;
  std::uint64_t failureCount(Operation operation) const;
  void resetCounts();

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

  // The counters and plans, shared with the objects handed out.
  struct Plan {
    std::uint64_t calls = 0;
    std::uint64_t failures = 0;
    std::uint64_t failAt = 0;  // call number that fails; 0 = none
    bool persistent = false;
  };
  struct Faults {
    std::array<Plan, kOperationCount> plans{};
    std::uint32_t createDirectoryFailure = kErrorAccessDenied;
    // Counts the call; true when it is to fail.
    bool fails(Operation operation);
  };

 private:
  std::shared_ptr<Faults> faults_;
};

}  // namespace autorun::sim
