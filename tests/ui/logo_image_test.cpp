#include "base/logo_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bmp_fixture.h"
#include "support/memory_platform.h"

namespace autorun {
namespace {

using testing::BmpSpec;
using testing::MemoryPlatform;

const std::u16string kPath = u"\\Storage Card\\nav\\logo.bmp";

std::uint32_t u32At(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

class LogoImageTest : public ::testing::Test {
 protected:
  // Loads `bytes` as the file at kPath, which must be opened once, exclusively.
  int load(LogoImage& image, std::vector<std::uint8_t> bytes) {
    platform_.files[kPath] = std::move(bytes);
    return loadOnce(image);
  }
  int loadOnce(LogoImage& image) {
    platform_.opens.clear();
    const int result = image.load(platform_, kPath);
    const decltype(platform_.opens) once = {{kPath, FileOpenMode::ReadExclusive}};
    EXPECT_EQ(platform_.opens, once);
    return result;
  }

  MemoryPlatform platform_;
};

TEST_F(LogoImageTest, BottomUpRowsAreTurnedTopDown) {
  BmpSpec spec;
  spec.width = 85;
  spec.height = 2;
  LogoImage image;
  ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);

  EXPECT_EQ(image.width(), 85);
  EXPECT_EQ(image.height(), 2);
  EXPECT_EQ(image.bitsPerPixel(), 24u);
  EXPECT_EQ(image.stride(), 256);
  EXPECT_EQ(image.headerSize(), 44u);
  EXPECT_EQ(image.palette(), nullptr);
  // The last row of the file is the top row.
  for (std::uint32_t column = 0; column < 256; ++column) {
    ASSERT_EQ(image.pixels()[column], BmpSpec::pixelByte(1, column)) << column;
    ASSERT_EQ(image.pixels()[256 + column], BmpSpec::pixelByte(0, column)) << column;
  }
  // The header handed to drawing says top-down, 40 bytes.
  EXPECT_EQ(u32At(image.header()), 40u);
  EXPECT_EQ(static_cast<std::int32_t>(u32At(image.header() + 8)), -2);
  EXPECT_EQ(u32At(image.header() + 4), 85u);
}

TEST_F(LogoImageTest, TopDownRowsLoadInFileOrder) {
  BmpSpec spec;
  spec.width = 85;
  spec.height = -3;
  LogoImage image;
  ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);

  EXPECT_EQ(image.height(), 3);
  for (std::uint32_t row = 0; row < 3; ++row) {
    for (std::uint32_t column = 0; column < 256; ++column) {
      ASSERT_EQ(image.pixels()[row * 256 + column], BmpSpec::pixelByte(row, column));
    }
  }
  EXPECT_EQ(static_cast<std::int32_t>(u32At(image.header() + 8)), -3);
}

// The colour table follows the info header whatever the pixel offset says.
TEST_F(LogoImageTest, ColourTableIsReadRightAfterTheInfoHeader) {
  struct Case {
    std::uint16_t depth;
    std::uint32_t entries;
  };
  for (const Case& c : {Case{1, 2}, Case{4, 16}, Case{8, 256}}) {
    SCOPED_TRACE(c.depth);
    BmpSpec spec;
    spec.width = 10;
    spec.height = 3;
    spec.depth = c.depth;
    spec.tableEntries = c.entries;
    spec.coloursUsed = 1;  // not consulted
    spec.gap = 37;         // pixels begin further on
    LogoImage image;
    ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);

    ASSERT_NE(image.palette(), nullptr);
    EXPECT_EQ(image.palette(), image.header() + 40);
    EXPECT_EQ(image.paletteEntries(), c.entries);
    EXPECT_EQ(image.headerSize(), 40u + 4u * c.entries);
    for (std::uint32_t i = 0; i < 4 * c.entries; ++i) {
      ASSERT_EQ(image.palette()[i], BmpSpec::tableByte(i)) << i;
    }
    // The copy tells the drawing step to use the whole table it holds.
    EXPECT_EQ(u32At(image.header() + 32), 0u);
    const auto stride = static_cast<std::uint32_t>(image.stride());
    EXPECT_EQ(stride, spec.stride());
    EXPECT_EQ(image.pixels()[0], BmpSpec::pixelByte(2, 0));
    EXPECT_EQ(image.pixels()[2 * stride + stride - 1], BmpSpec::pixelByte(0, stride - 1));
  }
}

TEST_F(LogoImageTest, DeepImagesCarryNoTableOrTheFullSixteenBitOne) {
  BmpSpec deep;
  deep.width = 3;
  deep.height = 2;
  deep.depth = 32;
  LogoImage image;
  ASSERT_EQ(load(image, deep.build()), LogoImage::kLoaded);
  EXPECT_EQ(image.palette(), nullptr);
  EXPECT_EQ(image.headerSize(), 44u);
  EXPECT_EQ(image.stride(), 12);

  BmpSpec sixteen;
  sixteen.width = 3;
  sixteen.height = 2;
  sixteen.depth = 16;
  sixteen.tableEntries = 65536;
  ASSERT_EQ(load(image, sixteen.build()), LogoImage::kLoaded);
  EXPECT_EQ(image.paletteEntries(), 65536u);
  EXPECT_EQ(image.stride(), 8);
  EXPECT_EQ(image.palette()[4 * 65535 + 3], BmpSpec::tableByte(4 * 65535 + 3));
}

// A file holds only the colour entries it uses (none for 16 bits, a short palette for 8):
// the table is what lies before the pixels, the rest of the 2^depth entries black.
TEST_F(LogoImageTest, ShortColourTablesAreZeroFilled) {
  struct Case {
    std::uint16_t depth;
    std::uint32_t entriesInFile;
  };
  for (const Case& c : {Case{8, 16}, Case{4, 0}, Case{16, 0}, Case{16, 3}}) {
    SCOPED_TRACE(::testing::Message() << c.depth << " bits, " << c.entriesInFile << " entries");
    BmpSpec spec;
    spec.width = 6;
    spec.height = 2;
    spec.depth = c.depth;
    spec.tableEntries = c.entriesInFile;
    LogoImage image;
    LogoProblem problem = LogoProblem::TableCut;
    ASSERT_EQ(image.load(platform_, kPath, &problem), LogoImage::kCannotOpen);
    EXPECT_EQ(problem, LogoProblem::CannotOpen);
    platform_.files[kPath] = spec.build();
    ASSERT_EQ(image.load(platform_, kPath, &problem), LogoImage::kLoaded);
    EXPECT_EQ(problem, LogoProblem::None);
    const std::uint32_t entries = 1u << c.depth;
    EXPECT_EQ(image.paletteEntries(), entries);
    for (std::uint32_t i = 0; i < 4 * entries; ++i) {
      const std::uint8_t expected = i < 4 * c.entriesInFile ? BmpSpec::tableByte(i) : 0;
      ASSERT_EQ(image.palette()[i], expected) << i;
    }
    // The pixels are read from where the file says, not taken for colours.
    EXPECT_EQ(image.pixels()[0], BmpSpec::pixelByte(1, 0));
    platform_.files.erase(kPath);
  }
}

TEST_F(LogoImageTest, LargerInfoHeaderVersionsAreCutToTheBasicOne) {
  BmpSpec spec;
  spec.width = 4;
  spec.height = 4;
  spec.infoSize = 124;
  LogoImage image;
  ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);
  EXPECT_EQ(u32At(image.header()), 40u);
  EXPECT_EQ(image.headerSize(), 44u);
  EXPECT_EQ(image.pixels()[0], BmpSpec::pixelByte(3, 0));
}

TEST_F(LogoImageTest, FileThatCannotBeOpenedLeavesTheImage) {
  BmpSpec spec;
  spec.width = 2;
  spec.height = 2;
  LogoImage image;
  ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);
  const std::uint8_t* pixels = image.pixels();

  platform_.files.erase(kPath);
  EXPECT_EQ(loadOnce(image), LogoImage::kCannotOpen);
  EXPECT_EQ(image.width(), 2);
  EXPECT_EQ(image.pixels(), pixels);
}

// Every kind of unusable file is refused without touching the loaded image.
TEST_F(LogoImageTest, UnusableFilesAreRefusedAndTheImageKept) {
  auto valid = [] {
    BmpSpec spec;
    spec.width = 5;
    spec.height = 3;
    spec.depth = 8;
    spec.tableEntries = 256;
    return spec;
  };
  auto patched = [](std::vector<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
  };
  auto truncated = [](std::vector<std::uint8_t> bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
  };
  auto with = [&](auto change) {
    BmpSpec spec = valid();
    change(spec);
    return spec.build();
  };
  const std::vector<std::uint8_t> good = valid().build();

  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    LogoProblem problem;
  };
  const std::vector<Case> cases = {
      {"empty file", {}, LogoProblem::HeaderCut},
      {"one byte", {'B'}, LogoProblem::HeaderCut},
      {"wrong type", patched(good, 0, 0x0000414D), LogoProblem::NotBitmap},
      {"file header cut", truncated(good, 10), LogoProblem::HeaderCut},
      {"info header cut", truncated(good, 14 + 39), LogoProblem::HeaderCut},
      {"colour table cut", truncated(good, 14 + 40 + 1000), LogoProblem::TableCut},
      {"last pixel row cut", truncated(good, good.size() - 1), LogoProblem::PixelsCut},
      {"pixel offset past the end", patched(good, 10, 0x7FFFFFF0), LogoProblem::PixelsCut},
      {"negative width", with([](BmpSpec& s) {
         s.width = -5;
         s.pixelBytes = 64;
       }),
       LogoProblem::NegativeWidth},
      {"depth 0", with([](BmpSpec& s) { s.depth = 0; }), LogoProblem::Depth},
      {"depth 2", with([](BmpSpec& s) { s.depth = 2; }), LogoProblem::Depth},
      {"depth 12", with([](BmpSpec& s) { s.depth = 12; }), LogoProblem::Depth},
      {"depth 48", with([](BmpSpec& s) { s.depth = 48; }), LogoProblem::Depth},
      {"depth 65535", with([](BmpSpec& s) { s.depth = 65535; }), LogoProblem::Depth},
      {"run-length compression", with([](BmpSpec& s) { s.compression = 1; }),
       LogoProblem::Compressed},
      {"bit-field compression", with([](BmpSpec& s) {
         s.depth = 32;
         s.compression = 3;
       }),
       LogoProblem::Compressed},
      {"absurd size", with([](BmpSpec& s) {
         s.width = 0x7FFFFFFF;
         s.height = 0x7FFFFFFF;
         s.pixelBytes = 16;
       }),
       LogoProblem::TooLarge},
      {"just over the pixel limit", with([](BmpSpec& s) {
         s.depth = 32;
         s.width = 4096;
         s.height = 4097;
         s.pixelBytes = 16;
       }),
       LogoProblem::TooLarge},
      {"zero height with a row too long to index", with([](BmpSpec& s) {
         s.depth = 32;
         s.width = 0x7FFFFFFF;
         s.height = 0;
       }),
       LogoProblem::TooLarge},
      {"smallest height", with([](BmpSpec& s) {
         s.height = INT32_MIN;
         s.pixelBytes = 16;
       }),
       LogoProblem::TooLarge},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogoImage image;
    ASSERT_EQ(load(image, good), LogoImage::kLoaded);
    const std::vector<std::uint8_t> pixelsBefore(image.pixels(),
                                                 image.pixels() + image.stride() * image.height());
    const std::uint8_t* header = image.header();

    EXPECT_EQ(load(image, c.bytes), LogoImage::kNotABitmap);
    LogoProblem problem = LogoProblem::None;
    EXPECT_EQ(image.load(platform_, kPath, &problem), LogoImage::kNotABitmap);
    EXPECT_EQ(problem, c.problem);
    EXPECT_EQ(image.width(), 5);
    EXPECT_EQ(image.height(), 3);
    EXPECT_EQ(image.bitsPerPixel(), 8u);
    EXPECT_EQ(image.headerSize(), 40u + 1024u);
    EXPECT_EQ(image.header(), header);
    EXPECT_EQ(image.palette(), header + 40);
    EXPECT_EQ(std::vector<std::uint8_t>(image.pixels(), image.pixels() + pixelsBefore.size()),
              pixelsBefore);
  }
}

TEST_F(LogoImageTest, ZeroWidthWithHugeHeightReadsNoRows) {
  BmpSpec spec;
  spec.width = 0;
  spec.height = 0x7FFFFFFF;
  LogoImage image;
  ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);
  EXPECT_EQ(image.stride(), 0);
  // Far too tall for the dialogs.
  image.draw(platform_, 7, 0, 0, 0, 240, 0, 100);
  EXPECT_TRUE(platform_.drawings.empty());
}

TEST_F(LogoImageTest, DrawsOnlyWithinTheBounds) {
  struct Case {
    std::int32_t width;
    std::int32_t height;
    bool drawn;
  };
  for (const Case& c : {Case{240, 100, true}, Case{241, 100, false}, Case{240, 101, false},
                        Case{84, 100, true}, Case{1, 1, true}, Case{0, 0, true}}) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height);
    BmpSpec spec;
    spec.width = c.width;
    spec.height = c.height;
    LogoImage image;
    ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);
    platform_.drawings.clear();
    EXPECT_EQ(image.draw(platform_, 42, 0, 0, 0, 240, 0, 100), 0);
    std::vector<MemoryPlatform::Drawing> expected;
    if (c.drawn) expected.push_back({42, 0, 0, c.width, c.height, image.header(), image.pixels()});
    EXPECT_EQ(platform_.drawings, expected);
  }
}

TEST_F(LogoImageTest, BoundsAreSignedAndInclusive) {
  BmpSpec spec;
  spec.width = 10;
  spec.height = 20;
  LogoImage image;
  ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);
  image.draw(platform_, 1, 3, 4, 10, 10, 20, 20);
  image.draw(platform_, 1, 3, 4, -5, 10, -1, 20);
  image.draw(platform_, 1, 3, 4, 11, 240, 0, 100);
  image.draw(platform_, 1, 3, 4, 0, 240, 21, 100);
  const MemoryPlatform::Drawing drawn{1, 3, 4, 10, 20, image.header(), image.pixels()};
  EXPECT_EQ(platform_.drawings, (std::vector<MemoryPlatform::Drawing>{drawn, drawn}));
}

TEST_F(LogoImageTest, NothingIsDrawnBeforeLoadingOrAfterRelease) {
  LogoImage image;
  EXPECT_EQ(image.draw(platform_, 1, 0, 0, 0, 240, 0, 100), 0);

  BmpSpec spec;
  spec.width = 4;
  spec.height = 4;
  ASSERT_EQ(load(image, spec.build()), LogoImage::kLoaded);
  image.release();
  EXPECT_EQ(image.pixels(), nullptr);
  EXPECT_EQ(image.header(), nullptr);
  EXPECT_EQ(image.width(), 0);
  EXPECT_EQ(image.draw(platform_, 1, 0, 0, 0, 240, 0, 100), 0);
  EXPECT_TRUE(platform_.drawings.empty());
}

TEST_F(LogoImageTest, ReloadingReplacesTheImageAndForgetsTheOldTable) {
  BmpSpec paletted;
  paletted.width = 4;
  paletted.height = 1;
  paletted.depth = 8;
  paletted.tableEntries = 256;
  LogoImage image;
  ASSERT_EQ(load(image, paletted.build()), LogoImage::kLoaded);
  ASSERT_NE(image.palette(), nullptr);

  BmpSpec plain;
  plain.width = 6;
  plain.height = 2;
  ASSERT_EQ(load(image, plain.build()), LogoImage::kLoaded);
  EXPECT_EQ(image.width(), 6);
  EXPECT_EQ(image.bitsPerPixel(), 24u);
  EXPECT_EQ(image.palette(), nullptr);
}

}  // namespace
}  // namespace autorun
