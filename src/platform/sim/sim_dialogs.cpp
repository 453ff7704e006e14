#include "platform/sim/sim_dialogs.h"

#include <algorithm>
#include <cstdlib>

#include "base/dialog_templates.h"

namespace autorun::sim {

namespace {

std::uint32_t u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr int kMaxPictureSide = 8192;

}  // namespace

bool dialogLayout(int templateId, SimDialogLayout& layout) {
  layout = SimDialogLayout{};
  layout.templateId = templateId;
  const DialogTemplate* dialog = findDialogTemplate(templateId);
  if (dialog == nullptr) return false;
  layout.caption = dialog->caption;
  const DialogBaseUnits base{kDialogBaseUnitX, kDialogBaseUnitY};
  for (const ControlTemplate& control : dialog->controls) {
    layout.controls.push_back(SimControlLayout{control.id, std::u16string(control.windowClass),
                                               std::u16string(control.text),
                                               controlRectInPixels(control, base)});
  }
  return true;
}

SimSurface blankSurface(int width, int height) {
  SimSurface surface;
  surface.width = std::clamp(width, 0, kMaxPictureSide);
  surface.height = std::clamp(height, 0, kMaxPictureSide);
  surface.rgb.assign(static_cast<std::size_t>(surface.width) * surface.height * 3, 0xFF);
  return surface;
}

bool drawDib(SimSurface& target, int x, int y, int width, int height,
             const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) {
  if (bitmapInfo == nullptr || pixels == nullptr) return false;
  if (width < 0 || height < 0 || width > kMaxPictureSide || height > kMaxPictureSide) return false;
  if (u32(bitmapInfo) < 40) return false;
  const auto dibWidth = static_cast<std::int32_t>(u32(bitmapInfo + 4));
  const auto rawHeight = static_cast<std::int32_t>(u32(bitmapInfo + 8));
  const int depth = u16(bitmapInfo + 14);
  const std::uint32_t compression = u32(bitmapInfo + 16);
  const std::uint32_t colorsUsed = u32(bitmapInfo + 32);
  if (compression != 0) return false;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
    return false;
  if (dibWidth < 0 || dibWidth > kMaxPictureSide || rawHeight < -kMaxPictureSide ||
      rawHeight > kMaxPictureSide) {
    return false;
  }
  const int dibHeight = std::abs(rawHeight);
  const bool topDown = rawHeight < 0;
  const std::size_t stride = (static_cast<std::size_t>(depth) * dibWidth + 31) / 32 * 4;
  const std::uint8_t* palette = bitmapInfo + 40;
  const std::uint32_t paletteSize =
      depth <= 8 ? (colorsUsed != 0 && colorsUsed < (1u << depth) ? colorsUsed : (1u << depth)) : 0;

  // An off-screen copy without pixels leaves the target as it is.
  if (width == 0 || height == 0) return true;

  // The off-screen copy: black, with the bitmap at (x, y).
  SimSurface offscreen;
  offscreen.width = width;
  offscreen.height = height;
  offscreen.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
  for (int row = 0; row < dibHeight; ++row) {
    const int oy = y + row;
    if (oy < 0 || oy >= height) continue;
    const std::uint8_t* line =
        pixels + stride * static_cast<std::size_t>(topDown ? row : dibHeight - 1 - row);
    for (int column = 0; column < dibWidth; ++column) {
      const int ox = x + column;
      if (ox < 0 || ox >= width) continue;
      std::uint8_t r = 0;
      std::uint8_t g = 0;
      std::uint8_t b = 0;
      if (depth <= 8) {
        const std::size_t bit = static_cast<std::size_t>(column) * depth;
        const std::uint8_t byte = line[bit / 8];
        const unsigned index = (byte >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
        if (index < paletteSize) {
          b = palette[index * 4];
          g = palette[index * 4 + 1];
          r = palette[index * 4 + 2];
        }
      } else if (depth == 16) {
        const std::uint16_t v = u16(line + column * 2);
        r = static_cast<std::uint8_t>(((v >> 10) & 31) * 255 / 31);
        g = static_cast<std::uint8_t>(((v >> 5) & 31) * 255 / 31);
        b = static_cast<std::uint8_t>((v & 31) * 255 / 31);
      } else {
        const std::uint8_t* p = line + static_cast<std::size_t>(column) * (depth / 8);
        b = p[0];
        g = p[1];
        r = p[2];
      }
      std::uint8_t* out = &offscreen.rgb[(static_cast<std::size_t>(oy) * width + ox) * 3];
      out[0] = r;
      out[1] = g;
      out[2] = b;
    }
  }
  // The plain copy to (0, 0) of the target.
  const int copyWidth = std::min(width, target.width);
  const int copyHeight = std::min(height, target.height);
  for (int row = 0; row < copyHeight; ++row) {
    std::copy_n(&offscreen.rgb[static_cast<std::size_t>(row) * width * 3],
                static_cast<std::size_t>(copyWidth) * 3,
                &target.rgb[static_cast<std::size_t>(row) * target.width * 3]);
  }
  return true;
}

}  // namespace autorun::sim
