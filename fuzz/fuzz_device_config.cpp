// The simulated device's device.json reader: anything but a well-formed description is
// refused with a SimError naming the file, never with another exception or a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "host_text/code_pages.h"
#include "platform/sim/device_config.h"
#include "platform/sim/sim_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const autorun::sim::DeviceConfig config = autorun::sim::parseDeviceConfig(text, "device.json");
    FUZZ_CHECK(autorun::host::isSupportedCodePage(config.codePage));
    FUZZ_CHECK(config.dialogClientWidth >= 1 && config.dialogClientHeight >= 1);
    for (const auto& [number, path] : config.specialFolders) {
      FUZZ_CHECK(!path.empty() && path.front() == u'\\');
    }
  } catch (const autorun::sim::SimError& error) {
    FUZZ_CHECK(std::string_view(error.what()).substr(0, 12) == "device.json:");
  }
  return 0;
}
