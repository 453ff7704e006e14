// Base types of the handheld: a 32-bit machine whose wchar_t is 16 bits, every text
// UTF-16. Handles are distinct types, as with the SDK's STRICT setting.
#pragma once

static_assert(sizeof(void*) == 4, "the handheld has 32-bit pointers");
static_assert(sizeof(wchar_t) == 2, "the handheld's wchar_t is 16 bits");
static_assert(sizeof(long) == 4, "the handheld's long is 32 bits");

// ARM has one calling convention: the SDK's WINAPI, CALLBACK and STDAPICALLTYPE add
// nothing there.
#define WINAPI
#define CALLBACK
#define STDAPICALLTYPE

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef long LONG;
typedef unsigned long ULONG;
typedef unsigned int UINT;
typedef int INT;
typedef unsigned long long ULONGLONG;
typedef wchar_t WCHAR;
typedef char CHAR;

typedef int INT_PTR;
typedef unsigned int UINT_PTR;
typedef long LONG_PTR;
typedef unsigned long ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef DWORD_PTR* PDWORD_PTR;

typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef void* LPVOID;
typedef void* PVOID;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;

typedef UINT WPARAM;
typedef LONG LPARAM;
typedef LONG LRESULT;
typedef LONG HRESULT;

typedef void* HANDLE;
#define DECLARE_HANDLE(name) \
  struct name##__ {          \
    int unused;              \
  };                         \
  typedef struct name##__* name
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBITMAP);
typedef HINSTANCE HMODULE;
typedef HANDLE HGDIOBJ;
typedef HKEY* PHKEY;

typedef int(WINAPI* FARPROC)();

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef union _ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define LOWORD(value) ((WORD)(((DWORD)(value)) & 0xFFFF))
#define HIWORD(value) ((WORD)((((DWORD)(value)) >> 16) & 0xFFFF))
