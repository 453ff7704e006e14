// The contract's device under wine: the Win32 platform on the drive the test program runs
// from. Storage cards come from the card library's stand-in beside the program
// (Note_prj.dll, which reports the root folders named in AUTORUN_TEST_CARDS); windows are
// real windows of this program, handled when windowGone pumps its messages.
#include <gtest/gtest.h>

#include <set>

#include "contract/contract_device.h"
#include "platform/win32/win32_paths.h"
#include "platform/win32/win32_platform.h"

namespace autorun::contract {
namespace {

using win32::wide;

// Deletes a folder with everything in it; what cannot be deleted stays.
void removeTree(const std::wstring& folder) {
  WIN32_FIND_DATAW data{};
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = folder + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &data));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

constexpr LONG_PTR kObeys = 1;

LRESULT CALLBACK contractWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    if (GetWindowLongPtrW(window, GWLP_USERDATA) == kObeys) DestroyWindow(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class Win32ContractDevice : public ContractDevice {
 public:
  explicit Win32ContractDevice(std::string_view testName) {
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    root_ = win32::rootOfModulePath(own);
    scratch_ = u"\\contract-";
    for (const char c : testName) scratch_ += c == '.' ? u'-' : static_cast<char16_t>(c);
    removeTree(system(scratch_));
    CreateDirectoryW(system(scratch_).c_str(), nullptr);
  }

  ~Win32ContractDevice() override {
    for (const HWND window : windows_) {
      if (IsWindow(window)) DestroyWindow(window);
    }
    for (const std::u16string& card : cards_) RemoveDirectoryW(system(card).c_str());
    SetEnvironmentVariableW(L"AUTORUN_TEST_CARDS", nullptr);
    removeTree(system(scratch_));
  }

  PlatformServices& platform() override { return platform_; }
  std::u16string scratch() const override { return scratch_; }
  ModuleHandle module() const override {
    return reinterpret_cast<ModuleHandle>(GetModuleHandleW(nullptr));
  }

  void insertCards(const std::vector<std::u16string>& names) override {
    // A name no folder has: no card at all.
    std::u16string listed = names.empty() ? u"No Contract Card" : u"";
    for (const std::u16string& name : names) {
      cards_.insert(u"\\" + name);
      CreateDirectoryW(system(u"\\" + name).c_str(), nullptr);
      if (!listed.empty()) listed += u';';
      listed += name;
    }
    SetEnvironmentVariableW(L"AUTORUN_TEST_CARDS", wide(listed));
  }

  WindowHandle openWindow(const std::u16string& windowClass, const std::u16string& title,
                          bool closesOnRequest) override {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW registered{};
    if (!GetClassInfoW(instance, wide(windowClass), &registered)) {
      WNDCLASSW newClass{};
      newClass.lpfnWndProc = contractWindowProcedure;
      newClass.hInstance = instance;
      newClass.lpszClassName = wide(windowClass);
      if (!RegisterClassW(&newClass)) return 0;
    }
    const HWND window = CreateWindowW(wide(windowClass), wide(title), WS_OVERLAPPEDWINDOW, 0, 0,
                                      200, 100, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 0;
    SetWindowLongPtrW(window, GWLP_USERDATA, closesOnRequest ? kObeys : 0);
    windows_.push_back(window);
    return win32::fromWindow(window);
  }

  bool windowGone(WindowHandle window) override {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    return !IsWindow(win32::toWindow(window));
  }

  void writeForeignValue(RegistryRoot root, const std::u16string& key, const std::u16string& name,
                         std::uint32_t type, const std::vector<std::uint8_t>& data) override {
    HKEY opened = nullptr;
    if (RegCreateKeyExW(win32::rootKey(root), wide(key), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &opened, nullptr) != ERROR_SUCCESS) {
      ADD_FAILURE_AT(__FILE__, __LINE__);
      return;
    }
    RegSetValueExW(opened, wide(name), 0, type, data.empty() ? nullptr : data.data(),
                   static_cast<DWORD>(data.size()));
    RegCloseKey(opened);
  }

 private:
  std::wstring system(const std::u16string& path) const { return win32::systemPath(path, root_); }

  std::wstring root_;
  std::u16string scratch_;
  std::set<std::u16string> cards_;
  std::vector<HWND> windows_;
  win32::Win32Platform platform_;
};

}  // namespace

std::unique_ptr<ContractDevice> makeContractDevice(std::string_view testName) {
  return std::make_unique<Win32ContractDevice>(testName);
}

}  // namespace autorun::contract
