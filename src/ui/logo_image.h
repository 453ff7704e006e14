// An uncompressed BMP read from the card and painted unscaled into a dialog's logo control.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform_services.h"

namespace autorun {

class LogoImage {
 public:
  // load results
  static constexpr int kLoaded = 0;
  static constexpr int kCannotOpen = 1;
  static constexpr int kNotABitmap = 2;

  // Reads the file; on any failure the image is left as it was.
  int load(PlatformServices& platform, const std::u16string& path);
  // Paints the image at (x, y) when its size lies within the bounds. Returns 0.
  int draw(PlatformServices& platform, DrawingSurface target, int x, int y, int minWidth,
           int maxWidth, int minHeight, int maxHeight) const;
  void release();

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  std::uint32_t bitsPerPixel() const { return bitsPerPixel_; }
  std::int32_t stride() const { return stride_; }
  const std::uint8_t* pixels() const { return pixels_.get(); }
  const std::uint8_t* header() const { return header_.get(); }
  std::size_t headerSize() const { return headerSize_; }
  // The colour table inside header(), or null (depth 24 and 32 have none).
  const std::uint8_t* palette() const { return palette_; }

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
