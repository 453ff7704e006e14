// An uncompressed BMP read from the card and painted unscaled into a dialog's logo control.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform_services.h"

namespace autorun {

// Why a load gave no image, for tools that explain it.
enum class LogoProblem {
  None,
  CannotOpen,     // kCannotOpen
  NotBitmap,      // the file does not begin with "BM"
  HeaderCut,      // the file or info header is cut short
  Depth,          // a depth other than 1, 4, 8, 16, 24 or 32 bits per pixel
  Compressed,     // run-length or bit-field compression
  NegativeWidth,  //
  TooLarge,       // more than kMaxPixelBytes of pixels, or rows too long
  TableCut,       // the colour table the file holds before its pixels is cut short
  PixelsCut,      // the pixel data lies beyond the end or is cut short
  OutOfMemory,    //
};

class LogoImage {
 public:
  // load results
  static constexpr int kLoaded = 0;
  static constexpr int kCannotOpen = 1;
  static constexpr int kNotABitmap = 2;  // also: unusable or truncated bitmap

  static constexpr std::size_t kFileHeaderSize = 14;
  static constexpr std::size_t kInfoHeaderSize = 40;
  // The header block of a depth without colour table: the info header and 4 spare bytes.
  static constexpr std::size_t kPlainHeaderSize = 44;
  // Files asking for more pixel memory than this are refused. The dialogs only ever draw
  // images up to 240 x 100, so this is generous.
  static constexpr std::uint64_t kMaxPixelBytes = 64u * 1024u * 1024u;

  // Reads the file. Anything but a complete, uncompressed BMP of depth 1, 4, 8, 16, 24 or
  // 32 within kMaxPixelBytes gives kNotABitmap; on any failure the image is left as it was.
  // Depths up to 16 get a colour table of 2^depth entries: those the file holds between
  // the info header and its pixels (at most 2^depth), the rest zero (black), as the
  // device's drawing takes a table shorter than that. `problem`, when given, says why a
  // load failed (LogoProblem::None when it did not).
  int load(PlatformServices& platform, const std::u16string& path, LogoProblem* problem = nullptr);
  // Paints the image at (x, y) when its size lies within the bounds. Returns 0.
  int draw(PlatformServices& platform, DrawingSurface target, int x, int y, int minWidth,
           int maxWidth, int minHeight, int maxHeight) const;
  // Frees the pixels and the header; the image is empty again.
  void release();

  bool loaded() const { return header_ != nullptr; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  std::uint32_t bitsPerPixel() const { return bitsPerPixel_; }
  std::int32_t stride() const { return stride_; }
  // stride() x height() bytes, the top row first.
  const std::uint8_t* pixels() const { return pixels_.get(); }
  // The 40-byte info header as handed to drawing (height negative: rows top-down), then
  // the colour table.
  const std::uint8_t* header() const { return header_.get(); }
  std::size_t headerSize() const { return headerSize_; }
  // The colour table inside header(), or null (depth 24 and 32 have none).
  const std::uint8_t* palette() const { return palette_; }
  // Entries of the colour table (4 bytes each: blue, green, red, reserved).
  std::size_t paletteEntries() const {
    return palette_ == nullptr ? 0 : (headerSize_ - kInfoHeaderSize) / 4;
  }

 private:
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::uint32_t bitsPerPixel_ = 0;
  std::unique_ptr<std::uint8_t[]> pixels_;
  const std::uint8_t* palette_ = nullptr;
  std::int32_t stride_ = 0;
  std::unique_ptr<std::uint8_t[]> header_;
  std::size_t headerSize_ = 0;
};

}  // namespace autorun
