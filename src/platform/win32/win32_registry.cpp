// The registry.
#include <iterator>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace autorun::win32 {
namespace {

// The access asked for a key. The device keeps no access rights on keys and documents the
// argument as not supported, to be set to 0.
#ifdef _WIN32_WCE
constexpr REGSAM kCreateAccess = 0;
constexpr REGSAM kReadAccess = 0;
#else
constexpr REGSAM kCreateAccess = KEY_ALL_ACCESS;
constexpr REGSAM kReadAccess = KEY_READ;
#endif

}  // namespace

HKEY rootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryRoot::CurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRoot::Users:
      return HKEY_USERS;
  }
  return HKEY_CURRENT_USER;
}

#ifndef _WIN32_WCE
LONG deleteRegistryTreeByHand(HKEY parent, const wchar_t* name) {
  HKEY opened = nullptr;
  LONG status = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &opened);
  if (status != ERROR_SUCCESS) return status;
  RegistryKeyHandle key(opened);
  for (;;) {
    wchar_t child[256];
    DWORD length = static_cast<DWORD>(std::size(child));
    status = RegEnumKeyExW(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return status;
    status = deleteRegistryTreeByHand(key.get(), child);
    if (status != ERROR_SUCCESS) return status;
  }
  key.reset();
  return RegDeleteKeyW(parent, name);
}
#endif

namespace {

#ifndef _WIN32_WCE
using RegDeleteTreeEntry = LONG(WINAPI*)(HKEY, const wchar_t*);
#endif

// Deletes a subkey with everything below it. The device's RegDeleteKeyW does that by
// itself; the desktop has RegDeleteTreeW from Vista on.
LONG deleteTree(HKEY parent, const wchar_t* name) {
#ifdef _WIN32_WCE
  return RegDeleteKeyW(parent, name);
#else
  LibraryHandle advapi(LoadLibraryW(L"advapi32.dll"));
  if (advapi) {
    const auto deleteTreeEntry =
        entryAs<RegDeleteTreeEntry>(procAddress(advapi.get(), "RegDeleteTreeW"));
    if (deleteTreeEntry != nullptr) return deleteTreeEntry(parent, name);
  }
  return deleteRegistryTreeByHand(parent, name);
#endif
}

class Win32RegistryKey : public RegistryKey {
 public:
  explicit Win32RegistryKey(RegistryKeyHandle key) : key_(std::move(key)) {}

  bool setDword(const std::u16string& name, std::uint32_t value) override {
    const DWORD data = value;
    return RegSetValueExW(key_.get(), wide(name), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof(data)) == ERROR_SUCCESS;
  }

  bool setString(const std::u16string& name, const std::u16string& value) override {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
    return RegSetValueExW(key_.get(), wide(name), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
  }

  bool queryValue(const std::u16string& name, std::uint32_t& type,
                  std::vector<std::uint8_t>& data) override {
    DWORD valueType = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key_.get(), wide(name), nullptr, &valueType, nullptr, &size);
    // The value may grow between the two calls; ask again with the new size.
    for (int attempt = 0; status == ERROR_SUCCESS && attempt < 4; ++attempt) {
      std::vector<std::uint8_t> buffer(size);
      DWORD got = size;
      status = RegQueryValueExW(key_.get(), wide(name), nullptr, &valueType,
                                buffer.empty() ? nullptr : buffer.data(), &got);
      if (status == ERROR_MORE_DATA) {
        size = got > size ? got : size * 2 + 16;
        status = ERROR_SUCCESS;
        continue;
      }
      if (status != ERROR_SUCCESS) break;
      buffer.resize(got < size ? got : size);
      type = valueType;
      data = std::move(buffer);
      return true;
    }
    return false;
  }

  bool deleteSubkeyTree(const std::u16string& name) override {
    return deleteTree(key_.get(), wide(name)) == ERROR_SUCCESS;
  }

  void flush() override { RegFlushKey(key_.get()); }

 private:
  RegistryKeyHandle key_;
};

}  // namespace

std::unique_ptr<RegistryKey> Win32Platform::createKey(RegistryRoot root,
                                                      const std::u16string& path) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(rootKey(root), wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE, kCreateAccess,
                      nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<Win32RegistryKey>(RegistryKeyHandle(key));
}

std::unique_ptr<RegistryKey> Win32Platform::openKey(RegistryRoot root, const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(rootKey(root), wide(path), 0, kReadAccess, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<Win32RegistryKey>(RegistryKeyHandle(key));
}

void Win32Platform::broadcastSettingChange() {
  // A window that does not answer must not hold the installer up.
  DWORD_PTR answer = 0;
#ifdef _WIN32_WCE
  // The device takes SMTO_NORMAL only, and documents the call without the W.
  SendMessageTimeout(HWND_BROADCAST, WM_SETTINGCHANGE, kSettingChangeToday, 0, SMTO_NORMAL, 500,
                     &answer);
#else
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, kSettingChangeToday, 0,
                      SMTO_NORMAL | SMTO_ABORTIFHUNG, 500, &answer);
#endif
}

}  // namespace autorun::win32
