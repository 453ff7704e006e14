// SimPlatform's dialogs, drawing and message boxes: the installer's dialogs made from
// their templates (sim_dialogs.h) and driven by calling their handlers, questions answered
// from the answer list (then a terminal, else No), pictures drawn in memory.
#include <algorithm>

#include "base/dialog_ids.h"
#include "platform/sim/device_state.h"
#include "platform/sim/sim_dialogs.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

using nlohmann::json;

constexpr std::u16string_view kDialogClass = u"#32770";
constexpr std::u16string_view kProgressClass = u"msctls_progress32";

// Makes a dialog and its controls from a template, and records the attempt; 0 when there
// is no such template.
WindowHandle makeDialog(DeviceState& s, int templateId, DialogHandler& handler, bool modal) {
  SimDialogLayout layout;
  if (!dialogLayout(templateId, layout)) {
    s.record({{"op", "open_dialog"}, {"template", templateId}, {"modal", modal}, {"ok", false}});
    return 0;
  }
  const WindowHandle dialog = s.nextHandle++;
  SimWindow& d = s.windows[dialog];
  d.info.kind = SimWindowInfo::Kind::Dialog;
  d.info.templateId = templateId;
  d.info.windowClass = std::u16string(kDialogClass);
  d.info.text = layout.caption;
  d.info.rect = Rect{0, 0, s.config.dialogClientWidth, s.config.dialogClientHeight};
  d.handler = &handler;
  d.surface = blankSurface(s.config.dialogClientWidth, s.config.dialogClientHeight);
  for (const SimControlLayout& control : layout.controls) {
    const WindowHandle handle = s.nextHandle++;
    SimWindow& c = s.windows[handle];
    c.info.kind = SimWindowInfo::Kind::Control;
    c.info.templateId = templateId;
    c.info.controlId = control.id;
    c.info.parent = dialog;
    c.info.windowClass = control.windowClass;
    c.info.text = control.text;
    c.info.rect = control.rect;
    c.surface = blankSurface(control.rect.width(), control.rect.height());
    s.windows[dialog].controls.push_back(handle);
  }
  s.dialogOrder.push_back(dialog);
  s.foreground = dialog;
  s.record({{"op", "open_dialog"},
            {"template", templateId},
            {"window", dialog},
            {"modal", modal},
            {"ok", true}});
  return dialog;
}

std::u16string controlText(DeviceState& s, WindowHandle dialog, int id) {
  const SimWindow* c = s.window(s.control(dialog, id));
  return c == nullptr ? std::u16string() : c->info.text;
}

}  // namespace

int SimPlatform::runModalDialog(ModuleHandle, int templateId, DialogHandler& handler) {
  DeviceState& s = *state_;
  const WindowHandle dialog = makeDialog(s, templateId, handler, true);
  if (dialog == 0) return -1;
  handler.onInitDialog(dialog);
  if (!s.window(dialog)->ended) handler.onPaint(dialog);
  if (!s.window(dialog)->ended && templateId == IDD_QUESTION) {
    const std::u16string caption = s.window(dialog)->info.text;
    const std::u16string text = controlText(s, dialog, IDC_QUESTION_TEXT);
    const bool yes = s.takeAnswer(caption, text);
    s.record({{"op", "question"},
              {"template", templateId},
              {"window", dialog},
              {"caption", utf8(caption)},
              {"text", utf8(text)},
              {"answer", yes ? "yes" : "no"}});
    handler.onCommand(dialog, yes ? IDC_QUESTION_YES : IDC_QUESTION_NO);
  }
  SimWindow& d = *s.window(dialog);
  d.info.open = false;
  if (!d.ended) {
    // Nothing would ever end it on the device; here the run goes on as if it failed.
    d.ended = true;
    d.result = -1;
    s.record({{"op", "end_dialog"},
              {"template", templateId},
              {"window", dialog},
              {"result", -1},
              {"stuck", true}});
  }
  if (s.foreground == dialog) s.foreground = 0;
  return d.result;
}

WindowHandle SimPlatform::createModelessDialog(ModuleHandle, int templateId,
                                               DialogHandler& handler) {
  DeviceState& s = *state_;
  const WindowHandle dialog = makeDialog(s, templateId, handler, false);
  if (dialog == 0) return 0;
  handler.onInitDialog(dialog);
  if (s.window(dialog)->info.open) handler.onPaint(dialog);
  if (s.options.useTerminal && templateId == IDD_STATUS) {
    const std::u16string text = controlText(s, dialog, IDC_STATUS_TEXT);
    s.terminal.startProgress(s.window(dialog)->info.text + u": " + text);
  }
  return dialog;
}

void SimPlatform::endDialog(WindowHandle dialog, int result) {
  SimWindow* d = state_->window(dialog);
  if (d == nullptr || d->info.kind != SimWindowInfo::Kind::Dialog || d->ended) return;
  d->ended = true;
  d->result = result;
  d->info.open = false;
  state_->record({{"op", "end_dialog"},
                  {"template", d->info.templateId},
                  {"window", dialog},
                  {"result", result}});
}

WindowHandle SimPlatform::dialogItem(WindowHandle dialog, int id) {
  return state_->control(dialog, id);
}

bool SimPlatform::setWindowText(WindowHandle window, const std::u16string& text) {
  SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return false;
  w->info.text = text;
  json entry = {{"op", "set_text"}};
  state_->describe(entry, window);
  entry["text"] = utf8(text);
  state_->record(std::move(entry));
  return true;
}

std::intptr_t SimPlatform::sendDialogItemMessage(WindowHandle dialog, int id, std::uint32_t message,
                                                 std::uintptr_t wParam, std::intptr_t) {
  SimWindow* item = state_->window(dialogItem(dialog, id));
  if (item == nullptr) return 0;
  if (message == kPbmSetPos && item->info.windowClass == kProgressClass) {
    const int previous = item->info.progressPosition;
    const auto position = static_cast<int>(static_cast<std::intptr_t>(wParam));
    item->info.progressPosition = std::clamp(position, 0, 100);
    if (state_->tracing()) state_->record({{"op", "progress"}, {"position", position}});
    if (state_->options.useTerminal) state_->terminal.progress(position);
    return previous;
  }
  return 0;
}

void SimPlatform::updateWindow(WindowHandle window) {
  SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind != SimWindowInfo::Kind::Dialog || !w->info.open) return;
  w->handler->onPaint(window);
}

bool SimPlatform::windowRect(WindowHandle window, Rect& rect) {
  const SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return false;
  rect = w->info.rect;
  if (w->info.kind == SimWindowInfo::Kind::Control) {
    // Screen coordinates: the dialog's client area starts at its window's corner.
    const SimWindow* d = state_->window(w->info.parent);
    rect.left += d->info.rect.left;
    rect.right += d->info.rect.left;
    rect.top += d->info.rect.top;
    rect.bottom += d->info.rect.top;
  }
  return true;
}

bool SimPlatform::clientRect(WindowHandle window, Rect& rect) {
  const SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return false;
  if (w->info.kind == SimWindowInfo::Kind::Dialog) {
    rect = Rect{0, 0, state_->config.dialogClientWidth, state_->config.dialogClientHeight};
  } else {
    rect = Rect{0, 0, std::max(0, w->info.rect.width()), std::max(0, w->info.rect.height())};
  }
  return true;
}

bool SimPlatform::moveWindow(WindowHandle window, int x, int y, int width, int height,
                             bool repaint) {
  SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return false;
  w->info.rect = Rect{x, y, x + width, y + height};
  if (w->info.kind == SimWindowInfo::Kind::Control) w->surface = blankSurface(width, height);
  json entry = {{"op", "move"}};
  state_->describe(entry, window);
  entry.update({{"x", x}, {"y", y}, {"width", width}, {"height", height}, {"repaint", repaint}});
  state_->record(std::move(entry));
  return true;
}

bool SimPlatform::shellInitDialog(WindowHandle dialog, std::uint32_t flags) {
  const SimWindow* d = state_->window(dialog);
  if (d == nullptr || d->info.kind != SimWindowInfo::Kind::Dialog) return false;
  json entry = {{"op", "shell_init_dialog"}};
  state_->describe(entry, dialog);
  entry["flags"] = flags;
  state_->record(std::move(entry));
  return true;
}

void SimPlatform::setForegroundWindow(WindowHandle window) {
  if (state_->window(window) == nullptr) return;
  state_->foreground = window;
  json entry = {{"op", "set_foreground"}};
  state_->describe(entry, window);
  state_->record(std::move(entry));
}

DrawingSurface SimPlatform::beginPaint(WindowHandle window) {
  const SimWindow* w = state_->window(window);
  if (w == nullptr || w->info.kind == SimWindowInfo::Kind::TopLevel) return 0;
  const DrawingSurface surface = state_->nextSurface++;
  state_->paintSurfaces[surface] = window;
  return surface;
}

void SimPlatform::endPaint(WindowHandle, DrawingSurface surface) {
  state_->paintSurfaces.erase(surface);
}

bool SimPlatform::drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                             const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) {
  const auto it = state_->paintSurfaces.find(target);
  if (it == state_->paintSurfaces.end()) return false;
  SimWindow* w = state_->window(it->second);
  const bool ok = w != nullptr && drawDib(w->surface, x, y, width, height, bitmapInfo, pixels);
  json entry = {{"op", "draw_bitmap"}};
  state_->describe(entry, it->second);
  entry.update({{"x", x}, {"y", y}, {"width", width}, {"height", height}, {"ok", ok}});
  state_->record(std::move(entry));
  return ok;
}

int SimPlatform::messageBox(const std::u16string& text, const std::u16string& caption,
                            std::uint32_t style) {
  DeviceState& s = *state_;
  int answer = kIdOk;
  switch (style & 0xF) {
    case 3:  // Yes, No, Cancel
    case kMbYesNo:
      answer = s.takeAnswer(caption, text) ? kIdYes : kIdNo;
      break;
    case 2:  // Abort, Retry, Ignore: the first button
      answer = 3;
      break;
    case 5:  // Retry, Cancel
      answer = 4;
      break;
    default:  // OK, OK and Cancel: nothing to decide
      if (s.options.useTerminal) s.terminal.show(caption, text);
      break;
  }
  s.record({{"op", "message_box"},
            {"text", utf8(text)},
            {"caption", utf8(caption)},
            {"style", style},
            {"answer", answer}});
  return answer;
}

}  // namespace autorun::sim
