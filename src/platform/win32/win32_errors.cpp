#include "platform/win32/win32_errors.h"

#include "platform/platform_services.h"

namespace autorun::win32 {

std::uint32_t mapFailure(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS:
      return ERROR_GEN_FAILURE;
    case ERROR_FILE_NOT_FOUND:
      return kErrorFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return kErrorPathNotFound;
    case ERROR_ACCESS_DENIED:
      return kErrorAccessDenied;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return kErrorAlreadyExists;
    default:
      return static_cast<std::uint32_t>(code);
  }
}

std::uint32_t lastFailure() {
  return mapFailure(GetLastError());
}

}  // namespace autorun::win32
