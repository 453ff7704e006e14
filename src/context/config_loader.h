// Finding and loading the configuration at start-up, and preparing the message texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace autorun {

struct InstallerContext;
class ConfigStore;

inline constexpr std::u16string_view kConfigurationFileName = u"autorun_8.qlm";
inline constexpr std::u16string_view kAutorunFolderName = u"2577";
inline constexpr std::uint64_t kMaxConfigurationFileSize = 100000;

// load results
inline constexpr int kLoadOk = 0;
inline constexpr int kLoadCannotOpen = 1;
inline constexpr int kLoadInvalid = 3;
inline constexpr int kLoadPreinstalled = 4;

int loadConfiguration(InstallerContext& context);
int loadConfigurationFile(InstallerContext& context, std::u16string path);
std::u16string findConfigurationFile(InstallerContext& context);
int folderIdFromName(std::u16string_view name);
// Fills the brand ("common/brand") and the website ("common/website") into the first "%s"
// of the message texts, in their fixed order. Texts without an entry stay without one.
void fillMessageTexts(ConfigStore& store);
// The fatal message for a load result.
std::u16string fatalLoadMessage(int loadResult);

}  // namespace autorun
