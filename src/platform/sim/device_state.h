// The simulated device's state, shared by SimPlatform and everything it hands out (files,
// keys, enumerations, libraries, processes), so that those which outlive the platform
// object stay harmless.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "host_text/utf.h"
#include "platform/platform_services.h"
#include "platform/sim/device_config.h"
#include "platform/sim/image_lock.h"
#include "platform/sim/sharing.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_terminal.h"
#include "platform/sim/sim_trace.h"

namespace autorun::sim {

// Device text as it goes into the trace.
inline std::string utf8(std::u16string_view text) {
  return host::toUtf8(text);
}

// One window of the simulated window system: a dialog, one of its controls, or a
// top-level window of another program (from device.json).
struct SimWindow {
  SimWindowInfo info;
  DialogHandler* handler = nullptr;  // dialogs only
  bool ended = false;
  int result = 0;
  std::vector<WindowHandle> controls;  // dialogs only
  SimSurface surface;
  SimWindowSetup setup;  // top-level windows of other programs
};

class DeviceState {
 public:
  // Refuses a trace file inside the image, takes the image's lock, reads its device.json
  // and registry and opens the trace file, in this order: nothing is read before the
  // image is held, nothing written before all is well. Throws as SimPlatform's constructor.
  explicit DeviceState(SimOptions simOptions);

  SimOptions options;
  ImageLock lock;
  DeviceConfig config;
  DeviceFileSystem files;
  RegistryFile registry;
  TraceLog trace;
  Terminal terminal;

  OpenFiles openFiles;
  std::map<WindowHandle, SimWindow> windows;
  std::vector<WindowHandle> dialogOrder;
  std::map<DrawingSurface, WindowHandle> paintSurfaces;
  WindowHandle nextHandle = 0x100;
  DrawingSurface nextSurface = 0x7000;
  std::size_t answerIndex = 0;
  WindowHandle foreground = 0;

  void record(nlohmann::json entry) { trace.record(std::move(entry)); }
  bool tracing() const { return trace.active(); }

  SimWindow* window(WindowHandle handle);
  // The control with this id in a dialog; 0 when there is none.
  WindowHandle control(WindowHandle dialog, int id);

  // The answer to the next Yes/No question: the answer list first, then the terminal,
  // else No.
  bool takeAnswer(const std::u16string& caption, const std::u16string& text);

  // Adds the window's identity to a trace entry.
  void describe(nlohmann::json& entry, WindowHandle handle);
};

}  // namespace autorun::sim
