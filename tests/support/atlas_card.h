// The Atlas navigation application as the tests' cards carry it: the registry locations its
// configurations name, where its executable lies on the card and once installed, and
// stand-ins for that executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace autorun::testing {

inline constexpr char16_t kInstalledMark[] = u"HKLM\\Software\\Atlas\\Installed";
inline constexpr char16_t kVolume[] = u"HKCU\\Software\\Atlas\\Volume";
inline constexpr char16_t kLastCity[] = u"HKCU\\Software\\Atlas\\LastCity";

inline constexpr char16_t kCardExe[] = u"\\Storage Card\\Atlas\\atlas.exe";
inline constexpr char16_t kInstalledExe[] = u"\\Program Files\\Atlas\\atlas.exe";

// The bytes of a stand-in executable of `size` bytes (at least 4) with `stamp` as its last
// four.
inline std::string fakeExecutable(std::uint32_t stamp, std::size_t size = 1024) {
  std::string bytes(size, '\x90');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) {
    bytes[size - 4 + i] = static_cast<char>((stamp >> (8 * i)) & 0xFF);
  }
  return bytes;
}

}  // namespace autorun::testing
