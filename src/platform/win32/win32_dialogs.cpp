// Dialogs from the program's templates, painting, and message boxes.
#include "platform/win32/win32_platform.h"

#ifdef _WIN32_WCE
#include <aygshell.h>
#endif

namespace autorun::win32 {
namespace {

#ifdef _WIN32_WCE
constexpr int kHandlerSlot = DWL_USER;
void storeHandler(HWND dialog, LPARAM handler) {
  SetWindowLongW(dialog, kHandlerSlot, handler);
}
DialogHandler* storedHandler(HWND dialog) {
  return reinterpret_cast<DialogHandler*>(GetWindowLongW(dialog, kHandlerSlot));
}
#else
void storeHandler(HWND dialog, LPARAM handler) {
  SetWindowLongPtrW(dialog, DWLP_USER, handler);
}
DialogHandler* storedHandler(HWND dialog) {
  return reinterpret_cast<DialogHandler*>(GetWindowLongPtrW(dialog, DWLP_USER));
}
#endif

// One procedure for every dialog: the handler arrives with the init message and is kept
// in the dialog's own slot; the messages the handlers care about are passed on.
INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) storeHandler(dialog, lParam);
  DialogHandler* handler = storedHandler(dialog);
  if (handler == nullptr) return FALSE;
  // Nothing may unwind through the system's dialog manager.
  try {
    switch (message) {
      case WM_INITDIALOG:
        return handler->onInitDialog(fromWindow(dialog)) ? TRUE : FALSE;
      case WM_COMMAND:
        return handler->onCommand(fromWindow(dialog), LOWORD(wParam)) ? TRUE : FALSE;
      case WM_PAINT:
        return handler->onPaint(fromWindow(dialog)) ? TRUE : FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

// The handheld shell's dialog set-up: BOOL SHInitDialog(SHINITDLGINFO*), looked up at run
// time. The device build takes its structure from the shell's header.
#ifdef _WIN32_WCE
using ShellInitDialogInfo = SHINITDLGINFO;
constexpr DWORD kShellInitDialogFlagsValid = SHIDIM_FLAGS;
#else
struct ShellInitDialogInfo {
  DWORD mask;
  HWND dialog;
  DWORD flags;
};
constexpr DWORD kShellInitDialogFlagsValid = 0x0001;  // SHIDIM_FLAGS
#endif
using ShellInitDialogEntry = BOOL(WINAPI*)(ShellInitDialogInfo*);

// Without the handheld shell: the dialog takes the whole work area, as on the device.
bool maximiseDialog(HWND dialog) {
  RECT area{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) || area.right <= area.left ||
      area.bottom <= area.top) {
    area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  MoveWindow(dialog, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
  return true;
}

}  // namespace

void Win32Platform::prepareCommonControls() {
  if (commonControlsReady_) return;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  commonControlsReady_ = InitCommonControlsEx(&controls) != FALSE;
}

int Win32Platform::runModalDialog(ModuleHandle module, int templateId, DialogHandler& handler) {
  prepareCommonControls();
  const INT_PTR result =
      DialogBoxParamW(reinterpret_cast<HINSTANCE>(module), MAKEINTRESOURCEW(templateId), nullptr,
                      dialogProcedure, reinterpret_cast<LPARAM>(&handler));
  return static_cast<int>(result);
}

WindowHandle Win32Platform::createModelessDialog(ModuleHandle module, int templateId,
                                                 DialogHandler& handler) {
  prepareCommonControls();
  return fromWindow(CreateDialogParamW(reinterpret_cast<HINSTANCE>(module),
                                       MAKEINTRESOURCEW(templateId), nullptr, dialogProcedure,
                                       reinterpret_cast<LPARAM>(&handler)));
}

void Win32Platform::endDialog(WindowHandle dialog, int result) {
  EndDialog(toWindow(dialog), result);
}

WindowHandle Win32Platform::dialogItem(WindowHandle dialog, int id) {
  return fromWindow(GetDlgItem(toWindow(dialog), id));
}

bool Win32Platform::setWindowText(WindowHandle window, const std::u16string& text) {
  return SetWindowTextW(toWindow(window), wide(text)) != FALSE;
}

std::intptr_t Win32Platform::sendDialogItemMessage(WindowHandle dialog, int id,
                                                   std::uint32_t message, std::uintptr_t wParam,
                                                   std::intptr_t lParam) {
  return SendDlgItemMessageW(toWindow(dialog), id, message, wParam, lParam);
}

void Win32Platform::updateWindow(WindowHandle window) {
  // No message loop runs while the installer works: paint the window and each of its
  // controls now (a progress bar only invalidates itself when it moves).
  const HWND parent = toWindow(window);
  UpdateWindow(parent);
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    UpdateWindow(child);
  }
}

bool Win32Platform::windowRect(WindowHandle window, Rect& rect) {
  RECT r{};
  if (!GetWindowRect(toWindow(window), &r)) return false;
  rect = Rect{r.left, r.top, r.right, r.bottom};
  return true;
}

bool Win32Platform::clientRect(WindowHandle window, Rect& rect) {
  RECT r{};
  if (!GetClientRect(toWindow(window), &r)) return false;
  rect = Rect{r.left, r.top, r.right, r.bottom};
  return true;
}

bool Win32Platform::moveWindow(WindowHandle window, int x, int y, int width, int height,
                               bool repaint) {
  return MoveWindow(toWindow(window), x, y, width, height, repaint ? TRUE : FALSE) != FALSE;
}

bool Win32Platform::shellInitDialog(WindowHandle dialog, std::uint32_t flags) {
  if (!shellLibraryProbed_) {
    shellLibraryProbed_ = true;
    shellLibrary_.reset(LoadLibraryW(L"aygshell.dll"));
  }
  if (shellLibrary_) {
    const auto initDialog =
        entryAs<ShellInitDialogEntry>(procAddress(shellLibrary_.get(), "SHInitDialog"));
    if (initDialog != nullptr) {
      ShellInitDialogInfo info{kShellInitDialogFlagsValid, toWindow(dialog), flags};
      return initDialog(&info) != FALSE;
    }
  }
  return maximiseDialog(toWindow(dialog));
}

void Win32Platform::setForegroundWindow(WindowHandle window) {
  SetForegroundWindow(toWindow(window));
}

DrawingSurface Win32Platform::beginPaint(WindowHandle window) {
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(toWindow(window), &paint);
  if (dc == nullptr) return 0;
  paints_[toWindow(window)] = paint;
  return reinterpret_cast<DrawingSurface>(dc);
}

void Win32Platform::endPaint(WindowHandle window, DrawingSurface surface) {
  const auto found = paints_.find(toWindow(window));
  if (found == paints_.end() || reinterpret_cast<DrawingSurface>(found->second.hdc) != surface) {
    return;
  }
  EndPaint(toWindow(window), &found->second);
  paints_.erase(found);
}

bool Win32Platform::drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                               const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) {
  if (target == 0 || width <= 0 || height <= 0 || bitmapInfo == nullptr || pixels == nullptr) {
    return false;
  }
  const HDC targetDc = reinterpret_cast<HDC>(target);
  MemoryDc offscreen(CreateCompatibleDC(targetDc));
  if (!offscreen) return false;
  GdiObject bitmap(CreateCompatibleBitmap(targetDc, width, height));
  if (!bitmap) return false;
  bool drawn = false;
  {
    Selection selected(offscreen.get(), bitmap.get());
    if (!selected.ok()) return false;
    const int lines =
        SetDIBitsToDevice(offscreen.get(), x, y, static_cast<DWORD>(width),
                          static_cast<DWORD>(height), 0, 0, 0, static_cast<UINT>(height), pixels,
                          reinterpret_cast<const BITMAPINFO*>(bitmapInfo), DIB_RGB_COLORS);
    drawn =
        lines > 0 && BitBlt(targetDc, 0, 0, width, height, offscreen.get(), 0, 0, SRCCOPY) != FALSE;
  }
  return drawn;
}

int Win32Platform::messageBox(const std::u16string& text, const std::u16string& caption,
                              std::uint32_t style) {
  return MessageBoxW(GetForegroundWindow(), wide(text), wide(caption), style);
}

}  // namespace autorun::win32
