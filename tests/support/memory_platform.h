// The in-memory device of the unit tests and the fuzzers: a dumb store of files, folders,
// directory listings, registry keys and windows, looked up exactly as the test spells them
// (no case folding, no parent folders, no wildcards: the simulated device is the model of
// the device), and a record of what the installer asked of it, showed and started. Every
// other operation fails or finds nothing, as on NullPlatform. Standard library only, so
// that the fuzzers can use it too.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/null_platform.h"

namespace autorun::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text);

// A file over bytes in memory: its own, or a MemoryPlatform's file that it reads and
// writes in place.
class MemoryFile : public File {
 public:
  using Store = std::map<std::u16string, Bytes>;

  // A read-only file over its own copy of `bytes`.
  explicit MemoryFile(Bytes bytes, std::uint32_t mostPerCall = kWhole);
  // The file `path` of `store`, which must outlive it. A read fails once the file is gone.
  MemoryFile(Store& store, std::u16string path, bool writable, std::uint32_t mostPerCall = kWhole);

  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override;
  bool write(const void* buffer, std::uint32_t count, std::uint32_t& written) override;
  std::optional<std::uint64_t> size() override;
  bool seek(std::uint64_t offset) override;

  static constexpr std::uint32_t kWhole = 0xFFFFFFFFu;
  // The most one read or write moves, to try callers on devices that hand out less.
  std::uint32_t chunk;
  // What size() tells instead of the length; sizeKnown false: it cannot tell at all.
  std::optional<std::uint64_t> statedSize;
  bool sizeKnown = true;

 private:
  Bytes* bytes();

  Bytes own_;
  Store* store_ = nullptr;
  std::u16string path_;
  bool writable_ = false;
  std::uint64_t position_ = 0;
};

class MemoryPlatform : public NullPlatform {
 public:
  MemoryPlatform();
  ~MemoryPlatform() override;

  // ---- Files and folders ------------------------------------------------------------

  MemoryFile::Store files;
  std::set<std::u16string> folders;
  // Held open by another program: exclusively (no open works) or for reading (an
  // exclusive open and a write fail).
  std::set<std::u16string> heldExclusively;
  std::set<std::u16string> heldShared;
  // findFirstFile's answers by the exact pattern; an unlisted pattern matches nothing.
  std::map<std::u16string, std::vector<FindEntry>> listings;
  // What one read or write of an opened file moves at most.
  std::uint32_t chunk = MemoryFile::kWhole;
  std::optional<std::uint64_t> free = std::uint64_t{1} << 30;
  // What was asked of the file system, in order: every openFile, findFirstFile pattern and
  // deleteFile (done or not).
  std::vector<std::pair<std::u16string, FileOpenMode>> opens;
  std::vector<std::u16string> searches;
  std::vector<std::u16string> deletions;

  void addFile(const std::u16string& path, std::string_view bytes);
  // The file's bytes as text; nothing when there is no such file.
  std::optional<std::string> fileText(const std::u16string& path) const;

  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override;
  std::uint32_t fileAttributes(const std::u16string& path) override;
  std::unique_ptr<DirectoryEnumeration> findFirstFile(const std::u16string& pattern,
                                                      FindEntry& first) override;
  // Adds the folder; its parent is not looked at.
  std::uint32_t createDirectory(const std::u16string& path) override;
  bool copyFile(const std::u16string& source, const std::u16string& destination) override;
  bool deleteFile(const std::u16string& path) override;
  std::optional<std::uint64_t> freeBytes(const std::u16string& folder) override;

  // ---- The installer, the device's folders, the cards --------------------------------

  std::u16string modulePath = u"\\Storage Card\\2577\\autorun.exe";
  std::map<int, std::u16string> specialFolders = {{2, u"\\Windows\\Start Menu\\Programs"},
                                                  {5, u"\\My Documents"},
                                                  {36, u"\\Windows"},
                                                  {38, u"\\Program Files"}};
  // The cards' folder names in enumeration order; read at each step of an enumeration.
  std::vector<std::u16string> cards = {u"Storage Card"};

  std::u16string moduleFileName(ModuleHandle module) override;
  std::u16string specialFolderPath(int number) override;
  std::unique_ptr<CardEnumeration> findFirstCard(std::u16string& firstCard) override;

  // ---- Registry: keys by root and exact path -----------------------------------------

  struct Value {
    std::uint32_t type = 0;
    Bytes data;
    bool operator==(const Value&) const = default;
  };
  using Key = std::map<std::u16string, Value>;  // by value name; "" is the default value
  std::map<std::pair<RegistryRoot, std::u16string>, Key> registry;
  int broadcasts = 0;

  // Makes the key if needed and sets a 32-bit value in it.
  void setDword(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                std::uint32_t value);

  // Creates the key alone; the keys above it are not made.
  std::unique_ptr<RegistryKey> createKey(RegistryRoot root, const std::u16string& path) override;
  std::unique_ptr<RegistryKey> openKey(RegistryRoot root, const std::u16string& path) override;
  void broadcastSettingChange() override;

  // ---- Programs and windows ----------------------------------------------------------

  struct Window {
    std::u16string windowClass;
    std::u16string text;
    Rect rect;                // where moveWindow put it; what windowRect tells
    Rect client;              // what clientRect tells
    bool repainted = false;   // the last move asked for a repaint
    bool processEnds = true;  // its process ends when waited for
  };
  std::map<WindowHandle, Window> windows;
  // Dialog controls: (dialog, control id) -> window.
  std::map<std::pair<WindowHandle, int>, WindowHandle> dialogItems;
  WindowHandle foreground = 0;
  bool shellAcceptsDialogs = true;  // shellInitDialog's answer
  // What happened to them, in order.
  std::vector<std::u16string> programsOpened;
  std::vector<WindowHandle> closeRequests;
  std::vector<std::pair<WindowHandle, int>> endedDialogs;
  std::vector<std::pair<WindowHandle, std::uint32_t>> shellInitDialogs;
  struct ItemMessage {
    WindowHandle dialog = 0;
    int id = 0;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    bool operator==(const ItemMessage&) const = default;
  };
  std::vector<ItemMessage> itemMessages;  // answered with 0
  // The positions given to a status dialog's progress bar, in order.
  std::vector<int> progress(WindowHandle dialog) const;

  bool shellOpen(const std::u16string& path) override;
  WindowHandle findWindow(const std::u16string& windowClass, const std::u16string& title) override;
  WindowHandle findWindowByClass(const std::u16string& windowClass) override;
  bool postCloseRequest(WindowHandle window) override;
  std::unique_ptr<Process> openWindowProcess(WindowHandle window) override;
  void endDialog(WindowHandle dialog, int result) override;
  WindowHandle dialogItem(WindowHandle dialog, int id) override;
  std::intptr_t sendDialogItemMessage(WindowHandle dialog, int id, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) override;
  bool setWindowText(WindowHandle window, const std::u16string& text) override;
  bool windowRect(WindowHandle window, Rect& rect) override;
  bool clientRect(WindowHandle window, Rect& rect) override;
  bool moveWindow(WindowHandle window, int x, int y, int width, int height, bool repaint) override;
  bool shellInitDialog(WindowHandle dialog, std::uint32_t flags) override;
  void setForegroundWindow(WindowHandle window) override;

  // ---- Drawing -----------------------------------------------------------------------

  struct Drawing {
    DrawingSurface surface = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    const std::uint8_t* bitmapInfo = nullptr;
    const std::uint8_t* pixels = nullptr;
    bool operator==(const Drawing&) const = default;
  };
  std::vector<Drawing> drawings;  // every drawBitmap, in order

  bool drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                  const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) override;

  // ---- Message boxes -----------------------------------------------------------------

  struct Box {
    std::u16string text;
    std::u16string caption;
    std::uint32_t style = 0;
    bool operator==(const Box&) const = default;
  };
  std::vector<Box> boxes;  // each answered with kIdOk

  int messageBox(const std::u16string& text, const std::u16string& caption,
                 std::uint32_t style) override;
};

}  // namespace autorun::testing
