// Shared pieces of the action tests on the in-memory device: an installer context whose
// calls go through a counter to the device, and directory entries for its listings.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "context/installer_context.h"
#include "platform/sim/fault_injecting_platform.h"
#include "support/memory_platform.h"
#include "support/test_keys.h"

namespace autorun::testing {

inline FindEntry fileEntry(std::u16string name, std::uint64_t size = 1) {
  return FindEntry{std::move(name), 0, size};
}
inline FindEntry folderEntry(std::u16string name) {
  return FindEntry{std::move(name), kAttributeDirectory, 0};
}

// An installer context over `Device` (the in-memory device, or one derived from it).
template <class Device>
class ActionsTestOn : public ::testing::Test {
 protected:
  ActionsTestOn() : context(platform, std::string(kTestKey)) {
    context.installerPath = u"\\storage card\\2577\\autorun.exe";
  }

  void set(std::u16string_view key, std::u16string_view value) {
    context.config.setValue(key, value);
  }
  // Calls of an operation made so far.
  std::uint64_t calls(sim::Operation operation) const { return platform.callCount(operation); }

  Device device;                                 // what the device holds and recorded
  sim::FaultInjectingPlatform platform{device};  // what the installer calls: counts, or fails
  InstallerContext context;
};

using ActionsTest = ActionsTestOn<MemoryPlatform>;

}  // namespace autorun::testing
