// The one door from the installer's core to the device.
//
// Every device operation the installer performs goes through this interface, so the
// same core runs on the handheld (win32/), on a simulated device over a host folder
// (sim/) and under test doubles. Text is UTF-16 (std::u16string) everywhere; device
// paths use backslashes and are at most kMaxPath - 1 (259) characters long.
//
// Method names are lower camel case so that no <windows.h> macro rewrites them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autorun {

// Fixed path buffers on the device hold 260 characters including the terminating NUL.
inline constexpr std::size_t kMaxPath = 260;
inline constexpr std::size_t kMaxPathLength = kMaxPath - 1;

// File attribute flags as the device reports them.
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// Error codes that callers distinguish.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

// Message-box styles and answers used by the installer.
inline constexpr std::uint32_t kMbOk = 0x00000000;
inline constexpr std::uint32_t kMbYesNo = 0x00000004;
inline constexpr std::uint32_t kMbIconError = 0x00000010;
inline constexpr std::uint32_t kMbIconQuestion = 0x00000020;
inline constexpr std::uint32_t kMbIconWarning = 0x00000030;
inline constexpr std::uint32_t kMbSetForeground = 0x00010000;
inline constexpr std::uint32_t kMbTopmost = 0x00040000;
inline constexpr std::uint32_t kMbOkForegroundTopmost = 0x00050000;
inline constexpr std::uint32_t kMbErrorStyle = 0x00050010;
inline constexpr std::uint32_t kMbQuestionStyle = 0x00050024;
inline constexpr std::uint32_t kMbWarningStyle = 0x00050030;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Window messages the core sends or handles.
inline constexpr std::uint32_t kWmClose = 16;            // close request
inline constexpr std::uint32_t kWmSettingChange = 0x1A;  // settings changed
inline constexpr std::uint32_t kSettingChangeToday = 0xF2;
inline constexpr std::uint32_t kPbmSetPos = 0x402;  // progress bar: set position

// Flags of the shell's full-screen dialog set-up.
inline constexpr std::uint32_t kShidiFullScreen = 4;          // full screen, no Done button
inline constexpr std::uint32_t kShidiFullScreenWithDone = 5;  // full screen with Done button

// How long the installer waits for the contacts application to end.
inline constexpr std::uint32_t kProcessWaitMilliseconds = 2000;

// Opaque handles. 0 always means "none".
using ModuleHandle = std::uintptr_t;
using WindowHandle = std::uintptr_t;
using DrawingSurface = std::uintptr_t;

enum class RegistryRoot { LocalMachine, CurrentUser, Users };

// Registry value types.
inline constexpr std::uint32_t kRegString = 1;  // UTF-16, stored with its terminating NUL
inline constexpr std::uint32_t kRegDword = 4;   // 32-bit little-endian

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// One entry of a directory enumeration.
struct FindEntry {
  std::u16string name;           // the entry's own name, without its folder
  std::uint32_t attributes = 0;  // kAttributeDirectory set for folders
  std::uint64_t size = 0;        // the whole size; the device's own record keeps the low 32 bits
  std::uint32_t sizeLow() const { return static_cast<std::uint32_t>(size); }
  bool isDirectory() const { return (attributes & kAttributeDirectory) != 0; }
};

// An open file. Closed when destroyed.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `count` bytes; `got` is what was read (0 at the end). False on an I/O error.
  virtual bool read(void* buffer, std::uint32_t count, std::uint32_t& got) = 0;
  // Writes `count` bytes; `written` is what was written. False on an I/O error.
  virtual bool write(const void* buffer, std::uint32_t count, std::uint32_t& written) = 0;
  // The whole size in bytes, or nothing when it cannot be told.
  virtual std::optional<std::uint64_t> size() = 0;
  // Moves the position to `offset` bytes from the start. False when that fails.
  virtual bool seek(std::uint64_t offset) = 0;
};

// Reads exactly `count` bytes into `buffer`, however few each read hands out. False when the
// file ends first, a read fails, or a read claims more than it was asked for; the buffer's
// contents are then unspecified.
inline bool readExactly(File& file, void* buffer, std::uint64_t count) {
  // Asks for at most 1 GiB at a time, well inside what one read of the device can take.
  constexpr std::uint64_t kMostPerRead = std::uint64_t{1} << 30;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    const auto asked = static_cast<std::uint32_t>(count < kMostPerRead ? count : kMostPerRead);
    std::uint32_t got = 0;
    if (!file.read(out, asked, got) || got == 0 || got > asked) return false;
    out += got;
    count -= got;
  }
  return true;
}

enum class FileOpenMode {
  ReadShared,     // existing file, for reading, others may read too
  ReadExclusive,  // existing file, for reading, nobody else may open it meanwhile
  WriteTruncate,  // create or truncate for writing; others may read
};

// A running directory enumeration. Closed when destroyed.
class DirectoryEnumeration {
 public:
  virtual ~DirectoryEnumeration() = default;
  // The next entry; false when there is none.
  virtual bool next(FindEntry& entry) = 0;
};

// A running storage-card enumeration. Closed when destroyed.
class CardEnumeration {
 public:
  virtual ~CardEnumeration() = default;
  // The next card's folder name in the root; false when there is no further card.
  virtual bool next(std::u16string& folderName) = 0;
};

// An open registry key. Closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Sets a 32-bit value (type 4). An empty name is the key's default value.
  virtual bool setDword(const std::u16string& name, std::uint32_t value) = 0;
  // Sets a string value (type 1) stored with its terminating NUL.
  virtual bool setString(const std::u16string& name, const std::u16string& value) = 0;
  // Reads a value of any type: its type and its raw bytes. False when it is absent.
  virtual bool queryValue(const std::u16string& name, std::uint32_t& type,
                          std::vector<std::uint8_t>& data) = 0;
  // Deletes the subkey `name` with everything below it. False when it does not exist
  // or cannot be deleted.
  virtual bool deleteSubkeyTree(const std::u16string& name) = 0;
  // Writes the key to storage.
  virtual void flush() = 0;
};

// A loaded library. Unloaded when destroyed.
class Library {
 public:
  virtual ~Library() = default;
  // Looks up the entry `name` and calls it without arguments, ignoring its return value.
  // False when the library has no such entry (then nothing is called).
  virtual bool callEntry(std::string_view name) = 0;
};

// A process opened with the right to wait for it. Closed when destroyed.
class Process {
 public:
  virtual ~Process() = default;
  // Waits at most `milliseconds` for the process to end; true when it ended.
  virtual bool waitForExit(std::uint32_t milliseconds) = 0;
};

// The behaviour of a dialog. A platform runs the dialog from its template and delivers
// the dialog's messages to these handlers; what they return is the dialog procedure's
// return value.
class DialogHandler {
 public:
  virtual ~DialogHandler() = default;
  virtual bool onInitDialog(WindowHandle dialog) = 0;
  // `commandId` is the low 16 bits of the command's first parameter.
  virtual bool onCommand(WindowHandle dialog, std::uint32_t commandId) = 0;
  virtual bool onPaint(WindowHandle dialog) = 0;
};

class PlatformServices {
 public:
  virtual ~PlatformServices() = default;

  // ---- Files and folders -------------------------------------------------------------

  // Opens a file. Null when it cannot be opened (absent, held exclusively, a bad path).
  virtual std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) = 0;
  // The attribute flags of a path; kInvalidAttributes when it does not exist.
  virtual std::uint32_t fileAttributes(const std::u16string& path) = 0;
  // Starts enumerating a pattern whose last component may hold '*' and '?'. Null when
  // nothing matches; otherwise `first` holds the first entry. "." and ".." may appear.
  virtual std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string& pattern,
                                                              FindEntry& first) = 0;
  // Creates one folder (no ancestors). kErrorSuccess, or the reason: kErrorPathNotFound
  // when the parent is missing, kErrorAlreadyExists when it exists, another code else.
  virtual std::uint32_t createDirectory(const std::u16string& path) = 0;
  // Copies a file, replacing an existing destination. True on success.
  virtual bool copyFile(const std::u16string& source, const std::u16string& destination) = 0;
  // Deletes a file (never a folder). True on success.
  virtual bool deleteFile(const std::u16string& path) = 0;
  // Free bytes on the volume that holds `folder`, or nothing when it cannot be told.
  virtual std::optional<std::uint64_t> freeBytes(const std::u16string& folder) = 0;
  // The text in the device's default multibyte code page; characters the code page cannot
  // represent become '?'.
  virtual std::string toMultiByte(const std::u16string& text) = 0;

  // ---- The installer itself and the device's folders ---------------------------------

  // The installer's own module file path, as the device reports it (not case-folded).
  virtual std::u16string moduleFileName(ModuleHandle module) = 0;
  // The special folder with this number (2 programs menu, 5 personal, 36 system folder,
  // 38 program files), created when missing. Empty when the device has no such folder.
  virtual std::u16string specialFolderPath(int number) = 0;
  // Starts the storage-card enumeration. Null when there is no card; otherwise
  // `firstCard` holds the first card's folder name.
  virtual std::unique_ptr<CardEnumeration> findFirstCard(std::u16string& firstCard) = 0;

  // ---- Registry ----------------------------------------------------------------------

  // Opens a key for writing, creating it and every missing key above it. Null on failure.
  virtual std::unique_ptr<RegistryKey> createKey(RegistryRoot root, const std::u16string& path) = 0;
  // Opens an existing key for reading. Null when it does not exist.
  virtual std::unique_ptr<RegistryKey> openKey(RegistryRoot root, const std::u16string& path) = 0;
  // Sends the settings-changed message (0x1A, 0xF2, 0) to all top-level windows without
  // hanging on one that does not answer.
  virtual void broadcastSettingChange() = 0;

  // ---- Libraries ---------------------------------------------------------------------

  // Loads a library by path. Null when it cannot be loaded.
  virtual std::unique_ptr<Library> loadLibrary(const std::u16string& path) = 0;

  // ---- Programs and windows ----------------------------------------------------------

  // Starts a file through the shell: verb "open", no parameters, no working folder,
  // normal show state, no error UI. True when the shell accepted it.
  virtual bool shellOpen(const std::u16string& path) = 0;
  // A top-level window with exactly this class and title; 0 when there is none.
  virtual WindowHandle findWindow(const std::u16string& windowClass,
                                  const std::u16string& title) = 0;
  // A top-level window of this class, whatever its title; 0 when there is none.
  virtual WindowHandle findWindowByClass(const std::u16string& windowClass) = 0;
  // Posts a close request (message 16, parameters 0). True when it was posted.
  virtual bool postCloseRequest(WindowHandle window) = 0;
  // Opens the process that owns a window, with the right to wait for it. Null on failure.
  virtual std::unique_ptr<Process> openWindowProcess(WindowHandle window) = 0;

  // ---- Dialogs and drawing -----------------------------------------------------------

  // Runs a dialog template of the module as a modal dialog with no owner; the handler
  // receives its messages. The result given to endDialog, or -1 when it cannot be run.
  virtual int runModalDialog(ModuleHandle module, int templateId, DialogHandler& handler) = 0;
  // Creates a dialog template as a modeless, visible dialog with no owner. The handler
  // must outlive the dialog. 0 when it cannot be created.
  virtual WindowHandle createModelessDialog(ModuleHandle module, int templateId,
                                            DialogHandler& handler) = 0;
  // Ends a modal dialog with a result.
  virtual void endDialog(WindowHandle dialog, int result) = 0;
  // The control with this id in a dialog; 0 when there is none.
  virtual WindowHandle dialogItem(WindowHandle dialog, int id) = 0;
  virtual bool setWindowText(WindowHandle window, const std::u16string& text) = 0;
  // Sends a message to a dialog's control and returns the control's answer.
  virtual std::intptr_t sendDialogItemMessage(WindowHandle dialog, int id, std::uint32_t message,
                                              std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // Repaints a window at once, without waiting for a message loop.
  virtual void updateWindow(WindowHandle window) = 0;
  virtual bool windowRect(WindowHandle window, Rect& rect) = 0;
  virtual bool clientRect(WindowHandle window, Rect& rect) = 0;
  // Moves and sizes a window in its parent's client coordinates, repainting it if asked.
  virtual bool moveWindow(WindowHandle window, int x, int y, int width, int height,
                          bool repaint) = 0;
  // The shell's full-screen dialog set-up (kShidiFullScreen or kShidiFullScreenWithDone).
  virtual bool shellInitDialog(WindowHandle dialog, std::uint32_t flags) = 0;
  virtual void setForegroundWindow(WindowHandle window) = 0;
  // Begins painting a window; 0 when that fails. Pair with endPaint.
  virtual DrawingSurface beginPaint(WindowHandle window) = 0;
  virtual void endPaint(WindowHandle window, DrawingSurface surface) = 0;
  // Copies a device-independent bitmap held in memory onto a surface unchanged: an
  // off-screen copy of `width` x `height` pixels is made at (x, y) from `bitmapInfo`
  // (the 40-byte info header, top-down height, then any colour table) and `pixels`, then
  // copied to (0, 0) of the target with a plain source copy.
  virtual bool drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                          const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) = 0;

  // ---- Message boxes -----------------------------------------------------------------

  // A message box owned by the current foreground window; the button pressed (kIdOk,
  // kIdYes, kIdNo, ...). 0 when it cannot be shown.
  virtual int messageBox(const std::u16string& text, const std::u16string& caption,
                         std::uint32_t style) = 0;
};

}  // namespace autorun
