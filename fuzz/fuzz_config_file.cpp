// The configuration file on the card, the way the installer loads it at start: opened,
// size-checked, deciphered and parsed, then judged and its message texts filled.
//
// Input: one mode byte, then the file. Mode bit 0 set: the rest is a plain text that is
// enciphered under the configuration key first, so that the parser sees what the fuzzer
// wrote; clear: the rest is the file as it lies on the card. Bit 1: the same file also lies
// in the system folder (the preinstalled check reads it). Bit 2: the command line is
// "uninstall" (no message box on failure).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/config_codec.h"
#include "configuration_key.h"
#include "context/config_loader.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "fuzz_check.h"
#include "support/memory_platform.h"

namespace {

const std::uint8_t* keyBytes() {
  return reinterpret_cast<const std::uint8_t*>(autorun::kConfigurationKey);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  std::vector<std::uint8_t> file(data + 1, data + size);
  if ((mode & 1) != 0 && !file.empty()) {
    autorun::ConfigFileCodec codec(keyBytes(), autorun::kConfigurationKeyLength);
    autorun::ByteCodec::Buffer out;
    std::uint32_t count = 0;
    FUZZ_CHECK(codec.encode(file.data(), static_cast<std::uint32_t>(file.size()), out, count));
    FUZZ_CHECK(count == file.size());
    file.assign(out.get(), out.get() + count);
  }

  autorun::testing::MemoryPlatform platform;
  platform.files[u"\\Storage Card\\2577\\autorun_8.qlm"] = file;
  if ((mode & 2) != 0) platform.files[u"\\Windows\\autorun_8.qlm"] = file;

  autorun::InstallerContext context(
      platform, std::string(autorun::kConfigurationKey, autorun::kConfigurationKeyLength));
  context.moduleHandle = 1;
  context.commandLine = (mode & 4) != 0 ? u"uninstall" : u"install";

  const int result = autorun::loadConfiguration(context);
  FUZZ_CHECK(result == autorun::kLoadOk || result == autorun::kLoadCannotOpen ||
             result == autorun::kLoadInvalid || result == autorun::kLoadPreinstalled);
  if (file.size() > autorun::kMaxConfigurationFileSize) {
    FUZZ_CHECK(result == autorun::kLoadCannotOpen || result == autorun::kLoadPreinstalled);
  }
  // The fatal message goes out exactly when loading failed and the command is not uninstall.
  const bool failed = result == autorun::kLoadCannotOpen || result == autorun::kLoadInvalid ||
                      (result == autorun::kLoadPreinstalled && !platform.boxes.empty());
  FUZZ_CHECK(platform.boxes.size() == ((failed && (mode & 4) == 0) ? 1u : 0u));
  if (result == autorun::kLoadOk) {
    FUZZ_CHECK(context.config.hasKey(u"common/brand") && context.config.hasKey(u"common/website"));
    autorun::publishFolderVariables(context);
  }
  return 0;
}
