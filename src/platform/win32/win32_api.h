// What the Win32 platform needs from <windows.h>, and the few places where the handheld's
// core library (coredll) and the desktop differ. Everything else uses the wide-character
// calls that both offer.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

// The failure values of GetFileAttributesW, GetFileSize and SetFilePointer. The device's
// documentation gives them as 0xFFFFFFFF; older device SDKs do not name them.
#ifndef INVALID_FILE_ATTRIBUTES
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)
#endif
#ifndef INVALID_FILE_SIZE
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#endif
#ifndef INVALID_SET_FILE_POINTER
#define INVALID_SET_FILE_POINTER ((DWORD)0xFFFFFFFF)
#endif

namespace autorun::win32 {

// The core's UTF-16 text is handed to the API as it is.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be UTF-16");

inline const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string fromWide(const wchar_t* text) {
  return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text))
                         : std::u16string();
}

inline std::u16string fromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// Looks up an entry of a loaded library. The device's GetProcAddress takes a wide name.
inline FARPROC procAddress(HMODULE module, const char* name) {
#ifdef _WIN32_WCE
  std::wstring wideName(name, name + std::char_traits<char>::length(name));
  return GetProcAddressW(module, wideName.c_str());
#else
  return GetProcAddress(module, name);
#endif
}

// Converts an entry looked up with procAddress to its real type.
template <typename Function>
Function entryAs(FARPROC entry) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

}  // namespace autorun::win32
