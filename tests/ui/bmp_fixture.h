// BMP files built in memory, for the logo tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace autorun::testing {

// What a BMP file says about itself; build() lays it out.
struct BmpSpec {
  std::int32_t width = 1;
  std::int32_t height = 1;  // negative: rows top-down
  std::uint16_t depth = 24;
  std::uint32_t compression = 0;
  std::uint32_t infoSize = 40;     // the info header's own size field; extra bytes follow it
  std::uint32_t tableEntries = 0;  // colour table entries written after the info header
  std::uint32_t gap = 0;           // bytes between the colour table and the pixels
  std::uint32_t coloursUsed = 0;
  std::int64_t pixelBytes = -1;   // -1: |height| rows of the BMP row size
  std::int64_t pixelOffset = -1;  // -1: right after the table and the gap

  std::uint32_t stride() const {
    return static_cast<std::uint32_t>(
        (static_cast<std::uint64_t>(depth) * static_cast<std::uint32_t>(width) + 31) / 32 * 4);
  }
  std::uint32_t rows() const {
    return height < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(height))
                      : static_cast<std::uint32_t>(height);
  }
  // Byte `column` of the `fileRow`-th row stored in the file.
  static std::uint8_t pixelByte(std::uint32_t fileRow, std::uint32_t column) {
    return static_cast<std::uint8_t>(fileRow * 31 + column * 7 + 1);
  }
  static std::uint8_t tableByte(std::uint32_t index) {
    return static_cast<std::uint8_t>(0xA0 ^ (index * 13));
  }

  std::vector<std::uint8_t> build() const {
    std::vector<std::uint8_t> out;
    auto put16 = [&](std::uint32_t v) {
      for (int i = 0; i < 2; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto put32 = [&](std::uint32_t v) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const std::uint64_t rowBytes = pixelBytes >= 0 ? static_cast<std::uint64_t>(pixelBytes)
                                                   : static_cast<std::uint64_t>(stride()) * rows();
    const std::uint32_t offset =
        pixelOffset >= 0 ? static_cast<std::uint32_t>(pixelOffset)
                         : 14 + std::max<std::uint32_t>(infoSize, 40) + tableEntries * 4 + gap;
    out.push_back('B');
    out.push_back('M');
    put32(static_cast<std::uint32_t>(offset + rowBytes));
    put32(0);
    put32(offset);
    put32(infoSize);
    put32(static_cast<std::uint32_t>(width));
    put32(static_cast<std::uint32_t>(height));
    put16(1);
    put16(depth);
    put32(compression);
    put32(static_cast<std::uint32_t>(rowBytes));
    put32(2835);
    put32(2835);
    put32(coloursUsed);
    put32(0);
    out.resize(out.size() + (infoSize > 40 ? infoSize - 40 : 0), 0x55);
    for (std::uint32_t i = 0; i < tableEntries * 4; ++i) out.push_back(tableByte(i));
    out.resize(out.size() + gap, 0xEE);
    if (pixelOffset >= 0) out.resize(offset, 0xEE);
    const std::uint32_t rowSize = stride();
    for (std::uint64_t i = 0; i < rowBytes; ++i) {
      out.push_back(rowSize == 0 ? 0
                                 : pixelByte(static_cast<std::uint32_t>(i / rowSize),
                                             static_cast<std::uint32_t>(i % rowSize)));
    }
    return out;
  }
};

}  // namespace autorun::testing
