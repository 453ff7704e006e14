// Questions, message boxes and the progress bar of the simulated device on a terminal; the
// card's texts are shown with their control characters written out.
#pragma once

#include <chrono>
#include <string>

namespace autorun::sim {

class Terminal {
 public:
  ~Terminal();
  // Whether stdin is a terminal, so questions can be asked there.
  static bool canAsk();
  // Shows a Yes/No question and waits for the answer; No at the end of input.
  bool askYesNo(const std::u16string& caption, const std::u16string& text);
  // Shows a message that needs no answer.
  void show(const std::u16string& caption, const std::u16string& text);
  // Starts a progress bar under a heading.
  void startProgress(const std::u16string& heading);
  // Moves the bar; redrawn at most about 30 times a second, and always at 100.
  void progress(int position);

 private:
  void endBarLine();
  void drawBar();

  bool barShown_ = false;
  int position_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace autorun::sim
