// SimPlatform's libraries and programs: libraries loaded (as host shared objects with
// --load-dlls, else by their file alone), programs opened through the shell (recorded,
// not started), and the top-level windows of other programs with their processes, as
// device.json describes them.
#include <dlfcn.h>

#include <cstring>

#include "platform/sim/device_state.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

using nlohmann::json;

// A host shared object, closed when it goes.
struct SharedObjectCloser {
  void operator()(void* handle) const { ::dlclose(handle); }
};
using SharedObject = std::unique_ptr<void, SharedObjectCloser>;

class SimLibrary : public Library {
 public:
  // `handle` is null when the library was not loaded for real.
  SimLibrary(std::shared_ptr<DeviceState> state, std::u16string path, SharedObject handle)
      : state_(std::move(state)), path_(std::move(path)), handle_(std::move(handle)) {}

  bool callEntry(std::string_view name) override {
    bool ok = true;
    if (handle_ != nullptr) {
      void* symbol = ::dlsym(handle_.get(), std::string(name).c_str());
      ok = symbol != nullptr;
      if (ok) {
        // The self-registration entries take nothing; their result is not looked at.
        using Entry = long (*)();
        Entry entry = nullptr;
        static_assert(sizeof entry == sizeof symbol);
        std::memcpy(&entry, &symbol, sizeof entry);
        entry();
      }
    }
    state_->record(
        {{"op", "call_entry"}, {"path", utf8(path_)}, {"entry", std::string(name)}, {"ok", ok}});
    return ok;
  }

 private:
  std::shared_ptr<DeviceState> state_;
  std::u16string path_;
  SharedObject handle_;
};

// Adds a program window's class and title to a trace entry.
void nameWindow(json& entry, const SimWindow* window) {
  if (window == nullptr) return;
  entry["class"] = utf8(window->info.windowClass);
  entry["title"] = utf8(window->info.text);
}

class SimProcess : public Process {
 public:
  SimProcess(std::shared_ptr<DeviceState> state, WindowHandle window)
      : state_(std::move(state)), window_(window) {}

  bool waitForExit(std::uint32_t milliseconds) override {
    SimWindow* w = state_->window(window_);
    const bool exited = w != nullptr && w->setup.processExits;
    if (exited) w->info.open = false;  // its windows go with it
    json entry = {{"op", "wait_process"}, {"milliseconds", milliseconds}, {"exited", exited}};
    nameWindow(entry, w);
    state_->record(std::move(entry));
    return exited;
  }

 private:
  std::shared_ptr<DeviceState> state_;
  WindowHandle window_;
};

// The first open window that is not a control, of this class and (when given) this title.
WindowHandle findOpenWindow(const DeviceState& s, const std::u16string& windowClass,
                            const std::u16string* title) {
  for (const auto& [handle, window] : s.windows) {
    if (window.info.kind != SimWindowInfo::Kind::Control && window.info.open &&
        window.info.windowClass == windowClass &&
        (title == nullptr || window.info.text == *title)) {
      return handle;
    }
  }
  return 0;
}

}  // namespace

std::unique_ptr<Library> SimPlatform::loadLibrary(const std::u16string& path) {
  const auto resolved = state_->files.resolve(path);
  json entry = {{"op", "load_library"}, {"path", utf8(path)}};
  std::unique_ptr<Library> library;
  if (resolved && resolved->file) {
    SharedObject handle;
    if (state_->options.loadDlls) {
      handle.reset(::dlopen(resolved->host.c_str(), RTLD_NOW | RTLD_LOCAL));
      if (handle == nullptr) {
        const char* error = ::dlerror();
        entry["error"] = error != nullptr ? error : "cannot be loaded";
      }
    }
    if (!state_->options.loadDlls || handle != nullptr) {
      library = std::make_unique<SimLibrary>(state_, path, std::move(handle));
    }
  }
  entry["ok"] = library != nullptr;
  state_->record(std::move(entry));
  return library;
}

bool SimPlatform::shellOpen(const std::u16string& path) {
  // Recorded, not started.
  const auto resolved = state_->files.resolve(path);
  const bool ok = resolved && resolved->exists();
  state_->record({{"op", "shell_open"}, {"path", utf8(path)}, {"ok", ok}});
  return ok;
}

WindowHandle SimPlatform::findWindow(const std::u16string& windowClass,
                                     const std::u16string& title) {
  return findOpenWindow(*state_, windowClass, &title);
}

WindowHandle SimPlatform::findWindowByClass(const std::u16string& windowClass) {
  return findOpenWindow(*state_, windowClass, nullptr);
}

bool SimPlatform::postCloseRequest(WindowHandle window) {
  SimWindow* w = state_->window(window);
  const bool posted = w != nullptr && w->info.open;
  json entry = {{"op", "close_request"}, {"window", window}, {"ok", posted}};
  nameWindow(entry, w);
  if (posted && w->info.kind == SimWindowInfo::Kind::TopLevel) {
    entry["closed"] = w->setup.closes;
    if (w->setup.closes) w->info.open = false;
  }
  state_->record(std::move(entry));
  return posted;
}

std::unique_ptr<Process> SimPlatform::openWindowProcess(WindowHandle window) {
  const SimWindow* w = state_->window(window);
  if (w == nullptr || !w->info.open || w->info.kind != SimWindowInfo::Kind::TopLevel)
    return nullptr;
  return std::make_unique<SimProcess>(state_, window);
}

}  // namespace autorun::sim
