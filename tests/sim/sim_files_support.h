// What the tests of the simulated device's files share: reading, writing and listing
// through the platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_services.h"
#include "support/platform_files.h"

namespace autorun::sim::files_test {

using autorun::testing::readAll;
using autorun::testing::writeFile;

inline std::u16string narrowToWide(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

inline std::vector<std::u16string> enumerate(PlatformServices& platform,
                                             const std::u16string& pattern) {
  std::vector<std::u16string> names;
  FindEntry entry;
  auto search = platform.findFirstFile(pattern, entry);
  if (!search) return names;
  do {
    names.push_back(entry.name);
  } while (search->next(entry));
  return names;
}

}  // namespace autorun::sim::files_test
