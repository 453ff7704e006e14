// Writing and reading whole files through any platform, for the tests of the simulated
// device and the contract tests (which are also built for Windows: standard library and
// the platform interface only).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform_services.h"

namespace autorun::testing {

// Everything from the position to the end, in small reads so that short reads are taken too.
inline std::string readAll(File& file) {
  std::string bytes;
  char buffer[7];
  std::uint32_t got = 0;
  while (file.read(buffer, sizeof buffer, got) && got > 0) bytes.append(buffer, got);
  return bytes;
}

// Makes or truncates the file and writes `bytes`; false when any of that fails.
inline bool writeFile(PlatformServices& platform, const std::u16string& path,
                      std::string_view bytes) {
  auto file = platform.openFile(path, FileOpenMode::WriteTruncate);
  if (!file) return false;
  std::uint32_t written = 0;
  return file->write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written) &&
         written == bytes.size();
}

}  // namespace autorun::testing
