#include "base/dialog_templates.h"

#include <array>
#include <cstdint>

#include "base/dialog_ids.h"

namespace autorun {
namespace {

constexpr std::uint32_t kFullScreenDialogStyle =
    kWsPopup | kWsVisible | kWsCaption | kDsModalFrame | kDsCenter | kDsSetForeground;

constexpr std::array kQuestionControls{
    ControlTemplate{IDC_QUESTION_TEXT, kStaticClass, u"Install Wayfarer Navigator on this device?",
                    0, kSsCenter | kWsGroup, 17, 14, 147, 17},
    ControlTemplate{IDC_QUESTION_YES, kButtonClass, u"Yes", 0, kBsDefPushButton | kWsTabStop, 7,
                    130, 48, 16},
    ControlTemplate{IDC_QUESTION_NO, kButtonClass, u"No", 0, kBsPushButton | kWsTabStop, 132, 130,
                    48, 16},
    ControlTemplate{IDC_QUESTION_LOGO, kStaticClass, u"", IDB_LOGO, kSsBitmap, 54, 44, 56, 62},
};

constexpr std::array kStatusControls{
    ControlTemplate{IDC_STATUS_PROGRESS, kProgressClass, u"Progress1", 0, kWsBorder | kPbsSmooth, 7,
                    102, 117, 14},
    ControlTemplate{IDC_STATUS_TEXT, kStaticClass, u"Installation status", 0, kSsCenter | kWsGroup,
                    7, 84, 117, 8},
    ControlTemplate{IDC_STATUS_LOGO, kStaticClass, u"", IDB_LOGO, kSsBitmap, 37, 14, 55, 62},
};

constexpr DialogTemplate kQuestionDialog{IDD_QUESTION,
                                         187,
                                         153,
                                         u"Tahoma",
                                         10,
                                         u"Wayfarer Navigator",
                                         kFullScreenDialogStyle | kWsSysMenu,
                                         kWsExClientEdge,
                                         kQuestionControls};

// No system menu, so no close box: the status dialog cannot be closed by the user.
constexpr DialogTemplate kStatusDialog{
    IDD_STATUS, 131, 137, u"Tahoma", 10, u"Status", kFullScreenDialogStyle, 0, kStatusControls};

// MulDiv(units, base, divisor): rounded to nearest, halves away from zero.
int scale(int units, int base, int divisor) {
  const std::int64_t product = static_cast<std::int64_t>(units) * base;
  const std::int64_t half = divisor / 2;
  return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

}  // namespace

const DialogTemplate& questionDialogTemplate() {
  return kQuestionDialog;
}
const DialogTemplate& statusDialogTemplate() {
  return kStatusDialog;
}

const DialogTemplate* findDialogTemplate(int templateId) {
  if (templateId == IDD_QUESTION) return &kQuestionDialog;
  if (templateId == IDD_STATUS) return &kStatusDialog;
  return nullptr;
}

const ControlTemplate* findControlTemplate(const DialogTemplate& dialog, int controlId) {
  for (const ControlTemplate& control : dialog.controls) {
    if (control.id == controlId) return &control;
  }
  return nullptr;
}

int dialogUnitsToPixelsX(int units, DialogBaseUnits base) {
  return scale(units, base.width, 4);
}
int dialogUnitsToPixelsY(int units, DialogBaseUnits base) {
  return scale(units, base.height, 8);
}

Rect controlRectInPixels(const ControlTemplate& control, DialogBaseUnits base) {
  Rect rect;
  rect.left = dialogUnitsToPixelsX(control.x, base);
  rect.top = dialogUnitsToPixelsY(control.y, base);
  rect.right = rect.left + dialogUnitsToPixelsX(control.width, base);
  rect.bottom = rect.top + dialogUnitsToPixelsY(control.height, base);
  return rect;
}

}  // namespace autorun
