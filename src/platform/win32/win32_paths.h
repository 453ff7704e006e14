// Device paths handed to the system. Mapped here and nowhere else.
//
// The handheld has no drives and no current folder: a path without a leading backslash
// names the same place as with one, from the root. The desktop build stands in for it by
// rooting every path without a drive on the drive the installer runs from (the root of
// its module path), so that where a file lands never depends on the current folder. On
// the handheld itself paths go to the system unchanged.
#pragma once

#include <string>
#include <string_view>

namespace autorun::win32 {

// The root of a module path that the desktop roots device paths on: "C:" for
// "C:\dir\autorun.exe", "\\server\share" for a network path; empty when it has neither.
std::wstring rootOfModulePath(std::wstring_view modulePath);

// `path` as the system takes it, rooted on `root` (see rootOfModulePath). Paths with a
// drive and network paths stay as they are; so does every path when `root` is empty.
std::wstring systemPath(std::u16string_view path, std::wstring_view root);

}  // namespace autorun::win32
