// The machinery of the fault sweep: a flow run on a device image in a child process of its
// own, with one platform operation made to fail, and what the run left behind (its result,
// trace, device and, for the reference run, the calls of every operation).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "context/installer_context.h"
#include "hardening/hardening_fixture.h"
#include "platform/sim/fault_injecting_platform.h"

namespace autorun::testing::hardening {

enum class Flow { Install, Uninstall, CardInsert, CardRemove, Upgrade };

// Child exit codes: the flow's result, or a failure to start it.
inline constexpr int kReturnedFalse = 0;
inline constexpr int kReturnedTrue = 1;
inline constexpr int kReturnedNothing = 2;
inline constexpr int kCannotStart = 90;

void PrintTo(Flow flow, std::ostream* out);

struct Fault {
  sim::Operation operation;
  std::uint64_t position;
  bool persistent;
  std::string describe() const {
    return std::string(sim::operationName(operation)) + " call " + std::to_string(position) +
           (persistent ? " and every later one" : " once");
  }
};

// The style recorded for the install question, which is a dialog and not a message box.
inline constexpr std::uint32_t kQuestionDialog = 0xFFFFFFFFu;

struct Message {
  std::string text;
  std::string caption;
  std::uint32_t style;
};

// What a run left behind.
struct Outcome {
  int result = -1;
  std::vector<nlohmann::json> trace;
  DeviceSnapshot device;
  std::map<sim::Operation, std::uint64_t> calls;  // reference run only

  // The message boxes and questions shown, in order.
  std::vector<Message> messages() const;
  // The trace entries of this kind.
  std::size_t count(const std::string& op) const;
  // The sources of the first `limit` copies made, in order.
  std::vector<std::string> copySources(std::size_t limit) const;
  // A registry value as the snapshot holds it ("4:01000000"); nothing when absent.
  std::optional<std::string> registryValue(const std::string& key, const std::string& name) const;
};

// Replaces the device image at `to` with a copy of the one at `from`.
void copyImage(const std::filesystem::path& from, const std::filesystem::path& to);

// Runs the flow on the image in a child process, failing `fault` if given, and reads back
// what it left; nothing when the child crashed, hung or could not start (`problem` says
// which).
std::optional<Outcome> runChild(const std::filesystem::path& dir, Flow flow,
                                std::vector<bool> answers, const std::optional<Fault>& fault,
                                std::string& problem);

}  // namespace autorun::testing::hardening
