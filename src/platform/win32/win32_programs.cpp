// Libraries, programs started through the shell, and other programs' windows.
#include "platform/win32/win32_platform.h"

namespace autorun::win32 {
namespace {

class Win32Library : public Library {
 public:
  explicit Win32Library(LibraryHandle module) : module_(std::move(module)) {}

  bool callEntry(std::string_view name) override {
    const std::string entryName(name);
    const FARPROC entry = procAddress(module_.get(), entryName.c_str());
    if (entry == nullptr) return false;
    // The self-registration entries take nothing; their result is not looked at.
    entryAs<HRESULT(STDAPICALLTYPE*)()>(entry)();
    return true;
  }

 private:
  LibraryHandle module_;
};

class Win32Process : public Process {
 public:
  explicit Win32Process(KernelHandle process) : process_(std::move(process)) {}

  bool waitForExit(std::uint32_t milliseconds) override {
    return WaitForSingleObject(process_.get(), milliseconds) == WAIT_OBJECT_0;
  }

 private:
  KernelHandle process_;
};

}  // namespace

std::unique_ptr<Library> Win32Platform::loadLibrary(const std::u16string& path) {
  LibraryHandle module(LoadLibraryW(wide(path)));
  if (!module) return nullptr;
  return std::make_unique<Win32Library>(std::move(module));
}

bool Win32Platform::shellOpen(const std::u16string& path) {
#ifdef _WIN32_WCE
  // The device has the call and its structure in the wide form only, spelled without W.
  SHELLEXECUTEINFO info{};
#else
  SHELLEXECUTEINFOW info{};
#endif
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = wide(path);
  info.lpParameters = L"";
  info.lpDirectory = L"";
  info.nShow = SW_SHOWNORMAL;
#ifdef _WIN32_WCE
  return ShellExecuteEx(&info) != FALSE;
#else
  return ShellExecuteExW(&info) != FALSE;
#endif
}

WindowHandle Win32Platform::findWindow(const std::u16string& windowClass,
                                       const std::u16string& title) {
  return fromWindow(FindWindowW(wide(windowClass), wide(title)));
}

WindowHandle Win32Platform::findWindowByClass(const std::u16string& windowClass) {
  return fromWindow(FindWindowW(wide(windowClass), nullptr));
}

bool Win32Platform::postCloseRequest(WindowHandle window) {
  return PostMessageW(toWindow(window), WM_CLOSE, 0, 0) != FALSE;
}

std::unique_ptr<Process> Win32Platform::openWindowProcess(WindowHandle window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(toWindow(window), &processId);
  if (processId == 0) return nullptr;
#ifdef _WIN32_WCE
  // The device supports no access rights here: its handles can always be waited on.
  KernelHandle process(OpenProcess(0, FALSE, processId));
#else
  KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
#endif
  if (!process) return nullptr;
  return std::make_unique<Win32Process>(std::move(process));
}

}  // namespace autorun::win32
