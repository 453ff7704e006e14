// The common controls library of the handheld (commctrl.dll): registering the progress
// bar's window class.
#pragma once

#include <windows.h>

extern "C" {

#define ICC_PROGRESS_CLASS 0x00000020

typedef struct tagINITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

BOOL WINAPI InitCommonControlsEx(LPINITCOMMONCONTROLSEX lpInitCtrls);

}  // extern "C"
