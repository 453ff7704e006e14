// Note_prj.dll stand-in for the tests under wine: the handheld's storage-card enumeration.
// The cards are the root folders named in the environment variable AUTORUN_TEST_CARDS
// (separated by ';', default "Storage Card") that exist, in the root's enumeration order.
// The search handle is a file search handle, so FindClose closes it, as on the device.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <string>

namespace {

bool isListedCard(const WIN32_FIND_DATAW& entry) {
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  wchar_t list[1024] = L"";
  const DWORD length = GetEnvironmentVariableW(L"AUTORUN_TEST_CARDS", list, 1024);
  const std::wstring cards =
      length > 0 && length < 1024 ? std::wstring(list, length) : std::wstring(L"Storage Card");
  std::size_t start = 0;
  while (start <= cards.size()) {
    std::size_t end = cards.find(L';', start);
    if (end == std::wstring::npos) end = cards.size();
    if (cards.compare(start, end - start, entry.cFileName) == 0 && end > start) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI
    FindNextFlashCard(HANDLE search, WIN32_FIND_DATAW* card) {
  if (card == nullptr) return FALSE;
  while (FindNextFileW(search, card)) {
    if (isListedCard(*card)) return TRUE;
  }
  return FALSE;
}

extern "C" __declspec(dllexport) HANDLE WINAPI FindFirstFlashCard(WIN32_FIND_DATAW* card) {
  if (card == nullptr) return INVALID_HANDLE_VALUE;
  const HANDLE search = FindFirstFileW(L"\\*", card);
  if (search == INVALID_HANDLE_VALUE) return search;
  if (isListedCard(*card) || FindNextFlashCard(search, card)) return search;
  FindClose(search);
  SetLastError(ERROR_NO_MORE_FILES);
  return INVALID_HANDLE_VALUE;
}
