#include "simulator_heap.h"

#include <utility>
#include <vector>

namespace autorun::bench {
namespace {

template <typename Call>
decltype(auto) asSimulator(Call&& call) {
  const HeapOwnerScope scope(HeapOwner::Simulator);
  return std::forward<Call>(call)();
}

// What an operation hands back is the installer's: on the device the Win32 layer builds it
// in the installer's own heap. The simulator's copy is moved into one made as the
// installer's, and its own is freed.
template <typename Value>
void rehome(Value& value) {
  const HeapOwnerScope scope(HeapOwner::Installer);
  Value copy(value);
  value = std::move(copy);
}

template <typename Value>
Value rehomed(Value value) {
  rehome(value);
  return value;
}

// An object handed out: its wrapper, as small as the Win32 layer's handle object, is the
// installer's; what the simulator keeps behind it is the simulator's.
template <typename Wrapper, typename Object>
std::unique_ptr<Object> handedOut(std::unique_ptr<Object> inner) {
  if (!inner) return nullptr;
  const HeapOwnerScope scope(HeapOwner::Installer);
  return std::make_unique<Wrapper>(std::move(inner));
}

class SimulatorFile : public File {
 public:
  explicit SimulatorFile(std::unique_ptr<File> inner) : inner_(std::move(inner)) {}
  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
    return asSimulator([&] { return inner_->read(buffer, count, got); });
  }
  bool write(const void* buffer, std::uint32_t count, std::uint32_t& written) override {
    return asSimulator([&] { return inner_->write(buffer, count, written); });
  }
  std::optional<std::uint64_t> size() override {
    return asSimulator([&] { return inner_->size(); });
  }
  bool seek(std::uint64_t offset) override {
    return asSimulator([&] { return inner_->seek(offset); });
  }

 private:
  std::unique_ptr<File> inner_;
};

class SimulatorListing : public DirectoryEnumeration {
 public:
  explicit SimulatorListing(std::unique_ptr<DirectoryEnumeration> inner)
      : inner_(std::move(inner)) {}
  bool next(FindEntry& entry) override {
    const bool found = asSimulator([&] { return inner_->next(entry); });
    rehome(entry.name);
    return found;
  }

 private:
  std::unique_ptr<DirectoryEnumeration> inner_;
};

class SimulatorCards : public CardEnumeration {
 public:
  explicit SimulatorCards(std::unique_ptr<CardEnumeration> inner) : inner_(std::move(inner)) {}
  bool next(std::u16string& folderName) override {
    const bool found = asSimulator([&] { return inner_->next(folderName); });
    rehome(folderName);
    return found;
  }

 private:
  std::unique_ptr<CardEnumeration> inner_;
};

class SimulatorKey : public RegistryKey {
 public:
  explicit SimulatorKey(std::unique_ptr<RegistryKey> inner) : inner_(std::move(inner)) {}
  bool setDword(const std::u16string& name, std::uint32_t value) override {
    return asSimulator([&] { return inner_->setDword(name, value); });
  }
  bool setString(const std::u16string& name, const std::u16string& value) override {
    return asSimulator([&] { return inner_->setString(name, value); });
  }
  bool queryValue(const std::u16string& name, std::uint32_t& type,
                  std::vector<std::uint8_t>& data) override {
    const bool found = asSimulator([&] { return inner_->queryValue(name, type, data); });
    rehome(data);
    return found;
  }
  bool deleteSubkeyTree(const std::u16string& name) override {
    return asSimulator([&] { return inner_->deleteSubkeyTree(name); });
  }
  void flush() override {
    asSimulator([&] { inner_->flush(); });
  }

 private:
  std::unique_ptr<RegistryKey> inner_;
};

class SimulatorLibrary : public Library {
 public:
  explicit SimulatorLibrary(std::unique_ptr<Library> inner) : inner_(std::move(inner)) {}
  bool callEntry(std::string_view name) override {
    return asSimulator([&] { return inner_->callEntry(name); });
  }

 private:
  std::unique_ptr<Library> inner_;
};

class SimulatorProcess : public Process {
 public:
  explicit SimulatorProcess(std::unique_ptr<Process> inner) : inner_(std::move(inner)) {}
  bool waitForExit(std::uint32_t milliseconds) override {
    return asSimulator([&] { return inner_->waitForExit(milliseconds); });
  }

 private:
  std::unique_ptr<Process> inner_;
};

// The installer's dialog behaviour, called back by the device.
class InstallerHandler : public DialogHandler {
 public:
  explicit InstallerHandler(DialogHandler& inner) : inner_(inner) {}
  bool onInitDialog(WindowHandle dialog) override {
    const HeapOwnerScope scope(HeapOwner::Installer);
    return inner_.onInitDialog(dialog);
  }
  bool onCommand(WindowHandle dialog, std::uint32_t commandId) override {
    const HeapOwnerScope scope(HeapOwner::Installer);
    return inner_.onCommand(dialog, commandId);
  }
  bool onPaint(WindowHandle dialog) override {
    const HeapOwnerScope scope(HeapOwner::Installer);
    return inner_.onPaint(dialog);
  }

 private:
  DialogHandler& inner_;
};

}  // namespace

SimulatorHeapPlatform::~SimulatorHeapPlatform() {
  const HeapOwnerScope scope(HeapOwner::Simulator);
  handlers_.clear();
}

DialogHandler& SimulatorHeapPlatform::installerSide(DialogHandler& handler) {
  const HeapOwnerScope scope(HeapOwner::Simulator);
  auto& adapter = handlers_[&handler];
  if (!adapter) adapter = std::make_unique<InstallerHandler>(handler);
  return *adapter;
}

std::unique_ptr<File> SimulatorHeapPlatform::openFile(const std::u16string& path,
                                                      FileOpenMode mode) {
  return handedOut<SimulatorFile>(
      asSimulator([&] { return PlatformWrapper::openFile(path, mode); }));
}
std::uint32_t SimulatorHeapPlatform::fileAttributes(const std::u16string& path) {
  return asSimulator([&] { return PlatformWrapper::fileAttributes(path); });
}
std::unique_ptr<DirectoryEnumeration> SimulatorHeapPlatform::findFirstFile(
    const std::u16string& pattern, FindEntry& first) {
  auto listing = asSimulator([&] { return PlatformWrapper::findFirstFile(pattern, first); });
  rehome(first.name);
  return handedOut<SimulatorListing>(std::move(listing));
}
std::uint32_t SimulatorHeapPlatform::createDirectory(const std::u16string& path) {
  return asSimulator([&] { return PlatformWrapper::createDirectory(path); });
}
bool SimulatorHeapPlatform::copyFile(const std::u16string& source,
                                     const std::u16string& destination) {
  return asSimulator([&] { return PlatformWrapper::copyFile(source, destination); });
}
bool SimulatorHeapPlatform::deleteFile(const std::u16string& path) {
  return asSimulator([&] { return PlatformWrapper::deleteFile(path); });
}
std::optional<std::uint64_t> SimulatorHeapPlatform::freeBytes(const std::u16string& folder) {
  return asSimulator([&] { return PlatformWrapper::freeBytes(folder); });
}
std::string SimulatorHeapPlatform::toMultiByte(const std::u16string& text) {
  return rehomed(asSimulator([&] { return PlatformWrapper::toMultiByte(text); }));
}
std::u16string SimulatorHeapPlatform::moduleFileName(ModuleHandle module) {
  return rehomed(asSimulator([&] { return PlatformWrapper::moduleFileName(module); }));
}
std::u16string SimulatorHeapPlatform::specialFolderPath(int number) {
  return rehomed(asSimulator([&] { return PlatformWrapper::specialFolderPath(number); }));
}
std::unique_ptr<CardEnumeration> SimulatorHeapPlatform::findFirstCard(std::u16string& firstCard) {
  auto cards = asSimulator([&] { return PlatformWrapper::findFirstCard(firstCard); });
  rehome(firstCard);
  return handedOut<SimulatorCards>(std::move(cards));
}
std::unique_ptr<RegistryKey> SimulatorHeapPlatform::createKey(RegistryRoot root,
                                                              const std::u16string& path) {
  return handedOut<SimulatorKey>(
      asSimulator([&] { return PlatformWrapper::createKey(root, path); }));
}
std::unique_ptr<RegistryKey> SimulatorHeapPlatform::openKey(RegistryRoot root,
                                                            const std::u16string& path) {
  return handedOut<SimulatorKey>(asSimulator([&] { return PlatformWrapper::openKey(root, path); }));
}
void SimulatorHeapPlatform::broadcastSettingChange() {
  asSimulator([&] { PlatformWrapper::broadcastSettingChange(); });
}
std::unique_ptr<Library> SimulatorHeapPlatform::loadLibrary(const std::u16string& path) {
  return handedOut<SimulatorLibrary>(
      asSimulator([&] { return PlatformWrapper::loadLibrary(path); }));
}
bool SimulatorHeapPlatform::shellOpen(const std::u16string& path) {
  return asSimulator([&] { return PlatformWrapper::shellOpen(path); });
}
WindowHandle SimulatorHeapPlatform::findWindow(const std::u16string& windowClass,
                                               const std::u16string& title) {
  return asSimulator([&] { return PlatformWrapper::findWindow(windowClass, title); });
}
WindowHandle SimulatorHeapPlatform::findWindowByClass(const std::u16string& windowClass) {
  return asSimulator([&] { return PlatformWrapper::findWindowByClass(windowClass); });
}
bool SimulatorHeapPlatform::postCloseRequest(WindowHandle window) {
  return asSimulator([&] { return PlatformWrapper::postCloseRequest(window); });
}
std::unique_ptr<Process> SimulatorHeapPlatform::openWindowProcess(WindowHandle window) {
  return handedOut<SimulatorProcess>(
      asSimulator([&] { return PlatformWrapper::openWindowProcess(window); }));
}
int SimulatorHeapPlatform::runModalDialog(ModuleHandle module, int templateId,
                                          DialogHandler& handler) {
  DialogHandler& installer = installerSide(handler);
  return asSimulator(
      [&] { return PlatformWrapper::runModalDialog(module, templateId, installer); });
}
WindowHandle SimulatorHeapPlatform::createModelessDialog(ModuleHandle module, int templateId,
                                                         DialogHandler& handler) {
  DialogHandler& installer = installerSide(handler);
  return asSimulator(
      [&] { return PlatformWrapper::createModelessDialog(module, templateId, installer); });
}
void SimulatorHeapPlatform::endDialog(WindowHandle dialog, int result) {
  asSimulator([&] { PlatformWrapper::endDialog(dialog, result); });
}
WindowHandle SimulatorHeapPlatform::dialogItem(WindowHandle dialog, int id) {
  return asSimulator([&] { return PlatformWrapper::dialogItem(dialog, id); });
}
bool SimulatorHeapPlatform::setWindowText(WindowHandle window, const std::u16string& text) {
  return asSimulator([&] { return PlatformWrapper::setWindowText(window, text); });
}
std::intptr_t SimulatorHeapPlatform::sendDialogItemMessage(WindowHandle dialog, int id,
                                                           std::uint32_t message,
                                                           std::uintptr_t wParam,
                                                           std::intptr_t lParam) {
  return asSimulator(
      [&] { return PlatformWrapper::sendDialogItemMessage(dialog, id, message, wParam, lParam); });
}
void SimulatorHeapPlatform::updateWindow(WindowHandle window) {
  asSimulator([&] { PlatformWrapper::updateWindow(window); });
}
bool SimulatorHeapPlatform::windowRect(WindowHandle window, Rect& rect) {
  return asSimulator([&] { return PlatformWrapper::windowRect(window, rect); });
}
bool SimulatorHeapPlatform::clientRect(WindowHandle window, Rect& rect) {
  return asSimulator([&] { return PlatformWrapper::clientRect(window, rect); });
}
bool SimulatorHeapPlatform::moveWindow(WindowHandle window, int x, int y, int width, int height,
                                       bool repaint) {
  return asSimulator(
      [&] { return PlatformWrapper::moveWindow(window, x, y, width, height, repaint); });
}
bool SimulatorHeapPlatform::shellInitDialog(WindowHandle dialog, std::uint32_t flags) {
  return asSimulator([&] { return PlatformWrapper::shellInitDialog(dialog, flags); });
}
void SimulatorHeapPlatform::setForegroundWindow(WindowHandle window) {
  asSimulator([&] { PlatformWrapper::setForegroundWindow(window); });
}
DrawingSurface SimulatorHeapPlatform::beginPaint(WindowHandle window) {
  return asSimulator([&] { return PlatformWrapper::beginPaint(window); });
}
void SimulatorHeapPlatform::endPaint(WindowHandle window, DrawingSurface surface) {
  asSimulator([&] { PlatformWrapper::endPaint(window, surface); });
}
bool SimulatorHeapPlatform::drawBitmap(DrawingSurface surface, int x, int y, int width, int height,
                                       const std::uint8_t* bitmapInfo, const std::uint8_t* pixels) {
  return asSimulator([&] {
    return PlatformWrapper::drawBitmap(surface, x, y, width, height, bitmapInfo, pixels);
  });
}
int SimulatorHeapPlatform::messageBox(const std::u16string& text, const std::u16string& caption,
                                      std::uint32_t style) {
  return asSimulator([&] { return PlatformWrapper::messageBox(text, caption, style); });
}

}  // namespace autorun::bench
