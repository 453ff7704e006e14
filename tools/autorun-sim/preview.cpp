#include "preview.h"

#include <iostream>
#include <memory>
#include <optional>

#include "actions/copy_actions.h"
#include "base/dialog_ids.h"
#include "base/dialog_templates.h"
#include "configuration_key.h"
#include "context/card_discovery.h"
#include "context/config_loader.h"
#include "context/installer_context.h"
#include "entry/entry.h"
#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"
#include "preview_render.h"
#include "ui/message_boxes.h"
#include "ui/question_dialog.h"
#include "ui/status_dialog.h"

namespace autorun::preview {

namespace {

namespace fs = std::filesystem;

constexpr Colour kWhite{255, 255, 255};
constexpr Colour kBlack{0, 0, 0};
constexpr Colour kButtonFace{232, 232, 232};
constexpr Colour kBorder{128, 128, 128};
constexpr Colour kTitleBar{16, 72, 152};
constexpr Colour kProgressFill{0, 120, 215};
constexpr Colour kMissingLogo{210, 210, 210};
constexpr Colour kErrorIcon{200, 32, 32};
constexpr Colour kQuestionIcon{16, 72, 152};
constexpr Colour kWarningIcon{240, 190, 20};

// The device's dialog font is Tahoma 10 point; at the device's resolution that is about
// 12 pixels to the em.
constexpr int kFontPixels = 12;
// The device's title bar, which shows a full-screen dialog's caption above its client area.
constexpr int kTitleBarHeight = 26;
// A message box's parts, in pixels.
constexpr int kBoxMargin = 10;
constexpr int kIconSize = 24;
constexpr int kBoxButtonWidth = 60;
constexpr int kBoxButtonHeight = 22;

// A message box's content, as the installer would show it.
struct MessageBoxContent {
  std::u16string caption;
  std::u16string text;
  std::uint32_t style = 0;
};

// A dialog's picture, and what an author should know about it.
struct Picture {
  Canvas canvas;
  bool logoDrawn = true;  // the logo control received the configured logo
  std::vector<std::string> notes;
};

class DialogPainter {
 public:
  DialogPainter(sim::SimPlatform& platform, const Font& font, bool frame)
      : platform_(platform), font_(font), frame_(frame) {}

  Picture paint(WindowHandle dialog) {
    const std::optional<sim::SimWindowInfo> info = platform_.windowInfo(dialog);
    const int width = info->rect.width();
    const int height = info->rect.height();
    const int top = frame_ ? kTitleBarHeight : 0;
    Picture picture{Canvas(width, height + top, kWhite), true, {}};
    Canvas& canvas = picture.canvas;
    if (frame_) paintTitleBar(canvas, width, info->text);

    const DialogTemplate* dialogTemplate = findDialogTemplate(info->templateId);
    // Controls are painted from the last to the first, so the first lies on top.
    for (auto it = dialogTemplate->controls.rbegin(); it != dialogTemplate->controls.rend(); ++it) {
      const ControlTemplate& control = *it;
      const WindowHandle handle = platform_.dialogItem(dialog, control.id);
      const std::optional<sim::SimWindowInfo> item = platform_.windowInfo(handle);
      if (!item) continue;
      const Box box{item->rect.left, item->rect.top + top, item->rect.width(), item->rect.height()};
      if (box.width <= 0 || box.height <= 0) continue;
      canvas.clip(Box{0, top, width, height});
      if (item->windowClass == kStaticClass && (control.style & 0x1F) == kSsBitmap) {
        if (!paintLogo(canvas, handle, box)) picture.logoDrawn = false;
      } else if (item->windowClass == kStaticClass) {
        paintText(canvas, box, item->text, (control.style & 0x1F) == kSsCenter, picture.notes);
      } else if (item->windowClass == kButtonClass) {
        paintButton(canvas, box, item->text, (control.style & 0xF) == kBsDefPushButton);
      } else if (item->windowClass == kProgressClass) {
        paintProgress(canvas, box, item->progressPosition);
      }
      canvas.unclip();
    }
    return picture;
  }

  // A message box `width` pixels wide, with its caption in the title bar, the style's icon
  // and buttons, and as tall as its text needs.
  Picture paintMessageBox(const MessageBoxContent& box, int width) const {
    const std::uint32_t icon = box.style & 0xF0;
    const int textLeft = kBoxMargin + (icon != 0 ? kIconSize + kBoxMargin : 0);
    const int textWidth = std::max(1, width - textLeft - kBoxMargin);
    const int lines =
        std::max<int>(1, static_cast<int>(font_.wrap(codePoints(box.text), textWidth).size()));
    const int textHeight = lines * font_.lineHeight();
    const int bodyTop = kTitleBarHeight + kBoxMargin;
    const int buttonTop = bodyTop + std::max(textHeight, icon != 0 ? kIconSize : 0) + kBoxMargin;
    const int height = buttonTop + kBoxButtonHeight + kBoxMargin;

    Picture picture{Canvas(width, height, kWhite), true, {}};
    Canvas& canvas = picture.canvas;
    paintTitleBar(canvas, width, box.caption);
    if (icon != 0) paintIcon(canvas, Box{kBoxMargin, bodyTop, kIconSize, kIconSize}, icon);
    paintText(canvas, Box{textLeft, bodyTop, textWidth, textHeight}, box.text, false,
              picture.notes);
    canvas.unclip();

    const bool yesNo = (box.style & 0xF) == kMbYesNo;
    const std::u16string labels[] = {yesNo ? u"Yes" : u"OK", u"No"};
    const int buttons = yesNo ? 2 : 1;
    int x = (width - buttons * kBoxButtonWidth - (buttons - 1) * kBoxMargin) / 2;
    for (int k = 0; k < buttons; ++k) {
      paintButton(canvas, Box{x, buttonTop, kBoxButtonWidth, kBoxButtonHeight}, labels[k], k == 0);
      canvas.unclip();
      x += kBoxButtonWidth + kBoxMargin;
    }
    canvas.frame(Box{0, 0, width, height}, kBorder);
    return picture;
  }

 private:
  void paintTitleBar(Canvas& canvas, int width, const std::u16string& caption) const {
    canvas.fill({0, 0, width, kTitleBarHeight}, kTitleBar);
    canvas.clip({0, 0, width - 4, kTitleBarHeight});
    font_.draw(canvas, 6, (kTitleBarHeight + font_.ascender()) / 2 - 1, codePoints(caption),
               kWhite);
    canvas.unclip();
  }

  void paintIcon(Canvas& canvas, Box box, std::uint32_t icon) const {
    const bool error = icon == (kMbIconError & 0xF0);
    const bool question = icon == (kMbIconQuestion & 0xF0);
    canvas.fill(box, error ? kErrorIcon : question ? kQuestionIcon : kWarningIcon);
    const std::u32string glyph = error ? U"X" : question ? U"?" : U"!";
    font_.draw(canvas, box.x + (box.width - font_.measure(glyph)) / 2,
               box.y + (box.height + font_.ascender()) / 2 - 1, glyph,
               error || question ? kWhite : kBlack);
  }

  bool paintLogo(Canvas& canvas, WindowHandle control, Box box) const {
    bool drawn = false;
    for (const nlohmann::json& entry : platform_.trace()) {
      if (entry.value("op", "") == "draw_bitmap" &&
          entry.value("window", std::uint64_t{0}) == control && entry.value("ok", false)) {
        drawn = true;
      }
    }
    if (!drawn) {
      // The device shows its built-in logo there.
      canvas.fill(box, kMissingLogo);
      canvas.frame(box, kBorder);
      return false;
    }
    const sim::SimSurface* surface = platform_.windowSurface(control);
    canvas.paste(box.x, box.y, surface->width, surface->height, surface->rgb, box);
    return true;
  }

  void paintText(Canvas& canvas, Box box, const std::u16string& text, bool centred,
                 std::vector<std::string>& notes) const {
    canvas.clip(box);
    int baseline = box.y + font_.ascender();
    const std::vector<std::u32string> lines = font_.wrap(codePoints(text), box.width);
    const int shown = std::max(1, box.height / std::max(1, font_.lineHeight()));
    if (static_cast<int>(lines.size()) > shown) {
      std::string written;
      for (char c : host::toUtf8(text))
        written += c == '\n' ? std::string("\\n") : std::string(1, c);
      notes.push_back("the text \"" + written + "\" takes " + std::to_string(lines.size()) +
                      " lines, its control shows about " + std::to_string(shown));
    }
    for (const std::u32string& line : lines) {
      const int x = centred ? box.x + (box.width - font_.measure(line)) / 2 : box.x;
      font_.draw(canvas, x, baseline, line, kBlack);
      baseline += font_.lineHeight();
    }
  }

  void paintButton(Canvas& canvas, Box box, const std::u16string& text, bool isDefault) const {
    canvas.fill(box, kButtonFace);
    canvas.frame(box, kBlack, isDefault ? 2 : 1);
    canvas.clip(box);
    const std::u32string label = codePoints(text);
    font_.draw(canvas, box.x + (box.width - font_.measure(label)) / 2,
               box.y + (box.height + font_.ascender()) / 2 - 1, label, kBlack);
  }

  static void paintProgress(Canvas& canvas, Box box, int position) {
    canvas.frame(box, kBorder);
    const int inner = std::max(0, box.width - 4);
    canvas.fill({box.x + 2, box.y + 2, inner * std::clamp(position, 0, 100) / 100, box.height - 4},
                kProgressFill);
  }

  sim::SimPlatform& platform_;
  const Font& font_;
  bool frame_;
};

// The detail a box shows with its text: the first file the installation copies, the
// installation's size, or an example shortcut path.
std::u16string exampleDetail(InstallerContext& context, const CopyPlan& plan, MessageBoxId id) {
  switch (id) {
    case MessageBoxId::CopyFailed:
      if (plan.jobs.size() > 0) return plan.jobs.begin()->source;
      return findCardFolder(context) + u"\\file";
    case MessageBoxId::NoFreeSpace:
      return host::fromUtf8(std::to_string(plan.totalBytes));
    case MessageBoxId::LinkFailed:
      return specialFolderPath(context, kSpecialFolderPrograms) + u"\\example.lnk";
    default:
      return {};
  }
}

bool writePicture(const Picture& painted, const fs::path& file, const std::string& what,
                  std::ostream& out, std::ostream& err) {
  std::string problem;
  if (!writePng(painted.canvas, file, problem)) {
    err << "autorun-sim preview: " << problem << "\n";
    return false;
  }
  out << file.string() << " (" << painted.canvas.width() << " x " << painted.canvas.height()
      << "): " << what << "\n";
  for (const std::string& note : painted.notes) {
    err << "autorun-sim preview: " << file.filename().string() << ": " << note << "\n";
  }
  return true;
}

// Every message box the installer can show with this configuration, one picture each.
bool paintMessageBoxes(InstallerContext& context, const DialogPainter& painter, int width,
                       const fs::path& outDir, std::ostream& out, std::ostream& err) {
  CopyPlan plan;
  planInstallCopies(context, plan);
  for (const MessageBoxEntry& box : messageBoxTable()) {
    const MessageBoxContent content{
        messageBoxTitle(context, box.id),
        messageBoxText(context, box.id, exampleDetail(context, plan, box.id)), box.style};
    Picture painted = painter.paintMessageBox(content, width);
    for (const std::u16string_view key : {box.textKey, box.titleKey}) {
      if (!key.empty() && !context.config.hasKey(key)) {
        painted.notes.push_back("the configuration has no " + host::toUtf8(key) +
                                ": the box shows it empty");
      }
    }
    const std::string file = "message-" + std::string(box.name) + ".png";
    const std::string what = "message box \"" + std::string(box.name) + "\" (" +
                             (box.textKey.empty() ? std::string("the installer's own text")
                                                  : host::toUtf8(box.textKey)) +
                             ")";
    if (!writePicture(painted, outDir / file, what, out, err)) return false;
  }
  return true;
}

}  // namespace

int runPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err) {
  if (options.progress < 0 || options.progress > 100) {
    err << "autorun-sim preview: --progress takes 0 to 100\n";
    return kPreviewUsage;
  }
  std::error_code error;
  if (!fs::is_directory(options.deviceDir / "fs", error)) {
    err << "autorun-sim preview: no device image in " << options.deviceDir.string() << "\n";
    return kPreviewBadImage;
  }
  fs::create_directories(options.outDir, error);
  if (!fs::is_directory(options.outDir, error)) {
    err << "autorun-sim preview: cannot create " << options.outDir.string() << "\n";
    return kPreviewCannotCreate;
  }
  std::unique_ptr<Font> font;
  try {
    font = std::make_unique<Font>(options.font, kFontPixels);
  } catch (const std::exception& problem) {
    err << "autorun-sim preview: " << problem.what() << "\n";
    return kPreviewUsage;
  }

  sim::SimOptions simOptions;
  simOptions.deviceDir = options.deviceDir;
  if (!options.installerPath.empty())
    simOptions.installerPath = host::fromUtf8(options.installerPath);
  simOptions.answers = {false};  // the question is answered No: nothing is installed
  std::unique_ptr<sim::SimPlatform> platform;
  try {
    platform = std::make_unique<sim::SimPlatform>(std::move(simOptions));
  } catch (const sim::SimError& problem) {
    err << "autorun-sim preview: " << problem.what() << "\n";
    return kPreviewBadImage;
  }

  // As the installer starts: load the configuration, publish the folders, then show the
  // question and open the status dialog.
  InstallerContext context(*platform, std::string(kConfigurationKey));
  context.moduleHandle = sim::SimPlatform::kModuleHandle;
  context.commandLine = u"install";
  const int loaded = loadConfiguration(context);
  if (loaded != kLoadOk) {
    err << "autorun-sim preview: the installer would stop: "
        << host::toUtf8(fatalLoadMessage(loaded)) << "\n";
    return kPreviewNoConfiguration;
  }
  publishFolderVariables(context);
  askInstallQuestion(context);
  std::optional<WindowHandle> question;
  for (WindowHandle dialog : platform->dialogs()) {
    if (platform->windowInfo(dialog)->templateId == IDD_QUESTION) question = dialog;
  }
  const WindowHandle status = openStatusDialog(context);
  if (!question || status == 0) {
    err << "autorun-sim preview: the dialogs could not be made\n";
    return kPreviewBadImage;
  }
  setProgress(*platform, options.progress, status);

  DialogPainter painter(*platform, *font, options.frame);
  const struct {
    WindowHandle dialog;
    const char* name;
    const char* what;
  } pictures[] = {{*question, "question.png", "the install question"},
                  {status, "status.png", "the status dialog"}};
  for (const auto& picture : pictures) {
    const Picture painted = painter.paint(picture.dialog);
    if (!writePicture(painted, options.outDir / picture.name, picture.what, out, err)) {
      return kPreviewCannotCreate;
    }
    if (!painted.logoDrawn) {
      err << "autorun-sim preview: " << picture.name << ": the configured logo "
          << host::toUtf8(logoPath(context))
          << " is not drawn (missing, not a readable BMP, or larger than 240 x 100); the "
             "device shows its built-in logo there (grey box)\n";
    }
  }
  const int boxWidth = platform->windowInfo(*question)->rect.width();
  if (!paintMessageBoxes(context, painter, boxWidth, options.outDir, out, err)) {
    return kPreviewCannotCreate;
  }
  return kPreviewDone;
}

}  // namespace autorun::preview
