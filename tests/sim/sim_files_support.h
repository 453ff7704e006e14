// What the tests of the simulated device's files share: reading, writing and listing
// through the platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_services.h"

namespace autorun::sim::files_test {

inline std::string readAll(File& file) {
  std::string bytes;
  char buffer[7];
  std::uint32_t got = 0;
  while (file.read(buffer, sizeof buffer, got) && got > 0) bytes.append(buffer, got);
  return bytes;
}

inline bool writeAll(PlatformServices& platform, const std::u16string& path,
                     std::string_view bytes) {
  auto file = platform.openFile(path, FileOpenMode::WriteTruncate);
  if (!file) return false;
  std::uint32_t written = 0;
  return file->write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written) &&
         written == bytes.size();
}

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
