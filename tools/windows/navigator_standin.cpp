// atlas.exe stand-in for the tests under wine: the navigation program's main window
// (class "AtlasNavigator", title "Atlas Navigator"). It counts its starts and the close
// requests it obeyed in HKCU\Software\AutorunWineTest ("Starts", "Closes") and ends by
// itself after a minute, so that no test leaves it behind.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

namespace {

constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT kLifetimeMilliseconds = 60000;

void count(const wchar_t* name) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\AutorunWineTest", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
      ERROR_SUCCESS) {
    value = 0;
  }
  ++value;
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegFlushKey(key);
  RegCloseKey(key);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      count(L"Closes");
      DestroyWindow(window);
      return 0;
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"AtlasNavigator";
  if (!RegisterClassW(&windowClass)) return 1;
  const HWND window = CreateWindowW(L"AtlasNavigator", L"Atlas Navigator", WS_OVERLAPPEDWINDOW, 0,
                                    0, 200, 100, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  count(L"Starts");
  SetTimer(window, kLifetimeTimer, kLifetimeMilliseconds, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
