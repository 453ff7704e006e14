// The logo reader: a BMP file from the card, then painted the way the dialogs paint it
// (only images within 240 x 100) onto a simulated window picture.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/logo_image.h"
#include "fuzz_check.h"
#include "platform/sim/sim_dialogs.h"
#include "support/memory_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  autorun::testing::MemoryPlatform platform;
  const std::u16string path = u"\\Storage Card\\Atlas\\logo.bmp";
  platform.files[path] = std::vector<std::uint8_t>(data, data + size);

  autorun::LogoImage logo;
  const int result = logo.load(platform, path);
  FUZZ_CHECK(result == autorun::LogoImage::kLoaded || result == autorun::LogoImage::kNotABitmap);
  if (result != autorun::LogoImage::kLoaded) {
    FUZZ_CHECK(!logo.loaded() && logo.width() == 0 && logo.height() == 0);
    return 0;
  }
  FUZZ_CHECK(logo.loaded() && logo.width() >= 0 && logo.height() >= 0 && logo.stride() >= 0);
  FUZZ_CHECK(static_cast<std::uint64_t>(logo.stride()) *
                 static_cast<std::uint64_t>(logo.height()) <=
             autorun::LogoImage::kMaxPixelBytes);

  // The first and last byte of each block it claims to hold must be there.
  const std::size_t pixelBytes = static_cast<std::size_t>(logo.stride()) * logo.height();
  volatile std::uint8_t touched = 0;
  if (pixelBytes > 0) touched = touched + logo.pixels()[0] + logo.pixels()[pixelBytes - 1];
  touched = touched + logo.header()[0] + logo.header()[logo.headerSize() - 1];
  if (logo.palette() != nullptr) {
    touched = touched + logo.palette()[4 * logo.paletteEntries() - 1];
  }

  if (logo.width() <= 240 && logo.height() <= 100) {
    autorun::sim::SimSurface target = autorun::sim::blankSurface(240, 268);
    autorun::sim::drawDib(target, 0, 0, logo.width(), logo.height(), logo.header(), logo.pixels());
  }
  logo.release();
  FUZZ_CHECK(!logo.loaded());
  return 0;
}
