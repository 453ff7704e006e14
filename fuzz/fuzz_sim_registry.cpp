// The simulated device's registry file reader. Whatever it accepts it must write back so
// that a second read gives the same registry: every value survives a rewrite.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  autorun::sim::RegistryTree tree;
  try {
    tree = autorun::sim::parseRegistryText(text, "registry.reg");
  } catch (const autorun::sim::SimError& error) {
    FUZZ_CHECK(std::string_view(error.what()).substr(0, 13) == "registry.reg:");
    return 0;
  }
  const std::string written = autorun::sim::formatRegistryText(tree);
  autorun::sim::RegistryTree again;
  try {
    again = autorun::sim::parseRegistryText(written, "rewritten.reg");
  } catch (const autorun::sim::SimError& error) {
    std::fprintf(stderr, "the rewritten registry does not read back: %s\n", error.what());
    std::abort();
  }
  FUZZ_CHECK(autorun::sim::formatRegistryText(again) == written);
  return 0;
}
