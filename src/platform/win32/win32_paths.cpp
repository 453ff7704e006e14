#include "platform/win32/win32_paths.h"

namespace autorun::win32 {
namespace {

bool isSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool hasDrive(std::wstring_view path) {
  return path.size() >= 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

bool isNetworkPath(std::wstring_view path) {
  return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

}  // namespace

std::wstring rootOfModulePath(std::wstring_view modulePath) {
  if (hasDrive(modulePath)) return std::wstring(modulePath.substr(0, 2));
  if (!isNetworkPath(modulePath)) return {};
  // "\\server\share": the server's name and the share's, up to the separator after them.
  std::size_t end = 2;
  for (int part = 0; part < 2; ++part) {
    const std::size_t start = end;
    while (end < modulePath.size() && !isSeparator(modulePath[end])) ++end;
    if (end == start) return {};
    if (part == 0) ++end;
  }
  return std::wstring(modulePath.substr(0, end));
}

std::wstring systemPath(std::u16string_view path, std::wstring_view root) {
  std::wstring result(path.begin(), path.end());
  if (root.empty() || result.empty() || hasDrive(result) || isNetworkPath(result)) return result;
  std::wstring rooted(root);
  if (!isSeparator(result.front())) rooted += L'\\';
  rooted += result;
  return rooted;
}

}  // namespace autorun::win32
