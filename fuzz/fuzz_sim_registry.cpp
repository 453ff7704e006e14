// The simulated device's registry file reader, in each encoding it reads (UTF-8, UTF-16LE
// after its mark, "REGEDIT4" in the device's code page). Whatever it accepts it must write
// back in the encoding it was read in, so that a second read gives the same registry and
// the same encoding: every value survives a rewrite.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // A code page with unassigned bytes and letters beyond ASCII.
  constexpr int kCodePage = 1251;
  autorun::sim::RegistryTree tree;
  autorun::sim::RegistryFormat format;
  try {
    tree = autorun::sim::parseRegistryText(text, "registry.reg", kCodePage, &format);
  } catch (const autorun::sim::SimError& error) {
    FUZZ_CHECK(std::string_view(error.what()).substr(0, 13) == "registry.reg:");
    return 0;
  }
  // What was read in an encoding can be written in it.
  const std::optional<std::string> written = autorun::sim::formatRegistryText(tree, format);
  FUZZ_CHECK(written.has_value());
  autorun::sim::RegistryTree again;
  autorun::sim::RegistryFormat againFormat;
  try {
    again = autorun::sim::parseRegistryText(*written, "rewritten.reg", kCodePage, &againFormat);
  } catch (const autorun::sim::SimError& error) {
    std::fprintf(stderr, "the rewritten registry does not read back: %s\n", error.what());
    std::abort();
  }
  FUZZ_CHECK(againFormat == format);
  FUZZ_CHECK(autorun::sim::formatRegistryText(again, format) == written);
  return 0;
}
