#include "support/device_image.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/config_codec.h"
#include "host_text/utf.h"
#include "support/test_keys.h"

namespace autorun::testing {

namespace {

void writeBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

std::string encipherConfiguration(std::string_view utf8Text) {
  std::string withCr;
  for (std::size_t i = 0; i < utf8Text.size(); ++i) {
    if (utf8Text[i] == '\n' && (i == 0 || utf8Text[i - 1] != '\r')) withCr.push_back('\r');
    withCr.push_back(utf8Text[i]);
  }
  const std::u16string text = u"\xFEFF" + host::fromUtf8(withCr);
  std::string plain;
  for (char16_t c : text) {
    plain.push_back(static_cast<char>(c & 0xFF));
    plain.push_back(static_cast<char>(c >> 8));
  }
  ConfigFileCodec codec(reinterpret_cast<const std::uint8_t*>(kTestKey.data()),
                        static_cast<std::uint32_t>(kTestKey.size()));
  ByteCodec::Buffer output;
  std::uint32_t outputCount = 0;
  if (!codec.encode(reinterpret_cast<const std::uint8_t*>(plain.data()),
                    static_cast<std::uint32_t>(plain.size()), output, outputCount)) {
    throw std::runtime_error("the configuration codec failed");
  }
  return std::string(reinterpret_cast<const char*>(output.get()), outputCount);
}

DeviceImage::DeviceImage() {
  std::string pattern = (std::filesystem::temp_directory_path() / "autorun-device-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a temporary folder");
  dir_ = pattern;
  for (const char* folder :
       {"Storage Card", "Windows/Start Menu/Programs", "My Documents", "Program Files"}) {
    std::filesystem::create_directories(dir_ / "fs" / folder);
  }
  writeRegistry("Windows Registry Editor Version 5.00\n");
}

DeviceImage::~DeviceImage() {
  std::error_code error;
  std::filesystem::remove_all(dir_, error);
}

std::filesystem::path DeviceImage::hostPath(std::u16string_view devicePath) const {
  std::string relative = host::toUtf8(devicePath);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  return dir_ / "fs" / relative;
}

void DeviceImage::writeFile(std::u16string_view devicePath, std::string_view bytes) {
  const std::filesystem::path file = hostPath(devicePath);
  std::filesystem::create_directories(file.parent_path());
  writeBytes(file, bytes);
}

void DeviceImage::makeFolder(std::u16string_view devicePath) {
  std::filesystem::create_directories(hostPath(devicePath));
}

std::optional<std::string> DeviceImage::readFile(std::u16string_view devicePath) const {
  std::ifstream in(hostPath(devicePath), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool DeviceImage::exists(std::u16string_view devicePath) const {
  std::error_code error;
  return std::filesystem::exists(hostPath(devicePath), error);
}

void DeviceImage::writeConfiguration(std::string_view utf8Text, std::u16string_view devicePath) {
  writeFile(devicePath, encipherConfiguration(utf8Text));
}

void DeviceImage::writeDeviceJson(const nlohmann::json& device) {
  writeBytes(dir_ / "device.json", device.dump(2) + "\n");
}

std::string DeviceImage::registryText() const {
  std::ifstream in(dir_ / "registry.reg", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void DeviceImage::writeRegistry(std::string_view text) {
  writeBytes(dir_ / "registry.reg", text);
}

std::unique_ptr<autorun::sim::SimPlatform> DeviceImage::platform(
    autorun::sim::SimOptions options) const {
  options.deviceDir = dir_;
  return std::make_unique<autorun::sim::SimPlatform>(std::move(options));
}

}  // namespace autorun::testing
