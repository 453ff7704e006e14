// selfreg.dll: a library with self-registration entries for the tests under wine. Each
// entry records its call in HKCU\Software\AutorunWineTest, value "Registered" (1 after
// DllRegisterServer, 0 after DllUnregisterServer).
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

namespace {

HRESULT record(DWORD registered) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\AutorunWineTest", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return E_FAIL;
  }
  const LONG status =
      RegSetValueExW(key, L"Registered", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&registered),
                     sizeof(registered));
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
  return record(1);
}
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return record(0);
}
