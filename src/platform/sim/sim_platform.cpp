// SimPlatform: its construction, what tests and front ends look at, and the installer's
// own name. The device operations are defined by concern: sim_files.cpp (files),
// sim_folders.cpp (folders, special folders, cards), sim_registry_keys.cpp (registry),
// sim_programs.cpp (libraries, programs, their windows and processes) and sim_windows.cpp
// (dialogs, drawing, message boxes); DeviceState holds what they share.
#include "platform/sim/sim_platform.h"

#include "host_text/code_pages.h"
#include "platform/sim/device_state.h"

namespace autorun::sim {

SimPlatform::SimPlatform(SimOptions options)
    : state_(std::make_shared<DeviceState>(std::move(options))) {}

SimPlatform::~SimPlatform() = default;

const std::vector<nlohmann::json>& SimPlatform::trace() const {
  return state_->trace.entries();
}

const std::optional<std::string>& SimPlatform::traceWriteError() const {
  return state_->trace.writeError();
}

std::optional<std::filesystem::path> SimPlatform::hostPath(const std::u16string& devicePath) const {
  auto resolved = state_->files.resolve(devicePath);
  if (!resolved) return std::nullopt;
  return resolved->host;
}

int SimPlatform::codePage() const {
  return state_->config.codePage;
}

std::optional<SimWindowInfo> SimPlatform::windowInfo(WindowHandle window) const {
  const SimWindow* w = state_->window(window);
  if (w == nullptr) return std::nullopt;
  return w->info;
}

const SimSurface* SimPlatform::windowSurface(WindowHandle window) const {
  const SimWindow* w = state_->window(window);
  return w == nullptr ? nullptr : &w->surface;
}

std::vector<WindowHandle> SimPlatform::dialogs() const {
  return state_->dialogOrder;
}

std::size_t SimPlatform::answersLeft() const {
  return state_->options.answers.size() - state_->answerIndex;
}

std::string SimPlatform::toMultiByte(const std::u16string& text) {
  return host::toCodePage(text, state_->config.codePage);
}

std::u16string SimPlatform::moduleFileName(ModuleHandle) {
  return state_->options.installerPath;
}

}  // namespace autorun::sim
