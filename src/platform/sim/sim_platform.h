// The simulated device: the platform of every test and of autorun-sim.
//
// A device image is a host folder:
//   DIR/fs/           the device's root "\" (matched without regard to case)
//   DIR/registry.reg  the registry, in the registry editor's text format
//   DIR/device.json   optional: cards, special folders, free bytes, open windows, ...
// Every operation that changes the device or talks to the user is recorded in a trace
// (in memory, and as JSON Lines in a file when asked).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform_services.h"

namespace autorun::sim {

// The device image cannot be used (missing, unreadable, malformed). The message names
// the file and, where it applies, the line.
class SimError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file the run is to write cannot be made (the trace file), or would overwrite a file
// of the device image.
class SimOutputError : public SimError {
 public:
  using SimError::SimError;
};

// Another run holds the device image, and did not let it go within the wait.
class SimBusyError : public SimError {
 public:
  using SimError::SimError;
};

struct SimOptions {
  std::filesystem::path deviceDir;
  std::u16string installerPath = u"\\Storage Card\\2577\\autorun.exe";
  // Answers to the Yes/No questions, in order (true = Yes).
  std::vector<bool> answers;
  std::optional<std::filesystem::path> traceFile;
  // Keep the trace in memory too (what trace() returns); a long run without a trace file
  // turns it off.
  bool keepTrace = true;
  // Load registered libraries as host shared objects and call their entries.
  bool loadDlls = false;
  // Ask questions on the terminal once the answers are used up; draw progress there.
  bool useTerminal = false;
  // Hold the image for the whole run, so that no other run changes it meanwhile: waits
  // at most this long for another run's hold to go (then SimBusyError). Nothing: no hold,
  // as for tests that keep several devices over one image.
  std::optional<std::chrono::milliseconds> lockWait;
};

// An in-memory picture of a window: 3 bytes (red, green, blue) per pixel, rows top down.
struct SimSurface {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// What the simulated window system knows about one window.
struct SimWindowInfo {
  enum class Kind { Dialog, Control, TopLevel };
  Kind kind = Kind::Dialog;
  int templateId = 0;       // the dialog's template (also for its controls)
  int controlId = 0;        // 0 for a dialog or a top-level window
  WindowHandle parent = 0;  // the dialog of a control
  std::u16string windowClass;
  std::u16string text;  // caption or control text
  Rect rect;            // in the parent's client coordinates (screen for dialogs)
  bool open = true;
  int progressPosition = 0;  // progress bars only
};

class DeviceState;

class SimPlatform : public PlatformServices {
 public:
  // The module handle autorun-sim gives the entry.
  static constexpr ModuleHandle kModuleHandle = 0x00010000;

  // Takes the image's lock (SimOptions::lockWait), reads its registry and device.json and
  // opens the trace file. Throws SimError when the image cannot be used, SimOutputError
  // when the trace file cannot be made or lies in the image, SimBusyError when another
  // run holds the image.
  explicit SimPlatform(SimOptions options);
  ~SimPlatform() override;
  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  // ---- What tests and front ends look at ---------------------------------------------

  // Every traced operation so far, in order; the same objects as the trace file's lines
  // (empty unless SimOptions::keepTrace).
  const std::vector<nlohmann::json>& trace() const;
  // Why the trace file stopped taking lines, or nothing while it holds them all. A run
  // goes on without it; the front end reports it at the end.
  const std::optional<std::string>& traceWriteError() const;
  // The host path a device path resolves to (also when it does not exist yet), or nothing
  // when it is not a valid path or would leave the image's fs/ folder.
  std::optional<std::filesystem::path> hostPath(const std::u16string& devicePath) const;
  // The device's default multibyte code page (device.json "code_page").
  int codePage() const;
  // The windows the simulated window system has made, and their pictures.
  std::optional<SimWindowInfo> windowInfo(WindowHandle window) const;
  const SimSurface* windowSurface(WindowHandle window) const;
  // The dialogs made so far, oldest first (open or ended).
  std::vector<WindowHandle> dialogs() const;
  // Answers not yet used.
  std::size_t answersLeft() const;

  // ---- PlatformServices --------------------------------------------------------------

  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override;
  std::uint32_t fileAttributes(const std::u16string& path) override;
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string& pattern,
                                                      FindEntry& first) override;
  std::uint32_t createDirectory(const std::u16string& path) override;
  bool copyFile(const std::u16string& source, const std::u16string& destination) override;
  bool deleteFile(const std::u16string& path) override;
  std::optional<std::uint64_t> freeBytes(const std::u16string& folder) override;
  std::string toMultiByte(const std::u16string& text) override;

  std::u16string moduleFileName(ModuleHandle module) override;
  std::u16string specialFolderPath(int number) override;
  std::unique_ptr<CardEnumeration> findFirstCard(std::u16string& firstCard) override;

  std::unique_ptr<RegistryKey> createKey(RegistryRoot root, const std::u16string& path) override;
  std::unique_ptr<RegistryKey> openKey(RegistryRoot root, const std::u16string& path) override;
  void broadcastSettingChange() override;

  std::unique_ptr<Library> loadLibrary(const std::u16string& path) override;

  bool shellOpen(const std::u16string& path) override;
  WindowHandle findWindow(const std::u16string& windowClass, const std::u16string& title) override;
  WindowHandle findWindowByClass(const std::u16string& windowClass) override;
  bool postCloseRequest(WindowHandle window) override;
  std::unique_ptr<Process> openWindowProcess(WindowHandle window) override;

  int runModalDialog(ModuleHandle module, int templateId, DialogHandler& handler) override;
  WindowHandle createModelessDialog(ModuleHandle module, int templateId,
                                    DialogHandler& handler) override;
  void endDialog(WindowHandle dialog, int result) override;
  WindowHandle dialogItem(WindowHandle dialog, int id) override;
  bool setWindowText(WindowHandle window, const std::u16string& text) override;
  std::intptr_t sendDialogItemMessage(WindowHandle dialog, int id, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) override;
  void updateWindow(WindowHandle window) override;
  bool windowRect(WindowHandle window, Rect& rect) override;
  bool clientRect(WindowHandle window, Rect& rect) override;
  bool moveWindow(WindowHandle window, int x, int y, int width, int height, bool repaint) override;
  bool shellInitDialog(WindowHandle dialog, std::uint32_t flags) override;
  void setForegroundWindow(WindowHandle window) override;
  DrawingSurface beginPaint(WindowHandle window) override;
  void endPaint(WindowHandle window, DrawingSurface surface) override;
  bool drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                  const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) override;

  int messageBox(const std::u16string& text, const std::u16string& caption,
                 std::uint32_t style) override;

 private:
  // Everything lives in shared state, so that files, keys and enumerations that outlive
  // the platform object stay harmless.
  std::shared_ptr<DeviceState> state_;
};

}  // namespace autorun::sim
