// `autorun-sim preview` in a build without FreeType or libpng: the command exists, so that
// scripts get a clear answer rather than an unknown-command error.
#include <iostream>

#include <CLI/CLI.hpp>

#include "preview.h"

namespace autorun::preview {

CLI::App* addPreviewCommand(CLI::App& app, int& exitCode) {
  CLI::App* preview =
      app.add_subcommand("preview", "Draws the card's dialogs as PNG pictures (not in this build)");
  preview->allow_extras();
  preview->callback([&exitCode]() {
    std::cerr << "autorun-sim preview: this autorun-sim was built without FreeType or "
                 "libpng; install them (libfreetype-dev, libpng-dev) and build again\n";
    exitCode = kPreviewUsage;
  });
  return preview;
}

}  // namespace autorun::preview
