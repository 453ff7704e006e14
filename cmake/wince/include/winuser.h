// Windows, dialogs, messages and message boxes of the handheld's core library (coredll).
#pragma once

#include <windef.h>

extern "C" {

#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_SETTINGCHANGE 0x001A
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111

#define HWND_BROADCAST ((HWND)0xFFFF)
// The only flag the device takes.
#define SMTO_NORMAL 0x0000

#define MAKEINTRESOURCEW(id) ((LPWSTR)((ULONG_PTR)((WORD)(id))))

// The dialog's own slot, read and written with GetWindowLongW/SetWindowLongW. The device
// has no GetWindowLongPtrW.
#define DWL_USER 8
#define GW_HWNDNEXT 2
#define GW_CHILD 5
#define SPI_GETWORKAREA 48
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SW_SHOWNORMAL 1

// The device's dialog procedure returns a BOOL.
typedef BOOL(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName);
BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// The documentation spells it SendMessageTimeout, without W: the generic name serves both.
// fuFlags: SMTO_NORMAL only.
LRESULT WINAPI SendMessageTimeout(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam,
                                  UINT fuFlags, UINT uTimeout, PDWORD_PTR lpdwResult);
DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);

int WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                           DLGPROC lpDialogFunc, LPARAM dwInitParam);
HWND WINAPI CreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam);
BOOL WINAPI EndDialog(HWND hDlg, int nResult);
HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem);
LONG WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                LPARAM lParam);
BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString);
LONG WINAPI GetWindowLongW(HWND hWnd, int nIndex);
LONG WINAPI SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong);
HWND WINAPI GetWindow(HWND hWnd, UINT uCmd);
BOOL WINAPI UpdateWindow(HWND hWnd);
BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect);
BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect);
BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint);
BOOL WINAPI SetForegroundWindow(HWND hWnd);
HWND WINAPI GetForegroundWindow(void);
BOOL WINAPI SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni);
int WINAPI GetSystemMetrics(int nIndex);

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT lpPaint);
BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

}  // extern "C"
