// The dialog templates the simulated device can show, and the drawing of bitmaps into
// window pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform_services.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

struct SimControlLayout {
  int id;
  std::u16string windowClass;
  std::u16string text;
  Rect rect;  // pixels, in the dialog's client area
};

struct SimDialogLayout {
  int templateId;
  std::u16string caption;
  std::vector<SimControlLayout> controls;  // in template order
};

// Dialog units become pixels with the base units of the dialog font as the device
// shows it: 5 pixels per average character width, 13 per line (a horizontal unit is a
// quarter, a vertical one an eighth of these), rounded to the nearest pixel.
inline constexpr int kDialogBaseUnitX = 5;
inline constexpr int kDialogBaseUnitY = 13;

// The layout of one of the installer's templates (ui/dialog_templates.h), or false when
// it has none with this id.
bool dialogLayout(int templateId, SimDialogLayout& layout);

// A white picture of the given size (negative sizes count as 0).
SimSurface blankSurface(int width, int height);

// Copies a device-independent bitmap onto a picture as the device does: an off-screen
// copy of width x height pixels (black where the bitmap does not reach) receives the
// bitmap at (x, y), and is then copied to (0, 0) of the target, clipped to it.
// `bitmapInfo` is the 40-byte info header and any colour table. False for a bitmap the
// device cannot draw (compressed, unknown depth, absurd size).
bool drawDib(SimSurface& target, int x, int y, int width, int height,
             const std::uint8_t* bitmapInfo, const std::uint8_t* pixels);

}  // namespace autorun::sim
