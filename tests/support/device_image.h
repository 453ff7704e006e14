// A device image in a fresh temporary folder, for tests that run the installer's core on
// the simulated device. Removed again when the object goes.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/sim/sim_platform.h"

namespace autorun::testing {

class DeviceImage {
 public:
  // fs/ with "Storage Card", "Windows", "Windows/Start Menu/Programs", "My Documents" and
  // "Program Files", and a registry file holding only its header line.
  DeviceImage();
  ~DeviceImage();
  DeviceImage(const DeviceImage&) = delete;
  DeviceImage& operator=(const DeviceImage&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // fs/ and the device path with backslashes turned into '/', as written (no case
  // matching; use SimPlatform::hostPath for that).
  std::filesystem::path hostPath(std::u16string_view devicePath) const;

  // Writes a file, making its folders.
  void writeFile(std::u16string_view devicePath, std::string_view bytes);
  void makeFolder(std::u16string_view devicePath);
  std::optional<std::string> readFile(std::u16string_view devicePath) const;
  bool exists(std::u16string_view devicePath) const;

  // Writes a configuration file as the installer reads it: the UTF-8 text with every LF
  // that has no CR before it turned into CR LF, as UTF-16LE with byte-order mark,
  // enciphered under the configuration key.
  void writeConfiguration(std::string_view utf8Text,
                          std::u16string_view devicePath = u"\\Storage Card\\2577\\autorun_8.qlm");

  void writeDeviceJson(const nlohmann::json& device);
  std::string registryText() const;
  void writeRegistry(std::string_view text);

  // A simulated device over this image (options.deviceDir is filled in).
  std::unique_ptr<autorun::sim::SimPlatform> platform(autorun::sim::SimOptions options = {}) const;

 private:
  std::filesystem::path dir_;
};

// The bytes of a configuration file holding this text (see writeConfiguration).
std::string encipherConfiguration(std::string_view utf8Text);

}  // namespace autorun::testing
