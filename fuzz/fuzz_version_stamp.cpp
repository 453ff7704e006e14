// The version stamp reader: the application's executable, signed (a certificate-table
// entry in its first 512 bytes) or not.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "flows/upgrade_flow.h"
#include "fuzz_check.h"
#include "support/memory_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  autorun::testing::MemoryPlatform platform;
  const std::u16string path = u"\\Program Files\\Atlas\\atlas.exe";
  platform.files[path] = std::vector<std::uint8_t>(data, data + size);

  std::uint32_t stamp = 0;
  const bool read = autorun::readVersionStamp(platform, path, stamp);

  std::unique_ptr<autorun::File> file = platform.openFile(path, autorun::FileOpenMode::ReadShared);
  const std::uint32_t entry = autorun::findCertificateEntry(*file);
  FUZZ_CHECK(entry % 4 == 0 && entry < 512);
  FUZZ_CHECK(entry == 0 || size >= 512);
  // An unsigned file of at least 4 bytes always has its stamp in the last four.
  if (entry == 0 && size >= 4) {
    FUZZ_CHECK(read);
    const std::uint32_t last = static_cast<std::uint32_t>(data[size - 4]) |
                               (static_cast<std::uint32_t>(data[size - 3]) << 8) |
                               (static_cast<std::uint32_t>(data[size - 2]) << 16) |
                               (static_cast<std::uint32_t>(data[size - 1]) << 24);
    FUZZ_CHECK(stamp == last);
  }
  if (size < 4) FUZZ_CHECK(!read);
  return 0;
}
