#include "platform/sim/device_state.h"

#include "platform/sim/host_files.h"

namespace autorun::sim {

namespace {

DeviceConfig readDeviceConfig(const std::filesystem::path& file) {
  const std::optional<std::string> text = readHostFile(file, kMaxDeviceConfigBytes);
  return text ? parseDeviceConfig(*text, file.string()) : DeviceConfig{};
}

SimOptions checkedOptions(SimOptions options) {
  std::error_code error;
  if (!std::filesystem::is_directory(options.deviceDir, error)) {
    throw SimError(options.deviceDir.string() +
                   ": no device image here (expected a folder with fs/ in it)");
  }
  if (options.traceFile) TraceLog::refuseInsideImage(*options.traceFile, options.deviceDir);
  return options;
}

}  // namespace

DeviceState::DeviceState(SimOptions simOptions)
    : options(checkedOptions(std::move(simOptions))),
      lock(options.deviceDir, options.lockWait),
      config(readDeviceConfig(options.deviceDir / "device.json")),
      files(options.deviceDir / "fs"),
      registry(options.deviceDir / "registry.reg", config.codePage),
      trace(options.traceFile, options.keepTrace) {
  for (const SimWindowSetup& setup : config.windows) {
    SimWindow window;
    window.info.kind = SimWindowInfo::Kind::TopLevel;
    window.info.windowClass = setup.windowClass;
    window.info.text = setup.title;
    window.setup = setup;
    windows.emplace(nextHandle++, std::move(window));
  }
}

SimWindow* DeviceState::window(WindowHandle handle) {
  const auto it = windows.find(handle);
  return it == windows.end() ? nullptr : &it->second;
}

WindowHandle DeviceState::control(WindowHandle dialog, int id) {
  const SimWindow* d = window(dialog);
  if (d == nullptr) return 0;
  for (WindowHandle handle : d->controls) {
    const SimWindow* c = window(handle);
    if (c != nullptr && c->info.controlId == id) return handle;
  }
  return 0;
}

bool DeviceState::takeAnswer(const std::u16string& caption, const std::u16string& text) {
  if (answerIndex < options.answers.size()) return options.answers[answerIndex++];
  if (options.useTerminal && Terminal::canAsk()) return terminal.askYesNo(caption, text);
  return false;
}

void DeviceState::describe(nlohmann::json& entry, WindowHandle handle) {
  entry["window"] = handle;
  if (const SimWindow* w = window(handle)) {
    if (w->info.templateId != 0) entry["template"] = w->info.templateId;
    if (w->info.controlId != 0) entry["control"] = w->info.controlId;
  }
}

}  // namespace autorun::sim
