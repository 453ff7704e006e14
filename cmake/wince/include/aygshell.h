// The handheld shell's dialog set-up (aygshell.dll). The installer looks SHInitDialog up
// at run time; these declarations give it its device type.
#pragma once

#include <windows.h>

extern "C" {

#define SHIDIM_FLAGS 0x0001
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004

typedef struct tagSHINITDIALOG {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;

BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi);

}  // extern "C"
