// Win32 error codes as the core distinguishes them. Every failure code the platform
// reports goes through here.
#pragma once

#include <cstdint>

#include "platform/win32/win32_api.h"

namespace autorun::win32 {

// Maps a code that GetLastError gave after a failed call. A failure never maps to
// kErrorSuccess: a call that failed without setting a code reports a general failure.
std::uint32_t mapFailure(DWORD code);

// mapFailure(GetLastError()).
std::uint32_t lastFailure();

}  // namespace autorun::win32
