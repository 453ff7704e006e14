// driver.exe: plays the user for the end-to-end tests under wine. It finds dialogs and
// message boxes by caption, presses their buttons, reads their texts, and holds files
// open. Every wait has a time limit; the exit code says how it went.
//
//   driver wait CAPTION [MS]              a visible dialog with this caption appears
//   driver press CAPTION ID [MS]          ...then its button ID is pressed and it goes away
//   driver text CAPTION [MS]              ...then the texts of its controls are printed
//   driver expect-text CAPTION TEXT [MS]  ...and one of its controls shows TEXT (printed)
//   driver progress CAPTION ID [MS]       ...then the position of progress bar ID is printed
//   driver window CLASS TITLE [MS]        a top-level window with this class and title exists
//   driver no-window CLASS TITLE [MS]     no such window exists (any longer)
//   driver close CLASS TITLE              asks such a window to close
//   driver hold PATH MS READY_FILE        opens PATH exclusively, creates READY_FILE, waits MS
//   driver attributes PATH +temporary     adds the temporary attribute to PATH
//
// Exit codes: 0 done, 1 wrong use, 2 timed out, 3 the operation failed.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
// After windows.h.
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeout = 30000;
constexpr DWORD kPoll = 50;
constexpr int kExitUsage = 1;
constexpr int kExitTimeout = 2;
constexpr int kExitFailed = 3;

void printUtf8(const std::wstring& text) {
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                        needed, nullptr, nullptr);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

DWORD parseMilliseconds(const wchar_t* text) {
  return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}

bool visible(HWND window) {
  return window != nullptr && IsWindow(window) && IsWindowVisible(window);
}

// A visible dialog (class "#32770", the class of dialogs and message boxes) with exactly
// this caption.
HWND findDialog(const std::wstring& caption) {
  HWND candidate = nullptr;
  while ((candidate = FindWindowExW(nullptr, candidate, L"#32770", caption.c_str())) != nullptr) {
    if (IsWindowVisible(candidate)) return candidate;
  }
  return nullptr;
}

template <typename Condition>
bool waitFor(DWORD timeout, Condition condition) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeout) return false;
    Sleep(kPoll);
  }
}

HWND waitForDialog(const std::wstring& caption, DWORD timeout) {
  HWND dialog = nullptr;
  waitFor(timeout, [&] { return (dialog = findDialog(caption)) != nullptr; });
  return dialog;
}

std::wstring windowText(HWND window) {
  // Ask with a time limit: the owner may be busy without a message loop.
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
    return L"";
  }
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, 2000, &got);
  return std::wstring(buffer.data());
}

int press(const std::wstring& caption, int id, DWORD timeout) {
  const HWND dialog = waitForDialog(caption, timeout);
  if (dialog == nullptr) return kExitTimeout;
  const HWND button = GetDlgItem(dialog, id);
  // Posted, not sent: the dialog's owner may start long work right after the click.
  if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                    reinterpret_cast<LPARAM>(button))) {
    return kExitFailed;
  }
  return waitFor(timeout, [&] { return !visible(dialog); }) ? 0 : kExitTimeout;
}

// The texts of a dialog's controls, one "id: text" line each.
std::wstring controlTexts(HWND dialog) {
  std::wstring texts;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    texts += std::to_wstring(GetDlgCtrlID(child)) + L": " + windowText(child) + L"\n";
  }
  return texts;
}

int printTexts(const std::wstring& caption, DWORD timeout) {
  const HWND dialog = waitForDialog(caption, timeout);
  if (dialog == nullptr) return kExitTimeout;
  printUtf8(controlTexts(dialog));
  return 0;
}

// A dialog may be found before its texts are filled in: look until one shows the text.
int expectText(const std::wstring& caption, const std::wstring& text, DWORD timeout) {
  std::wstring texts;
  const bool found = waitFor(timeout, [&] {
    const HWND dialog = findDialog(caption);
    if (dialog == nullptr) return false;
    texts = controlTexts(dialog);
    return texts.find(text) != std::wstring::npos;
  });
  printUtf8(texts);
  return found ? 0 : kExitTimeout;
}

int printProgress(const std::wstring& caption, int id, DWORD timeout) {
  const HWND dialog = waitForDialog(caption, timeout);
  if (dialog == nullptr) return kExitTimeout;
  const HWND bar = GetDlgItem(dialog, id);
  if (bar == nullptr) return kExitFailed;
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position)) {
    return kExitFailed;
  }
  printUtf8(std::to_wstring(position) + L"\n");
  return 0;
}

int hold(const std::wstring& path, DWORD milliseconds, const std::wstring& readyFile) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kExitFailed;
  const HANDLE ready = CreateFileW(readyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  Sleep(milliseconds);
  CloseHandle(file);
  return 0;
}

int run(int argc, wchar_t** argv) {
  if (argc < 2) return kExitUsage;
  const std::wstring command = argv[1];
  auto timeoutAt = [&](int index) {
    return argc > index ? parseMilliseconds(argv[index]) : kDefaultTimeout;
  };
  if (command == L"wait" && argc >= 3) {
    return waitForDialog(argv[2], timeoutAt(3)) != nullptr ? 0 : kExitTimeout;
  }
  if (command == L"press" && argc >= 4) {
    return press(argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 10)), timeoutAt(4));
  }
  if (command == L"text" && argc >= 3) return printTexts(argv[2], timeoutAt(3));
  if (command == L"expect-text" && argc >= 4) return expectText(argv[2], argv[3], timeoutAt(4));
  if (command == L"progress" && argc >= 4) {
    return printProgress(argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 10)),
                         timeoutAt(4));
  }
  if (command == L"window" && argc >= 4) {
    return waitFor(timeoutAt(4), [&] { return FindWindowW(argv[2], argv[3]) != nullptr; })
               ? 0
               : kExitTimeout;
  }
  if (command == L"no-window" && argc >= 4) {
    return waitFor(timeoutAt(4), [&] { return FindWindowW(argv[2], argv[3]) == nullptr; })
               ? 0
               : kExitTimeout;
  }
  if (command == L"close" && argc >= 4) {
    const HWND window = FindWindowW(argv[2], argv[3]);
    return window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : kExitFailed;
  }
  if (command == L"hold" && argc >= 5) return hold(argv[2], parseMilliseconds(argv[3]), argv[4]);
  if (command == L"attributes" && argc >= 4 && std::wstring(argv[3]) == L"+temporary") {
    const DWORD attributes = GetFileAttributesW(argv[2]);
    if (attributes == INVALID_FILE_ATTRIBUTES) return kExitFailed;
    return SetFileAttributesW(argv[2], attributes | FILE_ATTRIBUTE_TEMPORARY) ? 0 : kExitFailed;
  }
  return kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  return run(argc, argv);
}
