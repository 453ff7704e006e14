#include "base/logo_image.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace autorun {
namespace {

constexpr std::uint16_t kBitmapType = 0x4D42;  // "BM"

// Offsets in the info header.
constexpr std::size_t kInfoSize = 0;
constexpr std::size_t kInfoWidth = 4;
constexpr std::size_t kInfoHeight = 8;
constexpr std::size_t kInfoBitCount = 14;
constexpr std::size_t kInfoCompression = 16;
constexpr std::size_t kInfoColoursUsed = 32;
// Offset of the pixel data in the file header.
constexpr std::size_t kFilePixelOffset = 10;

std::uint16_t readU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t readI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(readU32(p));
}

void writeU32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool supportedDepth(std::uint32_t depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

}  // namespace

int LogoImage::load(PlatformServices& platform, const std::u16string& path, LogoProblem* problem) {
  LogoProblem ignored = LogoProblem::None;
  LogoProblem& why = problem != nullptr ? *problem : ignored;
  why = LogoProblem::None;
  const auto refuse = [&why](LogoProblem cause) {
    why = cause;
    return kNotABitmap;
  };

  std::unique_ptr<File> file = platform.openFile(path, FileOpenMode::ReadExclusive);
  if (!file) {
    why = LogoProblem::CannotOpen;
    return kCannotOpen;
  }

  std::uint8_t fileHeader[kFileHeaderSize];
  std::uint8_t info[kInfoHeaderSize];
  if (!readExactly(*file, fileHeader, 2)) return refuse(LogoProblem::HeaderCut);
  if (readU16(fileHeader) != kBitmapType) return refuse(LogoProblem::NotBitmap);
  if (!readExactly(*file, fileHeader + 2, kFileHeaderSize - 2) ||
      !readExactly(*file, info, kInfoHeaderSize)) {
    return refuse(LogoProblem::HeaderCut);
  }

  // Everything is read into these and committed only when the whole image is in.
  const std::uint32_t depth = readU16(info + kInfoBitCount);
  const std::int32_t width = readI32(info + kInfoWidth);
  const std::int32_t storedHeight = readI32(info + kInfoHeight);
  const std::int64_t height = storedHeight < 0 ? -static_cast<std::int64_t>(storedHeight)
                                               : static_cast<std::int64_t>(storedHeight);
  // Compressed images are not interpreted, and the drawing step could not size them.
  if (!supportedDepth(depth)) return refuse(LogoProblem::Depth);
  if (readU32(info + kInfoCompression) != 0) return refuse(LogoProblem::Compressed);
  if (width < 0) return refuse(LogoProblem::NegativeWidth);
  if (height > INT32_MAX) return refuse(LogoProblem::TooLarge);
  const std::int64_t stride = (static_cast<std::int64_t>(depth) * width + 31) / 32 * 4;
  const std::uint64_t pixelBytes =
      static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height);
  // A zero height passes the size limit with any width; the row size must still fit.
  if (pixelBytes > kMaxPixelBytes || stride > INT32_MAX) return refuse(LogoProblem::TooLarge);

  // Depths up to 16 carry a colour table of 2^depth entries right after the info header.
  // A file may hold fewer (none at all for 16 bits, a short palette for 8): what lies
  // between the info header and the pixels is the table, the missing entries are zero.
  const bool hasTable = depth <= 16;
  const std::size_t tableBytes = hasTable ? std::size_t{4} << depth : 0;
  const std::size_t headerSize = hasTable ? kInfoHeaderSize + tableBytes : kPlainHeaderSize;
  const std::uint32_t pixelOffset = readU32(fileHeader + kFilePixelOffset);
  const std::uint64_t tableEnd = kFileHeaderSize + kInfoHeaderSize;
  const std::uint64_t bytesBeforePixels = pixelOffset > tableEnd ? pixelOffset - tableEnd : 0;
  const std::size_t tableInFile =
      static_cast<std::size_t>(std::min<std::uint64_t>(tableBytes, bytesBeforePixels / 4 * 4));
  std::unique_ptr<std::uint8_t[]> header(new (std::nothrow) std::uint8_t[headerSize]());
  std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow)
                                             std::uint8_t[static_cast<std::size_t>(pixelBytes)]());
  if (!header || !pixels) return refuse(LogoProblem::OutOfMemory);
  if (tableInFile > 0 && !readExactly(*file, header.get() + kInfoHeaderSize, tableInFile)) {
    return refuse(LogoProblem::TableCut);
  }
  std::memcpy(header.get(), info, kInfoHeaderSize);

  if (!file->seek(pixelOffset)) return refuse(LogoProblem::PixelsCut);
  if (pixelBytes == 0) {
    // Nothing to read (zero width or height).
  } else if (storedHeight > 0) {
    // Rows stored bottom-up: the first row read is the last one shown.
    for (std::int64_t row = height - 1; row >= 0; --row) {
      if (!readExactly(*file, pixels.get() + row * stride, static_cast<std::uint64_t>(stride))) {
        return refuse(LogoProblem::PixelsCut);
      }
    }
  } else if (!readExactly(*file, pixels.get(), pixelBytes)) {
    return refuse(LogoProblem::PixelsCut);
  }

  // The copy describes exactly what is held: a plain 40-byte header (a larger header
  // version would make the drawing step read past the block), rows top-down, and the full
  // colour table or none.
  writeU32(header.get() + kInfoSize, kInfoHeaderSize);
  writeU32(header.get() + kInfoHeight, static_cast<std::uint32_t>(-height));
  writeU32(header.get() + kInfoColoursUsed, 0);

  width_ = width;
  height_ = static_cast<std::int32_t>(height);
  bitsPerPixel_ = depth;
  stride_ = static_cast<std::int32_t>(stride);
  header_ = std::move(header);
  headerSize_ = headerSize;
  palette_ = hasTable ? header_.get() + kInfoHeaderSize : nullptr;
  pixels_ = std::move(pixels);
  return kLoaded;
}

int LogoImage::draw(PlatformServices& platform, DrawingSurface target, int x, int y, int minWidth,
                    int maxWidth, int minHeight, int maxHeight) const {
  if (width_ < minWidth || width_ > maxWidth || height_ < minHeight || height_ > maxHeight) {
    return 0;
  }
  // Never loaded (or released): nothing to show.
  if (!header_) return 0;
  platform.drawBitmap(target, x, y, width_, height_, header_.get(), pixels_.get());
  return 0;
}

void LogoImage::release() {
  pixels_.reset();
  header_.reset();
  palette_ = nullptr;
  headerSize_ = 0;
  width_ = 0;
  height_ = 0;
  bitsPerPixel_ = 0;
  stride_ = 0;
}

}  // namespace autorun
