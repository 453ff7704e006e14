// The two dialog templates as the resource script declares them, for platforms that lay
// out dialogs themselves (the simulated device) and for previews. resources/autorun.rc
// holds the same values; a test keeps the two in step.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/platform_services.h"

namespace autorun {

// Window and control style flags, with the values the resource compiler gives them.
inline constexpr std::uint32_t kWsPopup = 0x80000000u;
inline constexpr std::uint32_t kWsVisible = 0x10000000u;
inline constexpr std::uint32_t kWsCaption = 0x00C00000u;
inline constexpr std::uint32_t kWsBorder = 0x00800000u;
inline constexpr std::uint32_t kWsSysMenu = 0x00080000u;
inline constexpr std::uint32_t kWsGroup = 0x00020000u;
inline constexpr std::uint32_t kWsTabStop = 0x00010000u;
inline constexpr std::uint32_t kWsChild = 0x40000000u;
inline constexpr std::uint32_t kDsModalFrame = 0x80u;
inline constexpr std::uint32_t kDsSetFont = 0x40u;  // added by the FONT statement
inline constexpr std::uint32_t kDsSetForeground = 0x200u;
inline constexpr std::uint32_t kDsCenter = 0x800u;
inline constexpr std::uint32_t kWsExClientEdge = 0x200u;
inline constexpr std::uint32_t kSsCenter = 0x1u;
inline constexpr std::uint32_t kSsBitmap = 0xEu;
inline constexpr std::uint32_t kBsPushButton = 0x0u;
inline constexpr std::uint32_t kBsDefPushButton = 0x1u;
inline constexpr std::uint32_t kPbsSmooth = 0x1u;

inline constexpr std::u16string_view kStaticClass = u"Static";
inline constexpr std::u16string_view kButtonClass = u"Button";
inline constexpr std::u16string_view kProgressClass = u"msctls_progress32";

struct ControlTemplate {
  int id;
  std::u16string_view windowClass;
  std::u16string_view text;  // initial text; empty for a bitmap
  int bitmapResource;        // the bitmap a static with kSsBitmap shows, else 0
  // The control's own style flags as written in the script; every control is also
  // kWsChild | kWsVisible.
  std::uint32_t style;
  // Position and size in dialog units.
  int x;
  int y;
  int width;
  int height;
};

struct DialogTemplate {
  int id;
  int width;  // dialog units
  int height;
  std::u16string_view fontName;
  int fontPointSize;
  std::u16string_view caption;
  // As written in the script; the FONT statement adds kDsSetFont.
  std::uint32_t style;
  std::uint32_t exStyle;
  std::span<const ControlTemplate> controls;  // in template order
};

// The install question (IDD_QUESTION) and the status dialog (IDD_STATUS).
const DialogTemplate& questionDialogTemplate();
const DialogTemplate& statusDialogTemplate();
// The template with this resource id; null when the program has none.
const DialogTemplate* findDialogTemplate(int templateId);
// The control with this id in a template; null when there is none.
const ControlTemplate* findControlTemplate(const DialogTemplate& dialog, int controlId);

// Dialog base units: the dialog font's average character width and its height, in pixels.
// A horizontal dialog unit is a quarter of the width, a vertical one an eighth of the
// height.
struct DialogBaseUnits {
  int width;
  int height;
};
// Converts a horizontal or vertical distance in dialog units to pixels, rounding as the
// system does (to nearest, halves away from zero).
int dialogUnitsToPixelsX(int units, DialogBaseUnits base);
int dialogUnitsToPixelsY(int units, DialogBaseUnits base);
// A control's rectangle in pixels within the dialog's client area.
Rect controlRectInPixels(const ControlTemplate& control, DialogBaseUnits base);

}  // namespace autorun
