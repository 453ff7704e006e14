// Special folders, in the handheld's core library (coredll). The device spells the call
// without W.
#pragma once

#include <windows.h>

extern "C" {

BOOL WINAPI SHGetSpecialFolderPath(HWND hwndOwner, LPWSTR lpszPath, int nFolder, BOOL fCreate);

}  // extern "C"
