// Small owners of Win32 handles: each releases its handle exactly once, on every path.
#pragma once

#include <utility>

#include "platform/win32/win32_api.h"

namespace autorun::win32 {

// Owns a handle of type Handle, released by Traits::close; Traits::invalid() means none.
template <typename Handle, typename Traits>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, Traits::invalid())) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, Traits::invalid());
    }
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::invalid(); }
  void reset(Handle handle = Traits::invalid()) {
    if (handle_ != Traits::invalid()) Traits::close(handle_);
    handle_ = handle;
  }
  Handle release() { return std::exchange(handle_, Traits::invalid()); }

 private:
  Handle handle_ = Traits::invalid();
};

// Files and processes: CreateFileW fails with INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE handle) { CloseHandle(handle); }
};
using FileHandle = Owned<HANDLE, FileHandleTraits>;

// OpenProcess fails with a null handle.
struct KernelHandleTraits {
  static HANDLE invalid() { return nullptr; }
  static void close(HANDLE handle) { CloseHandle(handle); }
};
using KernelHandle = Owned<HANDLE, KernelHandleTraits>;

// FindFirstFileW and the card enumeration: closed with FindClose.
struct FindHandleTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE handle) { FindClose(handle); }
};
using FindHandle = Owned<HANDLE, FindHandleTraits>;

struct RegistryKeyTraits {
  static HKEY invalid() { return nullptr; }
  static void close(HKEY key) { RegCloseKey(key); }
};
using RegistryKeyHandle = Owned<HKEY, RegistryKeyTraits>;

struct LibraryTraits {
  static HMODULE invalid() { return nullptr; }
  static void close(HMODULE module) { FreeLibrary(module); }
};
using LibraryHandle = Owned<HMODULE, LibraryTraits>;

// A memory drawing surface from CreateCompatibleDC.
struct MemoryDcTraits {
  static HDC invalid() { return nullptr; }
  static void close(HDC dc) { DeleteDC(dc); }
};
using MemoryDc = Owned<HDC, MemoryDcTraits>;

// A GDI object (bitmap, brush, ...), deleted with DeleteObject.
struct GdiObjectTraits {
  static HGDIOBJ invalid() { return nullptr; }
  static void close(HGDIOBJ object) { DeleteObject(object); }
};
using GdiObject = Owned<HGDIOBJ, GdiObjectTraits>;

// Selects an object into a drawing surface and selects the previous one back at the end,
// so that the object can be deleted afterwards.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() {
    if (ok()) SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  // SelectObject fails with NULL; the desktop may also answer HGDI_ERROR, which the device
  // does not have.
  bool ok() const {
#ifdef _WIN32_WCE
    return previous_ != nullptr;
#else
    return previous_ != nullptr && previous_ != HGDI_ERROR;
#endif
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace autorun::win32
