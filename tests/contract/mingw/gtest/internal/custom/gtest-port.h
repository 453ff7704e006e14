// GoogleTest's own customisation point, for the Windows test programs: the Windows
// compiler's threads model has no std::mutex, which GoogleTest's Notification (used only
// to start its own helper threads) is built on. This one waits on an atomic flag.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
