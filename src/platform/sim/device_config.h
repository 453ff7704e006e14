// DIR/device.json: what the simulated device is like beyond its files and registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autorun::sim {

struct SimWindowSetup {
  std::u16string windowClass;
  std::u16string title;
  bool closes = true;        // a close request makes it go away
  bool processExits = true;  // its process ends within a wait
};

struct DeviceConfig {
  // Storage-card folder names in enumeration order; nothing = the default (the root
  // folder "Storage Card" when it exists).
  std::optional<std::vector<std::u16string>> cards;
  // Special folder number -> device path.
  std::map<int, std::u16string> specialFolders = {
      {2, u"\\Windows\\Start Menu\\Programs"},
      {5, u"\\My Documents"},
      {36, u"\\Windows"},
      {38, u"\\Program Files"},
  };
  // Free bytes reported for every volume: unset = the host volume's real figure,
  // set to nothing = the device cannot tell.
  std::optional<std::optional<std::uint64_t>> freeBytes;
  std::vector<SimWindowSetup> windows;
  int dialogClientWidth = 240;
  int dialogClientHeight = 268;
  int codePage = 1252;
};

// More than any description holds: a larger device.json is refused unread.
inline constexpr std::size_t kMaxDeviceConfigBytes = std::size_t{16} << 20;

// Parses the text of a device.json; `fileName` names it in errors. Throws SimError on
// malformed JSON (with line and column), unknown fields and wrong types.
DeviceConfig parseDeviceConfig(std::string_view text, const std::string& fileName);

}  // namespace autorun::sim
