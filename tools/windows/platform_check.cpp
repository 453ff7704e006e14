// platform-check.exe: runs the Win32 platform's operations against the real system (under
// wine in the tests) and checks what the core relies on. Dialog templates and message
// boxes are covered by the end-to-end runs of autorun.exe.
//
//   platform-check WORK_FOLDER [--cards-from-root]
//
// WORK_FOLDER is an empty folder on the current drive. With --cards-from-root the program
// must run without Note_prj.dll beside it and checks the card search's fallback.
// Prints each failed check and ends with 0 when all passed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_platform.h"

namespace {

using autorun::FileOpenMode;
using autorun::FindEntry;
using autorun::RegistryRoot;
using autorun::win32::fromWide;
using autorun::win32::wide;
using autorun::win32::Win32Platform;

int failures = 0;
int checks = 0;

std::string narrow(const std::u16string& text) {
  std::string result;
  for (char16_t unit : text) result += unit < 0x80 ? static_cast<char>(unit) : '?';
  return result;
}

void check(bool condition, const char* what, int line, const std::string& detail = {}) {
  ++checks;
  if (condition) return;
  ++failures;
  std::printf("FAILED line %d: %s %s\n", line, what, detail.c_str());
}
#define CHECK(condition) check((condition), #condition, __LINE__)
#define CHECK_TEXT(condition, text) check((condition), #condition, __LINE__, narrow(text))

bool endsWithNoCase(const std::u16string& text, const std::u16string& tail) {
  if (tail.size() > text.size()) return false;
  return _wcsicmp(wide(text.substr(text.size() - tail.size())), wide(tail)) == 0;
}

std::u16string writeFile(Win32Platform& platform, const std::u16string& path,
                         const std::string& content) {
  auto file = platform.openFile(path, FileOpenMode::WriteTruncate);
  CHECK_TEXT(file != nullptr, path);
  if (file) {
    std::uint32_t written = 0;
    CHECK(file->write(content.data(), static_cast<std::uint32_t>(content.size()), written));
    CHECK(written == content.size());
  }
  return path;
}

std::string readAll(Win32Platform& platform, const std::u16string& path) {
  auto file = platform.openFile(path, FileOpenMode::ReadShared);
  if (!file) return "<absent>";
  std::string content(64, '\0');
  std::uint32_t got = 0;
  if (!file->read(content.data(), static_cast<std::uint32_t>(content.size()), got))
    return "<error>";
  content.resize(got);
  return content;
}

void checkFiles(Win32Platform& platform, const std::u16string& work) {
  const std::u16string a = writeFile(platform, work + u"\\a.txt", "0123456789");
  writeFile(platform, work + u"\\b.dat", "bb");

  // Reading, size and position.
  {
    auto file = platform.openFile(a, FileOpenMode::ReadShared);
    CHECK(file != nullptr);
    if (file) {
      CHECK(file->size() == std::optional<std::uint64_t>(10));
      CHECK(file->seek(6));
      char buffer[8] = {};
      std::uint32_t got = 0;
      CHECK(file->read(buffer, sizeof(buffer), got));
      CHECK(got == 4 && std::memcmp(buffer, "6789", 4) == 0);
      CHECK(file->read(buffer, sizeof(buffer), got) && got == 0);
      // Others may read while it is open for shared reading, but not take it exclusively.
      CHECK(platform.openFile(a, FileOpenMode::ReadShared) != nullptr);
      CHECK(platform.openFile(a, FileOpenMode::ReadExclusive) == nullptr);
    }
    file.reset();
    CHECK(platform.openFile(a, FileOpenMode::ReadExclusive) != nullptr);
  }
  // Rewriting truncates.
  writeFile(platform, a, "xy");
  CHECK(readAll(platform, a) == "xy");
  CHECK(platform.openFile(work + u"\\missing.txt", FileOpenMode::ReadShared) == nullptr);
  CHECK(platform.openFile(work + u"\\no\\such\\x.txt", FileOpenMode::WriteTruncate) == nullptr);

  // Attributes.
  CHECK((platform.fileAttributes(work) & autorun::kAttributeDirectory) != 0);
  CHECK((platform.fileAttributes(a) & autorun::kAttributeDirectory) == 0);
  CHECK(platform.fileAttributes(work + u"\\missing.txt") == autorun::kInvalidAttributes);

  // Folders: one level at a time, with the reasons the core tells apart.
  CHECK(platform.createDirectory(work + u"\\sub") == autorun::kErrorSuccess);
  CHECK(platform.createDirectory(work + u"\\sub") == autorun::kErrorAlreadyExists);
  CHECK(platform.createDirectory(work + u"\\no\\such") == autorun::kErrorPathNotFound);
  writeFile(platform, work + u"\\sub\\c.dat", "ccc");

  // Enumeration by pattern.
  {
    FindEntry entry;
    auto found = platform.findFirstFile(work + u"\\*", entry);
    CHECK(found != nullptr);
    std::vector<FindEntry> entries;
    if (found) {
      do entries.push_back(entry);
      while (found->next(entry));
    }
    bool sawA = false, sawB = false, sawSub = false;
    for (const FindEntry& e : entries) {
      if (e.name == u"a.txt") sawA = !e.isDirectory() && e.size == 2;
      if (e.name == u"b.dat") sawB = !e.isDirectory() && e.sizeLow() == 2;
      if (e.name == u"sub") sawSub = e.isDirectory();
    }
    CHECK(sawA && sawB && sawSub);
    auto dats = platform.findFirstFile(work + u"\\*.dat", entry);
    CHECK(dats != nullptr && entry.name == u"b.dat");
    CHECK(dats && !dats->next(entry));
    CHECK(platform.findFirstFile(work + u"\\*.none", entry) == nullptr);
  }

  // Copy replaces the destination; delete removes files only.
  CHECK(platform.copyFile(work + u"\\b.dat", work + u"\\sub\\c.dat"));
  CHECK(readAll(platform, work + u"\\sub\\c.dat") == "bb");
  CHECK(!platform.copyFile(work + u"\\missing", work + u"\\x"));
  CHECK(!platform.copyFile(work + u"\\b.dat", work + u"\\no\\such\\x"));
  CHECK(platform.deleteFile(work + u"\\sub\\c.dat"));
  CHECK(!platform.deleteFile(work + u"\\sub\\c.dat"));
  CHECK(!platform.deleteFile(work + u"\\sub"));

  // Free space of the volume.
  const auto free = platform.freeBytes(work);
  CHECK(free.has_value() && *free > 0);
  CHECK(!platform.freeBytes(u"\\\\nohost\\noshare\\").has_value());

  // The device's code page: what it cannot represent becomes '?'.
  CHECK(platform.toMultiByte(u"C:\\Atlas\\atlas.exe") == "C:\\Atlas\\atlas.exe");
  CHECK(platform.toMultiByte(u"") == "");
  CHECK(platform.toMultiByte(u"a\u4E2Db") == "a?b");
}

void checkOwnFolders(Win32Platform& platform) {
  const auto module = reinterpret_cast<autorun::ModuleHandle>(GetModuleHandleW(nullptr));
  const std::u16string self = platform.moduleFileName(module);
  CHECK_TEXT(endsWithNoCase(self, u"\\platform-check.exe"), self);
  CHECK(platform.specialFolderPath(-1).empty());
  for (int number : {2, 5, 36, 38}) {
    const std::u16string folder = platform.specialFolderPath(number);
    CHECK_TEXT(!folder.empty() && (platform.fileAttributes(folder) & autorun::kAttributeDirectory),
               folder);
  }
}

void checkCards(Win32Platform& platform, bool fromRoot) {
  // A folder in the root that counts as a card, and one that does not.
  const std::u16string card = u"\\AutorunCheckCard";
  const std::u16string plain = u"\\AutorunCheckPlain";
  platform.createDirectory(card);
  platform.createDirectory(plain);
  // Whether the file system keeps the temporary attribute on a folder (wine does not).
  bool cardMarked = true;
  if (fromRoot) {
    const DWORD attributes = GetFileAttributesW(wide(card));
    CHECK(SetFileAttributesW(wide(card), attributes | FILE_ATTRIBUTE_TEMPORARY));
    cardMarked = (GetFileAttributesW(wide(card)) & FILE_ATTRIBUTE_TEMPORARY) != 0;
    if (!cardMarked) std::printf("note: folders do not keep the temporary attribute here\n");
  } else {
    SetEnvironmentVariableW(L"AUTORUN_TEST_CARDS", L"AutorunCheckCard");
  }
  std::u16string name;
  auto cards = platform.findFirstCard(name);
  std::vector<std::u16string> names;
  if (cards) {
    names.push_back(name);
    while (cards->next(name)) names.push_back(name);
  }
  bool sawCard = false;
  bool sawPlain = false;
  for (const auto& n : names) {
    sawCard = sawCard || n == u"AutorunCheckCard";
    sawPlain = sawPlain || n == u"AutorunCheckPlain";
  }
  CHECK(sawCard == cardMarked);
  CHECK(!sawPlain);
  cards.reset();
  RemoveDirectoryW(wide(card));
  RemoveDirectoryW(wide(plain));
  if (!fromRoot) {
    // No card at all: no enumeration.
    SetEnvironmentVariableW(L"AUTORUN_TEST_CARDS", L"NoSuchCard");
    CHECK(platform.findFirstCard(name) == nullptr);
  }
}

std::vector<std::uint8_t> bytesOf(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  return std::vector<std::uint8_t>(bytes, bytes + size);
}

void checkRegistry(Win32Platform& platform) {
  const std::u16string base = u"Software\\AutorunPlatformCheck";
  {
    auto key = platform.createKey(RegistryRoot::CurrentUser, base + u"\\One\\Two");
    CHECK(key != nullptr);
    if (!key) return;
    CHECK(key->setDword(u"Number", 0x80000000u));
    CHECK(key->setString(u"Text", u"Atlas"));
    CHECK(key->setString(u"", u"default"));
    key->flush();
  }
  CHECK(platform.createKey(RegistryRoot::CurrentUser, base + u"\\One\\Two\\Three\\Four") !=
        nullptr);
  {
    auto key = platform.openKey(RegistryRoot::CurrentUser, base + u"\\One\\Two");
    CHECK(key != nullptr);
    if (!key) return;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    const std::uint32_t number = 0x80000000u;
    CHECK(key->queryValue(u"Number", type, data) && type == autorun::kRegDword &&
          data == bytesOf(&number, 4));
    CHECK(key->queryValue(u"Text", type, data) && type == autorun::kRegString &&
          data == bytesOf(u"Atlas", 12));
    CHECK(key->queryValue(u"", type, data) && data == bytesOf(u"default", 16));
    CHECK(!key->queryValue(u"Missing", type, data));
  }
  CHECK(platform.openKey(RegistryRoot::CurrentUser, base + u"\\Missing") == nullptr);

  // A subkey goes with everything below it.
  {
    auto parent = platform.createKey(RegistryRoot::CurrentUser, base);
    CHECK(parent && parent->deleteSubkeyTree(u"One"));
    CHECK(parent && !parent->deleteSubkeyTree(u"One"));
  }
  CHECK(platform.openKey(RegistryRoot::CurrentUser, base + u"\\One") == nullptr);

  // The manual fallback for systems without RegDeleteTreeW does the same.
  CHECK(platform.createKey(RegistryRoot::CurrentUser, base + u"\\Hand\\A\\B") != nullptr);
  CHECK(platform.createKey(RegistryRoot::CurrentUser, base + u"\\Hand\\C") != nullptr);
  {
    HKEY parent = nullptr;
    CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, wide(base), 0, KEY_ALL_ACCESS, &parent) ==
          ERROR_SUCCESS);
    CHECK(autorun::win32::deleteRegistryTreeByHand(parent, L"Hand") == ERROR_SUCCESS);
    CHECK(autorun::win32::deleteRegistryTreeByHand(parent, L"Hand") != ERROR_SUCCESS);
    RegCloseKey(parent);
  }
  CHECK(platform.openKey(RegistryRoot::CurrentUser, base + u"\\Hand") == nullptr);
  RegDeleteKeyW(HKEY_CURRENT_USER, wide(base));

  // Local machine and users are reachable too.
  CHECK(platform.openKey(RegistryRoot::LocalMachine, u"Software") != nullptr);
  CHECK(platform.openKey(RegistryRoot::Users, u"") != nullptr);

  platform.broadcastSettingChange();
}

void checkLibraries(Win32Platform& platform, const std::u16string& folder) {
  CHECK(platform.loadLibrary(folder + u"\\no-such-library.dll") == nullptr);
  auto library = platform.loadLibrary(folder + u"\\selfreg.dll");
  CHECK(library != nullptr);
  if (!library) return;
  CHECK(!library->callEntry("NoSuchEntry"));
  CHECK(library->callEntry("DllRegisterServer"));
  DWORD value = 0;
  DWORD size = sizeof(value);
  CHECK(RegGetValueW(HKEY_CURRENT_USER, L"Software\\AutorunWineTest", L"Registered",
                     RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS &&
        value == 1);
  CHECK(library->callEntry("DllUnregisterServer"));
  CHECK(RegGetValueW(HKEY_CURRENT_USER, L"Software\\AutorunWineTest", L"Registered",
                     RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS &&
        value == 0);
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\AutorunWineTest");
}

LRESULT CALLBACK closingWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void checkWindows(Win32Platform& platform) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = closingWindowProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"AutorunCheckWindow";
  CHECK(RegisterClassW(&windowClass) != 0);
  const HWND window = CreateWindowW(L"AutorunCheckWindow", L"Check", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                                    200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  CHECK(window != nullptr);
  const auto handle = autorun::win32::fromWindow(window);
  CHECK(platform.findWindow(u"AutorunCheckWindow", u"Check") == handle);
  CHECK(platform.findWindow(u"AutorunCheckWindow", u"Other") == 0);
  CHECK(platform.findWindowByClass(u"AutorunCheckWindow") == handle);
  CHECK(platform.findWindowByClass(u"AutorunNoSuchClass") == 0);

  // Our own process does not end while we wait for it.
  auto process = platform.openWindowProcess(handle);
  CHECK(process != nullptr && !process->waitForExit(10));

  // Without the handheld shell the dialog set-up fills the work area.
  CHECK(platform.shellInitDialog(handle, autorun::kShidiFullScreen));
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  autorun::Rect rect;
  CHECK(platform.windowRect(handle, rect) && rect.left == area.left && rect.top == area.top &&
        rect.right == area.right && rect.bottom == area.bottom);
  CHECK(platform.moveWindow(handle, 10, 20, 200, 150, false));
  CHECK(platform.windowRect(handle, rect) && rect.left == 10 && rect.width() == 200 &&
        rect.height() == 150);
  CHECK(platform.clientRect(handle, rect) && rect.left == 0 && rect.width() > 0 &&
        rect.width() <= 200);
  CHECK(platform.setWindowText(handle, u"Renamed"));
  CHECK(platform.findWindow(u"AutorunCheckWindow", u"Renamed") == handle);

  // The close request arrives through the message queue.
  CHECK(platform.postCloseRequest(handle));
  MSG message;
  for (int i = 0; i < 100 && IsWindow(window) && GetMessageW(&message, nullptr, 0, 0) > 0; ++i) {
    DispatchMessageW(&message);
  }
  CHECK(!IsWindow(window));
  CHECK(!platform.postCloseRequest(handle));
  CHECK(platform.openWindowProcess(handle) == nullptr);
}

// A 2 x 2 logo, top-down, 24 bits: blue, green / red, white, rows padded to 8 bytes.
void checkDrawing(Win32Platform& platform) {
  const HDC screen = GetDC(nullptr);
  const HDC target = CreateCompatibleDC(screen);
  const HBITMAP canvas = CreateCompatibleBitmap(screen, 4, 4);
  const HGDIOBJ previous = SelectObject(target, canvas);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = 2;
  header.biHeight = -2;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const std::uint8_t pixels[16] = {0xFF, 0, 0,    0,    0xFF, 0,    0, 0,
                                   0,    0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
  CHECK(platform.drawBitmap(reinterpret_cast<autorun::DrawingSurface>(target), 0, 0, 2, 2,
                            reinterpret_cast<const std::uint8_t*>(&header), pixels));
  CHECK(GetPixel(target, 0, 0) == RGB(0, 0, 255));
  CHECK(GetPixel(target, 1, 0) == RGB(0, 255, 0));
  CHECK(GetPixel(target, 0, 1) == RGB(255, 0, 0));
  CHECK(GetPixel(target, 1, 1) == RGB(255, 255, 255));
  CHECK(!platform.drawBitmap(reinterpret_cast<autorun::DrawingSurface>(target), 0, 0, 0, 0,
                             reinterpret_cast<const std::uint8_t*>(&header), pixels));
  SelectObject(target, previous);
  DeleteObject(canvas);
  DeleteDC(target);
  ReleaseDC(nullptr, screen);
}

void checkErrors() {
  CHECK(autorun::win32::mapFailure(ERROR_SUCCESS) != autorun::kErrorSuccess);
  CHECK(autorun::win32::mapFailure(ERROR_FILE_EXISTS) == autorun::kErrorAlreadyExists);
  CHECK(autorun::win32::mapFailure(ERROR_PATH_NOT_FOUND) == autorun::kErrorPathNotFound);
  CHECK(autorun::win32::mapFailure(ERROR_DISK_FULL) == ERROR_DISK_FULL);
}

std::u16string ownFolder(Win32Platform& platform) {
  std::u16string self =
      platform.moduleFileName(reinterpret_cast<autorun::ModuleHandle>(GetModuleHandleW(nullptr)));
  return self.substr(0, self.rfind(u'\\'));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::printf("usage: platform-check WORK_FOLDER [--cards-from-root]\n");
    return 2;
  }
  const std::u16string work = fromWide(argv[1]);
  const bool cardsFromRoot = argc > 2 && std::wstring(argv[2]) == L"--cards-from-root";
  Win32Platform platform;
  if (cardsFromRoot) {
    checkCards(platform, true);
  } else {
    checkFiles(platform, work);
    checkOwnFolders(platform);
    checkCards(platform, false);
    checkRegistry(platform);
    checkLibraries(platform, ownFolder(platform));
    checkWindows(platform);
    checkDrawing(platform);
    checkErrors();
  }
  std::printf("platform-check: %d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
