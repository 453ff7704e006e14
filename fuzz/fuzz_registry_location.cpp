// The registry location parser ("HKLM\Software\Atlas\Value"), and the split of its key
// path that the simulated registry makes before it creates or opens the key.
//
// Input: UTF-16LE code units.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "actions/registry_actions.h"
#include "fuzz_check.h"
#include "platform/sim/sim_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  const autorun::RegistryLocation location = autorun::parseRegistryLocation(text);
  if (!location.root) {
    FUZZ_CHECK(location.keyPath.empty() && location.name.empty());
    return 0;
  }
  // What was parsed is exactly the text: root name, separator, key path, "\", name.
  FUZZ_CHECK(text.size() <= autorun::kMaxPathLength);
  const std::u16string_view root(text.data(), 4);
  FUZZ_CHECK(root == u"HKLM" || root == u"HKCU" || root == u"HKUS");
  FUZZ_CHECK(text[4] == u'\\');
  FUZZ_CHECK(text.substr(5) == location.keyPath + u"\\" + location.name);
  FUZZ_CHECK(location.name.find(u'\\') == std::u16string::npos);

  std::vector<std::u16string> components;
  if (autorun::sim::splitKeyPath(location.keyPath, components)) {
    std::u16string joined;
    for (const std::u16string& component : components) {
      FUZZ_CHECK(autorun::sim::isStorableKeyName(component));
      if (!joined.empty()) joined += u'\\';
      joined += component;
    }
    FUZZ_CHECK(joined == location.keyPath);
  }
  (void)autorun::sim::isStorableValueName(location.name);
  return 0;
}
