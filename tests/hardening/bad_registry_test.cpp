// The device image's registry.reg made by other tools, by hand or by an attacker: what each
// must give. The table is the one in the README ("What happens when ... the device's
// registry file is unusual").
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "flows/install_flow.h"

#include "hardening/bad_input_support.h"
#include "hardening/hardening_fixture.h"

namespace autorun::testing::hardening {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00\n\n";

// Large enough that reading in time that grows faster than the size would show (36 s and
// 8 s once); smaller under the sanitizers, where the point is the memory checks.
#if defined(AUTORUN_SANITIZED)
constexpr std::size_t kBinaryBytes = 256u << 10;
constexpr int kSiblingKeys = 10000;
#else
constexpr std::size_t kBinaryBytes = 1u << 20;
constexpr int kSiblingKeys = 40000;
#endif

std::string deepKey(std::size_t levels) {
  std::string path = "HKEY_LOCAL_MACHINE\\A";
  for (std::size_t i = 1; i < levels; ++i) path += "\\k";
  return path;
}

struct RegistryFileCase {
  const char* what;
  std::function<std::string()> file;
  int refusedAtLine;         // 0: the image loads
  std::string_view message;  // refused: part of the message; loaded: unused
  // Loaded: the key below HKLM holding "x", and x's bytes.
  std::u16string key = u"A";
  std::function<std::vector<std::uint8_t>()> x = {};
};

std::vector<std::uint8_t> bytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

const RegistryFileCase kRegistryFiles[] = {
    {"the registry editor's export (UTF-16LE, its mark, CR LF)",
     [] {
       return utf16(withCrLf(std::string(kHeader5) + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"Атлас\"\n"));
     },
     0, "", u"A",
     [] { return bytesOf(std::string_view("\x10\x04\x42\x04\x3b\x04\x30\x04\x41\x04\0\0", 12)); }},
    {"UTF-16 big-endian", [] { return std::string("\xFE\xFF\0W", 4); }, 1, "big-endian"},
    {"UTF-16 without its mark", [] { return utf16(u"Windows Registry", false); }, 1,
     "without a byte-order mark"},
    {"another first line", [] { return std::string("REGEDIT5\n"); }, 1, "found \"REGEDIT5\""},
    {"a first line in UTF-16 that is not the header",
     [] { return utf16(u"Windows Registry Editor Version 4.00\r\n"); }, 1,
     "found \"Windows Registry Editor Version 4.00\""},
    {"\"x\"=hex: \\ then a blank line at the end",
     [] { return std::string(kHeader5) + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex: \\\n\n"; }, 5,
     "ends inside a continued hex list"},
    {"\"x\"=hex: \\ then a blank line and another value",
     [] {
       return std::string(kHeader5) + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex: \\\n\n\"y\"=dword:1\n";
     },
     6, "does not start with hex bytes"},
    {"\"x\"=hex:01,\\ then a blank line, a comment and 02",
     [] {
       return std::string(kHeader5) + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n\n; note\n  02\n";
     },
     0, "", u"A",
     [] {
       return std::vector<std::uint8_t>{1, 2};
     }},
    {"a key 512 levels deep",
     [] {
       return std::string(kHeader5) + "[" + deepKey(512) +
              "]\n"
              "\"x\"=dword:00000001\n";
     },
     0, "",
     [] {
       std::u16string key = u"A";
       for (int i = 1; i < 512; ++i) key += u"\\k";
       return key;
     }(),
     [] {
       return std::vector<std::uint8_t>{1, 0, 0, 0};
     }},
    {"a key 513 levels deep", [] { return std::string(kHeader5) + "[" + deepKey(513) + "]\n"; }, 3,
     "513 levels deep"},
    {"a key 200000 levels deep",
     [] { return std::string(kHeader5) + "[" + deepKey(200000) + "]\n"; }, 3, "200000 levels deep"},
    {"a binary value of 1 MiB (256 KiB under the sanitizers)",
     [] {
       std::string text = std::string(kHeader5) + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:00";
       for (std::size_t i = 1; i < kBinaryBytes; ++i) text += i % 25 == 0 ? ",\\\n  00" : ",00";
       return text + "\n";
     },
     0, "", u"A", [] { return std::vector<std::uint8_t>(kBinaryBytes, 0); }},
    {"40000 sibling keys (10000 under the sanitizers)",
     [] {
       std::string text(kHeader5);
       for (int i = 0; i < kSiblingKeys; ++i) {
         text += "[HKEY_LOCAL_MACHINE\\A\\K" + std::to_string(i) + "]\n\"x\"=dword:00000007\n";
       }
       return text;
     },
     0, "", std::u16string(u"A\\k") + host::fromUtf8(std::to_string(kSiblingKeys - 1)),
     [] {
       return std::vector<std::uint8_t>{7, 0, 0, 0};
     }},
};

TEST(BadInput, RegistryFiles) {
  for (const RegistryFileCase& c : kRegistryFiles) {
    SCOPED_TRACE(std::string("registry.reg: ") + c.what);
    DeviceImage image;
    const std::string file = c.file();
    image.writeRegistry(file);
    if (c.refusedAtLine != 0) {
      const std::string where =
          (image.dir() / "registry.reg").string() + ":" + std::to_string(c.refusedAtLine) + ":";
      try {
        image.platform();
        ADD_FAILURE() << "the image loaded";
      } catch (const sim::SimError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind(where, 0), 0u) << message;
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
      }
      EXPECT_EQ(image.registryText(), file);
      continue;
    }
    const auto device = image.platform();
    const auto key = device->openKey(RegistryRoot::LocalMachine, c.key);
    ASSERT_NE(key, nullptr);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(key->queryValue(u"x", type, data));
    EXPECT_EQ(data, c.x());
  }
}

// A read-only registry.reg is the registry of a device whose registry cannot be written:
// the installation runs as it does when registry writes fail, and the file stays as it was.
TEST(BadInput, AReadOnlyRegistryFileIsNotReplaced) {
  DeviceImage image;
  writeCardAndBystanders(image);
  const std::filesystem::path file = image.dir() / "registry.reg";
  const std::string before = image.registryText();
  const auto readOnly = std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                        std::filesystem::perms::others_read;
  std::filesystem::permissions(file, readOnly);
  sim::SimOptions options;
  options.answers = {true};
  const auto device = image.platform(options);
  const auto context = loadInstaller(*device);
  ASSERT_NE(context, nullptr);
  runInstall(*context, true);
  EXPECT_EQ(image.registryText(), before);
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all, readOnly);
  EXPECT_EQ(device->openKey(RegistryRoot::LocalMachine, u"Software\\Atlas"), nullptr);
}

}  // namespace
}  // namespace autorun::testing::hardening
