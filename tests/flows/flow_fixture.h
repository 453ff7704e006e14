// A device with the Atlas navigation application's card, for tests that run the flows on
// the simulated device and look at its files, registry and trace.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "actions/registry_actions.h"
#include "context/config_loader.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "platform/sim/fault_injecting_platform.h"
#include "platform/sim/sim_platform.h"
#include "support/atlas_card.h"
#include "support/device_image.h"
#include "support/test_keys.h"

namespace autorun::testing {

// The card's configuration. The flows' registry locations are under HKLM\Software\Atlas
// (removed as a whole by the uninstall list), HKCU\Software\Atlas (the user's settings,
// carried over an upgrade) and HKLM\Software\AtlasShell (the autorun switch, which an
// uninstall leaves).
inline constexpr char kAtlasConfiguration[] = R"(; Atlas navigation card
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
autorun = "HKLM\\Software\\AtlasShell\\Autorun"
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
src_1 = "\\Atlas\\atlas.exe"
dst_1 = "%PROGRAM_FILES%\\Atlas"
src_2 = "\\Atlas\\atlasext.dll"
dst_2 = "%PROGRAM_FILES%\\Atlas"
src_3 = "\\Atlas\\Skins"
dst_3 = "%PROGRAM_FILES%\\Atlas\\Skins"
reg_key_1 = "HKCU\\Software\\Atlas\\Volume"
reg_dw_value_1 = "5"
reg_key_2 = "HKCU\\Software\\Atlas\\LastCity"
reg_str_value_2 = "Berlin"
link_name_1 = "%PROGRAMS%\\Atlas.lnk"
link_prg_1 = "%PROGRAM_FILES%\\Atlas\\atlas.exe"
register_dll_1 = "%PROGRAM_FILES%\\Atlas\\atlasext.dll"
[uninstall_actions]
unregister_dll_1 = "%PROGRAM_FILES%\\Atlas\\atlasext.dll"
remove_reg_1 = "HKLM\\Software\\Atlas"
remove_reg_2 = "HKCU\\Software\\Atlas"
remove_link_1 = "%PROGRAMS%\\Atlas.lnk"
remove_file_1 = "%PROGRAM_FILES%\\Atlas\\*.*"
remove_dir_1 = "%PROGRAM_FILES%\\Atlas\\Skins"
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

inline constexpr char16_t kCardPath[] = u"HKLM\\Software\\Atlas\\CardPath";
inline constexpr char16_t kAutorun[] = u"HKLM\\Software\\AtlasShell\\Autorun";
inline constexpr char16_t kToday[] = u"HKLM\\Software\\Microsoft\\Today\\Items\\Atlas\\Enabled";
inline constexpr char16_t kTodaySaved[] = u"HKLM\\Software\\Atlas\\TodaySaved";
inline constexpr char16_t kMapFolder[] = u"HKLM\\Software\\Atlas\\MapFolder";
inline constexpr std::uint32_t kCardStamp = 0x00010004;

// Sizes of the files the install list copies.
inline constexpr std::size_t kExeSize = 1024;
inline constexpr std::size_t kDllSize = 300;
inline constexpr std::size_t kDaySkinSize = 200;
inline constexpr std::size_t kNightSkinSize = 100;
inline constexpr std::uint64_t kInstallBytes = kExeSize + kDllSize + kDaySkinSize + kNightSkinSize;

// Names parameterised cases by their `name` field.
struct CaseName {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& row) const {
    return row.param.name;
  }
};

// Passes every call on to the device (or fails it when told to), noting the files opened.
class WatchedPlatform : public sim::FaultInjectingPlatform {
 public:
  using sim::FaultInjectingPlatform::FaultInjectingPlatform;
  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override {
    opened.push_back(path);
    return sim::FaultInjectingPlatform::openFile(path, mode);
  }
  std::size_t timesOpened(std::u16string_view path) const {
    std::size_t times = 0;
    for (const std::u16string& p : opened) times += p == path ? 1 : 0;
    return times;
  }
  std::vector<std::u16string> opened;
};

class FlowTest : public ::testing::Test {
 protected:
  FlowTest() {
    image.writeConfiguration(configuration);
    writeCard(kCardStamp);
  }

  // The card's application: what the install and card-insert lists copy.
  void writeCard(std::uint32_t stamp) {
    image.writeFile(u"\\Storage Card\\2577\\autorun.exe", "MZ installer");
    image.writeFile(kCardExe, fakeExecutable(stamp, kExeSize));
    image.writeFile(u"\\Storage Card\\Atlas\\atlasext.dll", std::string(kDllSize, 'd'));
    image.writeFile(u"\\Storage Card\\Atlas\\Skins\\day.skn", std::string(kDaySkinSize, 'a'));
    image.writeFile(u"\\Storage Card\\Atlas\\Skins\\night.skn", std::string(kNightSkinSize, 'n'));
    image.writeFile(u"\\Storage Card\\Atlas\\atlas.ini", "[atlas]\nunits=metric\n");
    image.writeFile(u"\\Storage Card\\Atlas\\maps.exe", "MZ maps");
  }

  // The application as an installation leaves it, with this build's stamp.
  void writeInstalledApplication(std::uint32_t stamp) {
    image.writeFile(kInstalledExe, fakeExecutable(stamp, kExeSize));
    image.writeFile(u"\\Program Files\\Atlas\\atlasext.dll", std::string(kDllSize, 'd'));
  }

  // Starts the device and loads the configuration as the entry does. `answers` answer the
  // Yes/No questions in order. The flows then run through `faults`, which passes every
  // call on until told otherwise.
  void start(std::vector<bool> answers = {}) {
    sim::SimOptions options;
    options.answers = std::move(answers);
    device = image.platform(std::move(options));
    faults = std::make_unique<WatchedPlatform>(*device);
    context = std::make_unique<InstallerContext>(*faults, std::string(kTestKey));
    context->moduleHandle = sim::SimPlatform::kModuleHandle;
    ASSERT_EQ(loadConfiguration(*context), kLoadOk);
    publishFolderVariables(*context);
  }

  // Registry values as the device holds them now.
  std::optional<std::uint32_t> dword(std::u16string_view location) {
    return tryReadRegistryDword(*device, location);
  }
  std::optional<std::u16string> text(std::u16string_view location) {
    return tryReadRegistryString(*device, location);
  }
  // Registry values the device holds before the run (call before start).
  void setDword(std::u16string_view location, std::uint32_t value) {
    ASSERT_EQ(device, nullptr) << "registry presets go before start()";
    writeRegistryDword(*image.platform(), location, value);
  }
  void setString(std::u16string_view location, std::u16string_view value) {
    ASSERT_EQ(device, nullptr) << "registry presets go before start()";
    writeRegistryString(*image.platform(), location, value);
  }

  // Trace entries of one kind, and their positions in the whole trace.
  std::vector<nlohmann::json> traced(const std::string& op) const {
    std::vector<nlohmann::json> found;
    for (const nlohmann::json& entry : device->trace()) {
      if (entry.value("op", "") == op) found.push_back(entry);
    }
    return found;
  }
  // Index in the trace of the first entry of `op` whose `field` equals `value`; -1 if none.
  long indexOf(const std::string& op, const std::string& field, const nlohmann::json& value,
               std::size_t from = 0) const {
    const auto& trace = device->trace();
    for (std::size_t i = from; i < trace.size(); ++i) {
      if (trace[i].value("op", "") == op && trace[i].contains(field) && trace[i][field] == value) {
        return static_cast<long>(i);
      }
    }
    return -1;
  }
  std::size_t count(const std::string& op) const { return traced(op).size(); }
  // The texts of every message box and question, in order.
  std::vector<std::string> dialogTexts() const {
    std::vector<std::string> texts;
    for (const nlohmann::json& entry : device->trace()) {
      const std::string op = entry.value("op", "");
      if (op == "message_box" || op == "question") texts.push_back(entry.value("text", ""));
    }
    return texts;
  }
  std::vector<int> progress() const {
    std::vector<int> positions;
    for (const nlohmann::json& entry : traced("progress")) positions.push_back(entry["position"]);
    return positions;
  }
  std::size_t statusDialogsOpened() const {
    std::size_t opened = 0;
    for (const nlohmann::json& entry : traced("open_dialog")) {
      if (entry.value("template", 0) == 109 && entry.value("ok", false)) ++opened;
    }
    return opened;
  }
  std::vector<std::string> programsStarted() const {
    std::vector<std::string> paths;
    for (const nlohmann::json& entry : traced("shell_open")) paths.push_back(entry["path"]);
    return paths;
  }

  std::string configuration = kAtlasConfiguration;
  DeviceImage image;
  std::unique_ptr<sim::SimPlatform> device;
  std::unique_ptr<WatchedPlatform> faults;
  std::unique_ptr<InstallerContext> context;
};

}  // namespace autorun::testing
