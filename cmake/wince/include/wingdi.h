// Painting and bitmaps of the handheld's core library (coredll).
#pragma once

#include <windef.h>

extern "C" {

typedef struct tagRGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct tagBITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
} BITMAPINFO;

#define DIB_RGB_COLORS 0
#define SRCCOPY 0x00CC0020L
// What SelectObject gives when a region cannot be selected. Selecting any other object
// fails with NULL; the device documents no HGDI_ERROR.
#define GDI_ERROR 0xFFFFFFFFL

HDC WINAPI CreateCompatibleDC(HDC hdc);
HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight);
HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ hgdiobj);
BOOL WINAPI DeleteDC(HDC hdc);
BOOL WINAPI DeleteObject(HGDIOBJ hObject);
int WINAPI SetDIBitsToDevice(HDC hdc, int XDest, int YDest, DWORD dwWidth, DWORD dwHeight,
                             int XSrc, int YSrc, UINT uStartScan, UINT cScanLines,
                             const void* lpvBits, const BITMAPINFO* lpbmi, UINT fuColorUse);
BOOL WINAPI BitBlt(HDC hdcDest, int nXDest, int nYDest, int nWidth, int nHeight, HDC hdcSrc,
                   int nXSrc, int nYSrc, DWORD dwRop);

}  // extern "C"
