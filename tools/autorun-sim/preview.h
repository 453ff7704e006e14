// `autorun-sim preview`: draws the install question, the status dialog and every message box
// of the card in a device image as PNG pictures, so that an author sees the branding and the
// texts without a device.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

namespace autorun::preview {

inline constexpr const char* kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct PreviewOptions {
  std::filesystem::path deviceDir;
  std::filesystem::path outDir;
  int progress = 50;   // the status dialog's progress position, 0..100
  bool frame = false;  // add the device's title bar with the caption above the client area
  std::filesystem::path font = kDefaultFont;
  std::string installerPath;  // the installer's device path; empty for the simulator's default
};

// Exit codes of the preview.
inline constexpr int kPreviewDone = 0;
inline constexpr int kPreviewNoConfiguration = 1;  // the configuration does not load
inline constexpr int kPreviewUsage = 64;
inline constexpr int kPreviewBadImage = 65;
inline constexpr int kPreviewInternal = 70;
inline constexpr int kPreviewCannotCreate = 73;

// Writes question.png, status.png and a message-NAME.png for each message box into the
// output folder. Problems go to `err`. In a build without FreeType or libpng it says so
// and returns kPreviewUsage.
int runPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err);

}  // namespace autorun::preview
