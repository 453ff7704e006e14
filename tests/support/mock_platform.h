// A gmock double of the whole platform, for the few tests whose contract is the order or
// number of calls; every other unit test runs on the in-memory device (memory_platform.h).
#pragma once

#include <gmock/gmock.h>

#include "platform/platform_services.h"

namespace autorun::testing {

class MockPlatform : public PlatformServices {
 public:
  // Out of line: the mock machinery of every method is then compiled once, not in every
  // test that makes a mock.
  MockPlatform();
  ~MockPlatform() override;

  MOCK_METHOD(std::unique_ptr<File>, openFile, (const std::u16string& path, FileOpenMode mode),
              (override));
  MOCK_METHOD(std::uint32_t, fileAttributes, (const std::u16string& path), (override));
  MOCK_METHOD(std::unique_ptr<DirectoryEnumeration>, findFirstFile,
              (const std::u16string& pattern, FindEntry& first), (override));
  MOCK_METHOD(std::uint32_t, createDirectory, (const std::u16string& path), (override));
  MOCK_METHOD(bool, copyFile, (const std::u16string& source, const std::u16string& destination),
              (override));
  MOCK_METHOD(bool, deleteFile, (const std::u16string& path), (override));
  MOCK_METHOD(std::optional<std::uint64_t>, freeBytes, (const std::u16string& folder), (override));
  MOCK_METHOD(std::string, toMultiByte, (const std::u16string& text), (override));
  MOCK_METHOD(std::u16string, moduleFileName, (ModuleHandle module), (override));
  MOCK_METHOD(std::u16string, specialFolderPath, (int number), (override));
  MOCK_METHOD(std::unique_ptr<CardEnumeration>, findFirstCard, (std::u16string & firstCard),
              (override));
  MOCK_METHOD(std::unique_ptr<RegistryKey>, createKey,
              (RegistryRoot root, const std::u16string& path), (override));
  MOCK_METHOD(std::unique_ptr<RegistryKey>, openKey,
              (RegistryRoot root, const std::u16string& path), (override));
  MOCK_METHOD(void, broadcastSettingChange, (), (override));
  MOCK_METHOD(std::unique_ptr<Library>, loadLibrary, (const std::u16string& path), (override));
  MOCK_METHOD(bool, shellOpen, (const std::u16string& path), (override));
  MOCK_METHOD(WindowHandle, findWindow,
              (const std::u16string& windowClass, const std::u16string& title), (override));
  MOCK_METHOD(WindowHandle, findWindowByClass, (const std::u16string& windowClass), (override));
  MOCK_METHOD(bool, postCloseRequest, (WindowHandle window), (override));
  MOCK_METHOD(std::unique_ptr<Process>, openWindowProcess, (WindowHandle window), (override));
  MOCK_METHOD(int, runModalDialog, (ModuleHandle module, int templateId, DialogHandler& handler),
              (override));
  MOCK_METHOD(WindowHandle, createModelessDialog,
              (ModuleHandle module, int templateId, DialogHandler& handler), (override));
  MOCK_METHOD(void, endDialog, (WindowHandle dialog, int result), (override));
  MOCK_METHOD(WindowHandle, dialogItem, (WindowHandle dialog, int id), (override));
  MOCK_METHOD(bool, setWindowText, (WindowHandle window, const std::u16string& text), (override));
  MOCK_METHOD(std::intptr_t, sendDialogItemMessage,
              (WindowHandle dialog, int id, std::uint32_t message, std::uintptr_t wParam,
               std::intptr_t lParam),
              (override));
  MOCK_METHOD(void, updateWindow, (WindowHandle window), (override));
  MOCK_METHOD(bool, windowRect, (WindowHandle window, Rect& rect), (override));
  MOCK_METHOD(bool, clientRect, (WindowHandle window, Rect& rect), (override));
  MOCK_METHOD(bool, moveWindow,
              (WindowHandle window, int x, int y, int width, int height, bool repaint), (override));
  MOCK_METHOD(bool, shellInitDialog, (WindowHandle dialog, std::uint32_t flags), (override));
  MOCK_METHOD(void, setForegroundWindow, (WindowHandle window), (override));
  MOCK_METHOD(DrawingSurface, beginPaint, (WindowHandle window), (override));
  MOCK_METHOD(void, endPaint, (WindowHandle window, DrawingSurface surface), (override));
  MOCK_METHOD(bool, drawBitmap,
              (DrawingSurface target, int x, int y, int width, int height,
               const std::uint8_t* bitmapInfo, const std::uint8_t* pixels),
              (override));
  MOCK_METHOD(int, messageBox,
              (const std::u16string& text, const std::u16string& caption, std::uint32_t style),
              (override));
};

}  // namespace autorun::testing
