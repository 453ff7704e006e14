// The handheld's <windows.h>, cut down to what the Win32 platform uses: declarations of
// the core library (coredll) written from the Windows CE 5.0 and Windows Mobile 5/6
// documentation, with the device's spellings and signatures. Only the device-build gate
// (cmake/wince/check_device_build.py) compiles against these headers; a real device build
// uses its SDK's.
#pragma once

#ifndef _WIN32_WCE
#error "These are the handheld's declarations: define _WIN32_WCE"
#endif

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winreg.h>
#include <wingdi.h>
#include <winuser.h>
