#include "platform/sim/sim_terminal.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "host_text/escape.h"
#include "host_text/utf.h"

namespace autorun::sim {

namespace {

constexpr int kBarWidth = 40;
constexpr auto kRedrawInterval = std::chrono::milliseconds(33);

// Texts come from the card: none may steer the terminal (host_text/escape.h).
std::string shown(const std::u16string& text, host::LineBreaks lineBreaks) {
  return host::escapeControls(host::toUtf8(text), lineBreaks);
}

void printMessage(const std::u16string& caption, const std::u16string& text) {
  std::printf("\n[%s]\n%s\n", shown(caption, host::LineBreaks::Escaped).c_str(),
              shown(text, host::LineBreaks::Kept).c_str());
}

}  // namespace

Terminal::~Terminal() {
  endBarLine();
}

bool Terminal::canAsk() {
  return ::isatty(STDIN_FILENO) == 1;
}

void Terminal::endBarLine() {
  if (!barShown_) return;
  drawBar();
  std::fputc('\n', stdout);
  std::fflush(stdout);
  barShown_ = false;
}

bool Terminal::askYesNo(const std::u16string& caption, const std::u16string& text) {
  endBarLine();
  printMessage(caption, text);
  for (;;) {
    std::printf("Yes or No? [y/n] ");
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::printf("\n");
      return false;
    }
    if (line == "y" || line == "Y" || line == "yes" || line == "Yes") return true;
    if (line == "n" || line == "N" || line == "no" || line == "No") return false;
  }
}

void Terminal::show(const std::u16string& caption, const std::u16string& text) {
  endBarLine();
  printMessage(caption, text);
  std::fflush(stdout);
}

void Terminal::startProgress(const std::u16string& heading) {
  endBarLine();
  std::printf("%s\n", shown(heading, host::LineBreaks::Escaped).c_str());
  position_ = 0;
  barShown_ = true;
  drawBar();
}

void Terminal::progress(int position) {
  position_ = std::clamp(position, 0, 100);
  if (!barShown_) barShown_ = true;
  const auto now = std::chrono::steady_clock::now();
  if (position_ < 100 && now - lastDraw_ < kRedrawInterval) return;
  drawBar();
}

void Terminal::drawBar() {
  lastDraw_ = std::chrono::steady_clock::now();
  const int filled = position_ * kBarWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  std::printf("\r[%s] %3d%%", bar.c_str(), position_);
  std::fflush(stdout);
}

}  // namespace autorun::sim
