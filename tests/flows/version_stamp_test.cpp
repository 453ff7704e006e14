// Where the version stamp of an executable is read from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "flows/upgrade_flow.h"
#include "support/memory_platform.h"

namespace autorun {
namespace {

using testing::MemoryFile;

void putWord(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// A file of `size` bytes of filler, with the marker 0x11111111 where no stamp is expected
// and 0xAABBCCDD as the last four bytes.
std::vector<std::uint8_t> executable(std::size_t size) {
  std::vector<std::uint8_t> bytes(size, 0x11);
  if (size >= 4) putWord(bytes, size - 4, 0xAABBCCDDu);
  return bytes;
}

class VersionStampTest : public ::testing::Test {
 protected:
  // Reads the stamp of `bytes` as the file at \App\app.exe.
  std::optional<std::uint32_t> stampOf(std::vector<std::uint8_t> bytes,
                                       std::uint32_t chunk = 0xFFFFFFFFu) {
    platform.files[u"\\App\\app.exe"] = std::move(bytes);
    platform.chunk = chunk;
    std::uint32_t stamp = 0;
    if (!readVersionStamp(platform, u"\\App\\app.exe", stamp)) return std::nullopt;
    return stamp;
  }

  testing::MemoryPlatform platform;
};

TEST_F(VersionStampTest, UnsignedFilesCarryTheStampInTheirLastFourBytes) {
  EXPECT_EQ(stampOf(executable(2048)), 0xAABBCCDDu) << "no 0x460 word";
  EXPECT_EQ(stampOf(executable(100)), 0xAABBCCDDu) << "shorter than 512 bytes";
  EXPECT_EQ(stampOf(executable(511)), 0xAABBCCDDu) << "one byte short of the header";
  EXPECT_EQ(stampOf(executable(4)), 0xAABBCCDDu) << "just the stamp";
}

TEST_F(VersionStampTest, SignedFileCarriesTheStampEightBytesBeforeItsCertificates) {
  std::vector<std::uint8_t> bytes = executable(2048);
  putWord(bytes, 156, 800);    // word 39: table offset
  putWord(bytes, 160, 0x460);  // word 40: table size
  putWord(bytes, 792, 0x01020304u);
  EXPECT_EQ(stampOf(bytes), 0x01020304u);
  // The same read in small pieces.
  EXPECT_EQ(stampOf(bytes, 7), 0x01020304u);

  MemoryFile file(bytes);
  EXPECT_EQ(findCertificateEntry(file), 156u);
}

TEST_F(VersionStampTest, OnlyTheFirstSizeWordCounts) {
  std::vector<std::uint8_t> bytes = executable(2048);
  putWord(bytes, 156, 800);
  putWord(bytes, 160, 0x460);
  putWord(bytes, 196, 1200);
  putWord(bytes, 200, 0x460);
  putWord(bytes, 792, 0x01020304u);
  putWord(bytes, 1192, 0x05060708u);
  EXPECT_EQ(stampOf(bytes), 0x01020304u);
}

TEST_F(VersionStampTest, CertificateTableLengthNeedNotMatchTheFile) {
  std::vector<std::uint8_t> bytes = executable(900);  // 800 + 0x460 would be 1920
  putWord(bytes, 156, 800);
  putWord(bytes, 160, 0x460);
  putWord(bytes, 792, 7);
  EXPECT_EQ(stampOf(bytes), 7u);
}

TEST_F(VersionStampTest, EntryWithoutTableOffsetFallsBackToTheLastFourBytes) {
  std::vector<std::uint8_t> bytes = executable(2048);
  putWord(bytes, 156, 0);
  putWord(bytes, 160, 0x460);
  EXPECT_EQ(stampOf(bytes), 0xAABBCCDDu);
}

TEST_F(VersionStampTest, SizeWordAtTheVeryStartCountsAsNoEntry) {
  for (std::size_t at : {0u, 4u}) {
    SCOPED_TRACE(at);
    std::vector<std::uint8_t> bytes = executable(2048);
    putWord(bytes, at, 0x460);
    if (at == 4) putWord(bytes, 0, 800);  // word 1 names an entry at byte 0: also none
    putWord(bytes, 792, 0x01020304u);
    MemoryFile file(bytes);
    EXPECT_EQ(findCertificateEntry(file), 0u);
    EXPECT_EQ(stampOf(bytes), 0xAABBCCDDu);
  }
}

TEST_F(VersionStampTest, LastHeaderWordCanBeTheSize) {
  std::vector<std::uint8_t> bytes = executable(2048);
  putWord(bytes, 504, 1000);
  putWord(bytes, 508, 0x460);
  putWord(bytes, 992, 99);
  EXPECT_EQ(stampOf(bytes), 99u);
}

TEST_F(VersionStampTest, UnreadableStampsAreReportedAsSuch) {
  // Table offset beyond the end of the file.
  std::vector<std::uint8_t> beyond = executable(1024);
  putWord(beyond, 156, 5000);
  putWord(beyond, 160, 0x460);
  EXPECT_EQ(stampOf(beyond), std::nullopt);
  // Table offset too small to have a stamp before it.
  std::vector<std::uint8_t> tooEarly = executable(1024);
  putWord(tooEarly, 156, 4);
  putWord(tooEarly, 160, 0x460);
  EXPECT_EQ(stampOf(tooEarly), std::nullopt);
  // Stamp straddling the end of the file.
  std::vector<std::uint8_t> straddling = executable(1024);
  putWord(straddling, 156, 1030);
  putWord(straddling, 160, 0x460);
  EXPECT_EQ(stampOf(straddling), std::nullopt);
  // Too short to hold a stamp, and empty.
  EXPECT_EQ(stampOf(executable(3)), std::nullopt);
  EXPECT_EQ(stampOf({}), std::nullopt);
  // No file at all.
  std::uint32_t stamp = 0;
  EXPECT_FALSE(readVersionStamp(platform, u"\\App\\missing.exe", stamp));
}

}  // namespace
}  // namespace autorun
