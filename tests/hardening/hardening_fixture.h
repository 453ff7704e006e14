// A realistic card and device for the hardening tests, snapshots of a device image, and
// the set of paths and registry keys a configuration names, so that a test can tell
// whether a run touched anything it was not asked to touch.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "context/installer_context.h"
#include "platform/sim/sim_platform.h"
#include "support/atlas_card.h"
#include "support/device_image.h"

namespace autorun::testing::hardening {

// The card of the Atlas navigation application: folders, files in subfolders, a DLL,
// shortcuts, registry values, Today item, card-dependent pieces and an upgrade backup.
// The flows' own registry locations lie under HKLM\Software\Atlas.
inline constexpr char kCardConfiguration[] = R"(; Atlas navigation card
[common]
brand = "Atlas"
website = "atlas.example"
logo = "logo.bmp"
logo_width = "84"
logo_height = "100"
[navigation]
exe_parent = "PROGRAM_FILES"
exe_dir = "Atlas"
exe = "atlas.exe"
sd_dir = "Atlas"
windowclass = "AtlasMain"
windowname = "Atlas"
[registry]
installed = "HKLM\\Software\\Atlas\\Installed"
cardpath = "HKLM\\Software\\Atlas\\CardPath"
autorun = "HKLM\\Software\\Atlas\\Autorun"
today_enabled = "HKLM\\Software\\Microsoft\\Today\\Items\\Atlas\\Enabled"
today_enabled_save = "HKLM\\Software\\Atlas\\TodaySaved"
[install]
title = "%s setup"
question = "Install %s?"
[uninstall]
title = "%s removal"
question = "Remove %s?"
ready = "%s has been removed."
notinstalled = "%s is not installed."
[reinstall]
question = "%s is installed. Install it again?"
[update]
title = "%s update"
newer = "The card holds a newer build. Update?"
older = "The card holds an older build. Go back to it?"
[error]
running = "Close the navigation first."
freespace = "%s needs %s bytes free."
[upgrade]
application_dat = "\\Atlas\\atlas.exe"
application_exe = "%PROGRAM_FILES%\\Atlas\\atlas.exe"
backup_dw_1 = "HKCU\\Software\\Atlas\\Volume"
backup_str_2 = "HKCU\\Software\\Atlas\\LastCity"
[install_actions]
makedir_1 = "%PROGRAM_FILES%\\Atlas"
makedir_2 = "%PROGRAM_FILES%\\Atlas\\Skins"
makedir_3 = "%PROGRAM_FILES%\\Atlas\\Voices"
src_1 = "\\Atlas\\atlas.exe"
dst_1 = "%PROGRAM_FILES%\\Atlas"
src_2 = "\\Atlas\\atlasext.dll"
dst_2 = "%PROGRAM_FILES%\\Atlas"
src_3 = "\\Atlas\\Skins"
dst_3 = "%PROGRAM_FILES%\\Atlas\\Skins"
src_4 = "\\Atlas\\Voices\\*.wav"
dst_4 = "%PROGRAM_FILES%\\Atlas\\Voices"
reg_key_1 = "HKCU\\Software\\Atlas\\Volume"
reg_dw_value_1 = "5"
reg_key_2 = "HKCU\\Software\\Atlas\\LastCity"
reg_str_value_2 = "Berlin"
reg_key_3 = "HKLM\\Software\\Atlas\\Autorun"
reg_dw_value_3 = "1"
link_name_1 = "%PROGRAMS%\\Atlas.lnk"
link_prg_1 = "%PROGRAM_FILES%\\Atlas\\atlas.exe"
link_name_2 = "%PROGRAMS%\\Atlas Help.lnk"
link_prg_2 = "%PROGRAM_FILES%\\Atlas\\atlas.exe"
register_dll_1 = "%PROGRAM_FILES%\\Atlas\\atlasext.dll"
[uninstall_actions]
unregister_dll_1 = "%PROGRAM_FILES%\\Atlas\\atlasext.dll"
remove_reg_1 = "HKLM\\Software\\Atlas"
remove_reg_2 = "HKCU\\Software\\Atlas"
remove_reg_3 = "HKLM\\Software\\Microsoft\\Today\\Items\\Atlas"
remove_link_1 = "%PROGRAMS%\\Atlas.lnk"
remove_link_2 = "%PROGRAMS%\\Atlas Help.lnk"
remove_link_3 = "%PROGRAMS%\\Atlas Maps.lnk"
remove_file_1 = "%PROGRAM_FILES%\\Atlas\\*.*"
remove_file_2 = "%PERSONAL%\\atlas.ini"
remove_dir_1 = "%PROGRAM_FILES%\\Atlas\\Skins"
remove_dir_2 = "%PROGRAM_FILES%\\Atlas\\Voices"
[card_insert_actions]
src_1 = "\\Atlas\\atlas.ini"
dst_1 = "%PERSONAL%\\atlas.ini"
link_name_1 = "%PROGRAMS%\\Atlas Maps.lnk"
link_prg_1 = "%SDCARD%\\Atlas\\maps.exe"
reg_key_1 = "HKLM\\Software\\Atlas\\MapFolder"
reg_str_value_1 = "%SDCARD%\\Atlas\\Maps"
remove_reg_1 = "HKLM\\Software\\Atlas\\Offline"
[card_remove_actions]
remove_link_1 = "%PROGRAMS%\\Atlas Maps.lnk"
remove_reg_1 = "HKLM\\Software\\Atlas\\CardData"
reg_key_1 = "HKLM\\Software\\Atlas\\MapFolder"
reg_str_value_1 = ""
)";

inline constexpr std::uint32_t kCardStamp = 0x00020001;

// A fresh empty folder for short-lived device images, removed with the object. It lies in
// memory (/dev/shm) where there is one: the simulated registry syncs every change to disk,
// which would make runs by the thousand slow.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

// While it lives, DeviceImage makes its images in memory (/dev/shm, where there is one),
// for the same reason as ScratchFolder: tests that run many flows on fresh images.
class ImagesInMemory {
 public:
  ImagesInMemory();
  ~ImagesInMemory();
  ImagesInMemory(const ImagesInMemory&) = delete;
  ImagesInMemory& operator=(const ImagesInMemory&) = delete;

 private:
  std::optional<std::string> previous_;  // TMPDIR before
};

// A small tmpfs mounted on a host folder (made if missing) while the object lives: a disk
// that fills up. Mounting needs root; `mounted()` tells whether it worked, `skipReason()`
// what to say when a test cannot go on without it.
class SmallDisk {
 public:
  SmallDisk(std::filesystem::path at, std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }
  std::string skipReason() const;

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
  int error_ = 0;
};

// Writes the card (configuration, application files, logo) and things that belong to
// neither the card nor the application: files beside the installed ones and registry
// values next to the ones the configuration names. They must never change.
void writeCardAndBystanders(DeviceImage& image);

// The installer's context over `platform`, with the configuration loaded and the folder
// variables published, as the entry prepares it before it runs a flow. Null when the
// configuration does not load.
std::unique_ptr<InstallerContext> loadInstaller(PlatformServices& platform,
                                                std::u16string commandLine = u"");

// What a device image holds: files (device path -> bytes), folders, registry keys
// ("HKEY_LOCAL_MACHINE\Software\Atlas") and values (key + "\" + "@name" -> type and bytes).
struct DeviceSnapshot {
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::set<std::string> registryKeys;
  std::map<std::string, std::string> registryValues;
  bool operator==(const DeviceSnapshot&) const = default;
};
DeviceSnapshot snapshot(const std::filesystem::path& deviceDir);

// The differences between two snapshots, one line each ("+file \Program Files\x", ...).
std::vector<std::string> differences(const DeviceSnapshot& before, const DeviceSnapshot& after);

// The device paths and registry locations that a loaded configuration names.
class NamedByConfiguration {
 public:
  explicit NamedByConfiguration(const ConfigStore& config);
  // Differences between the snapshots that touch something the configuration does not
  // name; empty when the run stayed within it.
  std::vector<std::string> untouchable(const DeviceSnapshot& before,
                                       const DeviceSnapshot& after) const;

 private:
  bool pathAllowed(const std::string& devicePath) const;
  bool keyAllowed(const std::string& key, bool removed) const;
  bool valueAllowed(const std::string& key, const std::string& name, bool removed) const;

  std::vector<std::string> paths_;  // folded
  struct Location {
    std::string key;   // "HKEY_...\key\path", folded
    std::string name;  // folded
  };
  std::vector<Location> locations_;
};

// Lower-case ASCII, as the device matches names.
std::string folded(std::string_view text);

}  // namespace autorun::testing::hardening
