// Bad logos and executables on a hand-made card, and what each must give: a logo that
// cannot be read leaves the one loaded before, a stamp that cannot be read offers no
// update. The tables here are the ones in the README ("What happens when ...").
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "base/logo_image.h"
#include "flows/card_flows.h"
#include "flows/install_flow.h"
#include "flows/upgrade_flow.h"

#include "hardening/bad_input_support.h"
#include "hardening/hardening_fixture.h"

namespace autorun::testing::hardening {
namespace {

// ---- Logos -----------------------------------------------------------------------------------

struct Bmp {
  std::int32_t width = 4;
  std::int32_t height = 4;
  std::uint16_t depth = 24;
  std::uint32_t compression = 0;
  std::uint32_t pixelOffset = 0;   // 0: right after the colour table
  std::int64_t tableEntries = -1;  // -1: 2^depth for depths up to 8
  std::int64_t pixelBytes = -1;    // -1: all rows

  std::string build() const {
    std::string out;
    auto put = [&out](std::uint32_t value, int bytes) {
      for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const std::int64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    const std::int64_t stride = (static_cast<std::int64_t>(depth) * width + 31) / 32 * 4;
    const std::int64_t table = tableEntries >= 0 ? tableEntries : (depth <= 8 ? 1 << depth : 0);
    const std::int64_t pixels = pixelBytes >= 0 ? pixelBytes : stride * rows;
    const std::uint32_t offset =
        pixelOffset != 0 ? pixelOffset : static_cast<std::uint32_t>(54 + 4 * table);
    out += "BM";
    put(static_cast<std::uint32_t>(offset + pixels), 4);
    put(0, 4);
    put(offset, 4);
    put(40, 4);
    put(static_cast<std::uint32_t>(width), 4);
    put(static_cast<std::uint32_t>(height), 4);
    put(1, 2);
    put(depth, 2);
    put(compression, 4);
    for (int i = 0; i < 5; ++i) put(0, 4);
    for (std::int64_t i = 0; i < 4 * table; ++i) out.push_back(static_cast<char>(i));
    while (out.size() < offset && pixelOffset != 0 && pixelOffset < (1u << 20)) out.push_back(0);
    for (std::int64_t i = 0; i < pixels; ++i) out.push_back(static_cast<char>(i * 3));
    return out;
  }
};

std::string bmp(const std::function<void(Bmp&)>& change = {}) {
  Bmp b;
  if (change) change(b);
  return b.build();
}

struct LogoCase {
  const char* what;
  std::function<std::optional<std::string>()> file;  // nothing: no file at all
  int result;
};

const LogoCase kLogos[] = {
    {"a sound 4 x 4, 24-bit logo", [] { return bmp(); }, LogoImage::kLoaded},
    {"no file", [] { return std::nullopt; }, LogoImage::kCannotOpen},
    {"an empty file", [] { return std::string(); }, LogoImage::kNotABitmap},
    {"only \"BM\"", [] { return std::string("BM"); }, LogoImage::kNotABitmap},
    {"another signature", [] { return "MB" + bmp().substr(2); }, LogoImage::kNotABitmap},
    {"a file header cut short", [] { return bmp().substr(0, 10); }, LogoImage::kNotABitmap},
    {"an info header cut short", [] { return bmp().substr(0, 30); }, LogoImage::kNotABitmap},
    {"depth 0", [] { return bmp([](Bmp& b) { b.depth = 0; }); }, LogoImage::kNotABitmap},
    {"depth 3", [] { return bmp([](Bmp& b) { b.depth = 3; }); }, LogoImage::kNotABitmap},
    {"depth 64", [] { return bmp([](Bmp& b) { b.depth = 64; }); }, LogoImage::kNotABitmap},
    {"run-length compression",
     [] {
       return bmp([](Bmp& b) {
         b.depth = 8;
         b.compression = 1;
       });
     },
     LogoImage::kNotABitmap},
    {"bit-field compression",
     [] {
       return bmp([](Bmp& b) {
         b.depth = 16;
         b.compression = 3;
       });
     },
     LogoImage::kNotABitmap},
    {"a negative width", [] { return bmp([](Bmp& b) { b.width = -4; }); }, LogoImage::kNotABitmap},
    {"the most negative height",
     [] {
       return bmp([](Bmp& b) {
         b.height = INT32_MIN;
         b.pixelBytes = 16;
       });
     },
     LogoImage::kNotABitmap},
    {"100000 x 100000 pixels",
     [] {
       return bmp([](Bmp& b) {
         b.width = 100000;
         b.height = 100000;
         b.pixelBytes = 16;
       });
     },
     LogoImage::kNotABitmap},
    {"a row size beyond 32 bits and no rows",
     [] {
       return bmp([](Bmp& b) {
         b.width = 0x36000000;
         b.height = 0;
         b.pixelBytes = 0;
       });
     },
     LogoImage::kNotABitmap},
    {"pixels that lie beyond the end",
     [] {
       return bmp([](Bmp& b) {
         b.pixelOffset = 0x7FFFFFF0u;
         b.pixelBytes = 0;
       });
     },
     LogoImage::kNotABitmap},
    {"pixels cut short", [] { return bmp([](Bmp& b) { b.pixelBytes = 20; }); },
     LogoImage::kNotABitmap},
    {"a colour table cut short",
     [] {
       return bmp([](Bmp& b) {
         b.depth = 8;
         b.tableEntries = 10;
         b.pixelBytes = 0;
       });
     },
     LogoImage::kNotABitmap},
    {"16 bits per pixel and no colour table", [] { return bmp([](Bmp& b) { b.depth = 16; }); },
     LogoImage::kLoaded},
    {"8 bits per pixel and a palette of 16 colours",
     [] {
       return bmp([](Bmp& b) {
         b.depth = 8;
         b.tableEntries = 16;
       });
     },
     LogoImage::kLoaded},
    {"no rows (height 0)", [] { return bmp([](Bmp& b) { b.height = 0; }); }, LogoImage::kLoaded},
    {"rows top-down (negative height)", [] { return bmp([](Bmp& b) { b.height = -4; }); },
     LogoImage::kLoaded},
};

TEST(BadInput, Logos) {
  for (const LogoCase& c : kLogos) {
    SCOPED_TRACE(std::string("a logo with ") + c.what);
    DeviceImage image;
    image.writeFile(u"\\Storage Card\\good.bmp", bmp([](Bmp& b) {
                      b.width = 2;
                      b.height = 2;
                    }));
    const std::optional<std::string> file = c.file();
    if (file) image.writeFile(u"\\Storage Card\\logo.bmp", *file);
    const auto device = image.platform();
    // A logo already loaded stays as it was when the next one cannot be read.
    LogoImage logo;
    ASSERT_EQ(logo.load(*device, u"\\Storage Card\\good.bmp"), LogoImage::kLoaded);
    EXPECT_EQ(logo.load(*device, u"\\Storage Card\\logo.bmp"), c.result);
    if (c.result != LogoImage::kLoaded) {
      EXPECT_EQ(logo.width(), 2);
      EXPECT_EQ(logo.height(), 2);
    }
  }
}

// The install question with a broken logo: asked all the same, with the built-in picture.
TEST(BadInput, ABrokenLogoDoesNotStopTheInstallation) {
  DeviceImage image;
  writeCardAndBystanders(image);
  image.writeFile(u"\\Storage Card\\Atlas\\logo.bmp", bmp([](Bmp& b) { b.width = -1; }));
  sim::SimOptions options;
  options.answers = {true};
  const auto device = image.platform(options);
  const auto context = loadInstaller(*device);
  ASSERT_NE(context, nullptr);
  EXPECT_TRUE(runInstall(*context, true));
  EXPECT_FALSE(context->questionLogo.loaded());
  EXPECT_TRUE(image.exists(kInstalledExe));
}

// ---- Executables and their version stamps -----------------------------------------------------

struct ExecutableCase {
  const char* what;
  std::function<std::string()> file;
  std::optional<std::uint32_t> stamp;  // nothing: no stamp can be read
};

// A 1024-byte executable whose last four bytes are 0x11111111; with `entryWord`, the
// certificate-table entry (offset, size 0x460) lies in that word pair of the header, and
// 0x22222222 stands 8 bytes before `tableOffset`.
std::string executable(int entryWord = -1, std::uint32_t tableOffset = 0, std::size_t size = 1024) {
  std::string bytes(size, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  auto put = [&bytes](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4 && at + i < bytes.size(); ++i)
      bytes[at + i] = static_cast<char>(value >> (8 * i));
  };
  if (size >= 4) put(size - 4, 0x11111111);
  if (entryWord >= 0) {
    put(4 * entryWord, 0x460);
    if (entryWord > 0) put(4 * (entryWord - 1), tableOffset);
    if (tableOffset >= 8 && tableOffset - 8 < size) put(tableOffset - 8, 0x22222222);
  }
  return bytes;
}

const ExecutableCase kExecutables[] = {
    {"no certificate entry", [] { return executable(); }, 0x11111111},
    {"an entry pointing inside the file", [] { return executable(40, 800); }, 0x22222222},
    {"an entry in the last header word", [] { return executable(127, 800); }, 0x22222222},
    {"an entry with offset 0", [] { return executable(40, 0); }, 0x11111111},
    {"an entry in word 0", [] { return executable(0, 0); }, 0x11111111},
    {"an entry pointing before its stamp's room", [] { return executable(40, 4); }, std::nullopt},
    {"an entry pointing past the end", [] { return executable(40, 5000); }, std::nullopt},
    {"an entry pointing at the last byte", [] { return executable(40, 1023 + 8); }, std::nullopt},
    {"an entry pointing at 4 GB", [] { return executable(40, 0xFFFFFFFFu); }, std::nullopt},
    {"511 bytes (no whole header)", [] { return executable(40, 800, 511); }, 0x11111111},
    {"3 bytes", [] { return std::string("MZ\x01"); }, std::nullopt},
    {"0 bytes", [] { return std::string(); }, std::nullopt},
};

TEST(BadInput, Executables) {
  for (const ExecutableCase& c : kExecutables) {
    SCOPED_TRACE(std::string("an executable with ") + c.what);
    DeviceImage image;
    image.writeFile(u"\\Storage Card\\Atlas\\atlas.exe", c.file());
    const auto device = image.platform();
    std::uint32_t stamp = 0;
    const bool read = readVersionStamp(*device, u"\\Storage Card\\Atlas\\atlas.exe", stamp);
    EXPECT_EQ(read, c.stamp.has_value());
    if (c.stamp && read) {
      EXPECT_EQ(stamp, *c.stamp);
    }
  }
}

// A card whose executable has no readable stamp is not offered as an update.
TEST(BadInput, AnUnreadableStampOffersNoUpdate) {
  DeviceImage image;
  writeCardAndBystanders(image);
  {
    sim::SimOptions options;
    options.answers = {true};
    const auto device = image.platform(options);
    const auto context = loadInstaller(*device);
    ASSERT_NE(context, nullptr);
    ASSERT_TRUE(runInstall(*context, true));
  }
  image.writeFile(kCardExe, executable(40, 5000));
  sim::SimOptions options;
  options.answers = {true};
  const auto device = image.platform(options);
  const auto context = loadInstaller(*device);
  ASSERT_NE(context, nullptr);
  onCardInserted(*context);
  EXPECT_TRUE(messageBoxes(*device).empty());
  EXPECT_EQ(device->answersLeft(), 1u);
}

}  // namespace
}  // namespace autorun::testing::hardening
