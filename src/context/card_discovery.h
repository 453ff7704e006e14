// Finding the storage card that carries the configuration, and the device's folders.
#pragma once

#include <string>

namespace autorun {

struct InstallerContext;
class PlatformServices;

inline constexpr int kSpecialFolderNone = -1;
inline constexpr int kSpecialFolderPrograms = 2;
inline constexpr int kSpecialFolderPersonal = 5;
inline constexpr int kSpecialFolderWindows = 36;
inline constexpr int kSpecialFolderProgramFiles = 38;
inline constexpr int kMaxCardsExamined = 15;

std::u16string findCardFolder(InstallerContext& context);
std::u16string specialFolderPath(InstallerContext& context, int number);
bool fileReadable(PlatformServices& platform, const std::u16string& path);
// The installer's module path as the device reports it, up to its last backslash.
std::u16string installerFolder(InstallerContext& context);

}  // namespace autorun
