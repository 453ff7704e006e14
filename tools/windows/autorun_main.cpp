// autorun.exe: the installer on the device. The shell starts it with "install" when the
// card is inserted and with "uninstall" when it is removed; a user starts it without one.
#include "configuration_key.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "platform/win32/win32_platform.h"

namespace {

int runInstaller(HINSTANCE instance, const wchar_t* commandLine) {
  try {
    autorun::win32::Win32Platform platform;
    autorun::InstallerContext context(platform, autorun::kConfigurationKey);
    return autorun::runEntry(context, reinterpret_cast<autorun::ModuleHandle>(instance),
                             autorun::win32::fromWide(commandLine));
  } catch (...) {
    // Out of memory and the like: end as for a configuration that cannot be used.
    return autorun::kExitCannotOpen;
  }
}

}  // namespace

// The command line arrives as the system gives it, without the program's own name.
#ifdef _WIN32_WCE
// The device's entry is WinMain, and its command line is already wide.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  return runInstaller(instance, commandLine);
}
#else
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  return runInstaller(instance, commandLine);
}
#endif
