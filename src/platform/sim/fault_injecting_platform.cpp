#include "platform/sim/fault_injecting_platform.h"

#include <stdexcept>
#include <string>

namespace autorun::sim {

namespace {

constexpr std::string_view kNames[kOperationCount] = {
    "openFile",
    "fileAttributes",
    "findFirstFile",
    "createDirectory",
    "copyFile",
    "deleteFile",
    "freeBytes",
    "toMultiByte",
    "moduleFileName",
    "specialFolderPath",
    "findFirstCard",
    "createKey",
    "openKey",
    "broadcastSettingChange",
    "loadLibrary",
    "shellOpen",
    "findWindow",
    "findWindowByClass",
    "postCloseRequest",
    "openWindowProcess",
    "runModalDialog",
    "createModelessDialog",
    "endDialog",
    "dialogItem",
    "setWindowText",
    "sendDialogItemMessage",
    "updateWindow",
    "windowRect",
    "clientRect",
    "moveWindow",
    "shellInitDialog",
    "setForegroundWindow",
    "beginPaint",
    "endPaint",
    "drawBitmap",
    "messageBox",
    "File::read",
    "File::write",
    "File::size",
    "File::seek",
    "DirectoryEnumeration::next",
    "CardEnumeration::next",
    "RegistryKey::setDword",
    "RegistryKey::setString",
    "RegistryKey::queryValue",
    "RegistryKey::deleteSubkeyTree",
    "RegistryKey::flush",
    "Library::callEntry",
    "Process::waitForExit",
};

using Faults = FaultInjectingPlatform::Faults;

class FaultyFile : public File {
 public:
  FaultyFile(std::unique_ptr<File> inner, std::shared_ptr<Faults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}
  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
    got = 0;
    return !faults_->fails(Operation::FileRead) && inner_->read(buffer, count, got);
  }
  bool write(const void* buffer, std::uint32_t count, std::uint32_t& written) override {
    written = 0;
    return !faults_->fails(Operation::FileWrite) && inner_->write(buffer, count, written);
  }
  std::optional<std::uint64_t> size() override {
    if (faults_->fails(Operation::FileSize)) return std::nullopt;
    return inner_->size();
  }
  bool seek(std::uint64_t offset) override {
    return !faults_->fails(Operation::FileSeek) && inner_->seek(offset);
  }

 private:
  std::unique_ptr<File> inner_;
  std::shared_ptr<Faults> faults_;
};

class FaultyDirectoryEnumeration : public DirectoryEnumeration {
 public:
  FaultyDirectoryEnumeration(std::unique_ptr<DirectoryEnumeration> inner,
                             std::shared_ptr<Faults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}
  bool next(FindEntry& entry) override {
    return !faults_->fails(Operation::DirectoryNext) && inner_->next(entry);
  }

 private:
  std::unique_ptr<DirectoryEnumeration> inner_;
  std::shared_ptr<Faults> faults_;
};

class FaultyCardEnumeration : public CardEnumeration {
 public:
  FaultyCardEnumeration(std::unique_ptr<CardEnumeration> inner, std::shared_ptr<Faults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}
  bool next(std::u16string& folderName) override {
    return !faults_->fails(Operation::CardNext) && inner_->next(folderName);
  }

 private:
  std::unique_ptr<CardEnumeration> inner_;
  std::shared_ptr<Faults> faults_;
};

class FaultyRegistryKey : public RegistryKey {
 public:
  FaultyRegistryKey(std::unique_ptr<RegistryKey> inner, std::shared_ptr<Faults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}
  bool setDword(const std::u16string& name, std::uint32_t value) override {
    return !faults_->fails(Operation::KeySetDword) && inner_->setDword(name, value);
  }
  bool setString(const std::u16string& name, const std::u16string& value) override {
    return !faults_->fails(Operation::KeySetString) && inner_->setString(name, value);
  }
  bool queryValue(const std::u16string& name, std::uint32_t& type,
                  std::vector<std::uint8_t>& data) override {
    return !faults_->fails(Operation::KeyQueryValue) && inner_->queryValue(name, type, data);
  }
  bool deleteSubkeyTree(const std::u16string& name) override {
    return !faults_->fails(Operation::KeyDeleteSubkeyTree) && inner_->deleteSubkeyTree(name);
  }
  void flush() override {
    if (!faults_->fails(Operation::KeyFlush)) inner_->flush();
  }

 private:
  std::unique_ptr<RegistryKey> inner_;
  std::shared_ptr<Faults> faults_;
};

class FaultyLibrary : public Library {
 public:
  FaultyLibrary(std::unique_ptr<Library> inner, std::shared_ptr<Faults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}
  bool callEntry(std::string_view name) override {
    return !faults_->fails(Operation::LibraryCallEntry) && inner_->callEntry(name);
  }

 private:
  std::unique_ptr<Library> inner_;
  std::shared_ptr<Faults> faults_;
};

class FaultyProcess : public Process {
 public:
  FaultyProcess(std::unique_ptr<Process> inner, std::shared_ptr<Faults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}
  bool waitForExit(std::uint32_t milliseconds) override {
    return !faults_->fails(Operation::ProcessWaitForExit) && inner_->waitForExit(milliseconds);
  }

 private:
  std::unique_ptr<Process> inner_;
  std::shared_ptr<Faults> faults_;
};

// Wraps a returned object, keeping null as null.
template <typename Wrapper, typename T>
std::unique_ptr<T> wrap(std::unique_ptr<T> inner, const std::shared_ptr<Faults>& faults) {
  if (!inner) return nullptr;
  return std::make_unique<Wrapper>(std::move(inner), faults);
}

}  // namespace

std::string_view operationName(Operation operation) {
  return kNames[static_cast<std::size_t>(operation)];
}

std::optional<Operation> operationFromName(std::string_view name) {
  for (std::size_t i = 0; i < kOperationCount; ++i) {
    if (kNames[i] == name) return static_cast<Operation>(i);
  }
  return std::nullopt;
}

bool FaultInjectingPlatform::Faults::fails(Operation operation) {
  Plan& plan = plans[static_cast<std::size_t>(operation)];
  ++plan.calls;
  const bool fail = plan.failAt != 0 &&
                    (plan.calls == plan.failAt || (plan.persistent && plan.calls > plan.failAt));
  if (fail) ++plan.failures;
  return fail;
}

FaultInjectingPlatform::FaultInjectingPlatform(PlatformServices& target)
    : PlatformWrapper(target), faults_(std::make_shared<Faults>()) {}

FaultInjectingPlatform::~FaultInjectingPlatform() = default;

void FaultInjectingPlatform::failNth(Operation operation, std::uint64_t n, bool persistent) {
  if (n == 0) throw std::invalid_argument("failNth: calls are counted from 1");
  Plan& plan = faults_->plans[static_cast<std::size_t>(operation)];
  plan.failAt = plan.calls + n;
  plan.persistent = persistent;
}

void FaultInjectingPlatform::failNth(std::string_view operation, std::uint64_t n, bool persistent) {
  const auto found = operationFromName(operation);
  if (!found) throw std::invalid_argument("failNth: no operation named " + std::string(operation));
  failNth(*found, n, persistent);
}

void FaultInjectingPlatform::clearFailure(Operation operation) {
  Plan& plan = faults_->plans[static_cast<std::size_t>(operation)];
  plan.failAt = 0;
  plan.persistent = false;
}

void FaultInjectingPlatform::clearFailures() {
  for (std::size_t i = 0; i < kOperationCount; ++i) clearFailure(static_cast<Operation>(i));
}

void FaultInjectingPlatform::setCreateDirectoryFailure(std::uint32_t code) {
  faults_->createDirectoryFailure = code;
}

std::uint64_t FaultInjectingPlatform::callCount(Operation operation) const {
  return faults_->plans[static_cast<std::size_t>(operation)].calls;
}

std::uint64_t FaultInjectingPlatform::failureCount(Operation operation) const {
  return faults_->plans[static_cast<std::size_t>(operation)].failures;
}

void FaultInjectingPlatform::resetCounts() {
  // Pending plans keep their distance to the failing call.
  for (Plan& plan : faults_->plans) {
    if (plan.failAt > plan.calls) {
      plan.failAt -= plan.calls;
    } else if (plan.failAt != 0) {
      // Already reached: a persistent plan goes on failing, a single failure is spent.
      plan.failAt = plan.persistent ? 1 : 0;
    }
    plan.calls = 0;
    plan.failures = 0;
  }
}

std::unique_ptr<File> FaultInjectingPlatform::openFile(const std::u16string& path,
                                                       FileOpenMode mode) {
  if (faults_->fails(Operation::OpenFile)) return nullptr;
  return wrap<FaultyFile>(PlatformWrapper::openFile(path, mode), faults_);
}

std::uint32_t FaultInjectingPlatform::fileAttributes(const std::u16string& path) {
  if (faults_->fails(Operation::FileAttributes)) return kInvalidAttributes;
  return PlatformWrapper::fileAttributes(path);
}

std::unique_ptr<DirectoryEnumeration> FaultInjectingPlatform::findFirstFile(
    const std::u16string& pattern, FindEntry& first) {
  if (faults_->fails(Operation::FindFirstFile)) return nullptr;
  return wrap<FaultyDirectoryEnumeration>(PlatformWrapper::findFirstFile(pattern, first), faults_);
}

std::uint32_t FaultInjectingPlatform::createDirectory(const std::u16string& path) {
  if (faults_->fails(Operation::CreateDirectory)) return faults_->createDirectoryFailure;
  return PlatformWrapper::createDirectory(path);
}

bool FaultInjectingPlatform::copyFile(const std::u16string& source,
                                      const std::u16string& destination) {
  return !faults_->fails(Operation::CopyFile) && PlatformWrapper::copyFile(source, destination);
}

bool FaultInjectingPlatform::deleteFile(const std::u16string& path) {
  return !faults_->fails(Operation::DeleteFile) && PlatformWrapper::deleteFile(path);
}

std::optional<std::uint64_t> FaultInjectingPlatform::freeBytes(const std::u16string& folder) {
  if (faults_->fails(Operation::FreeBytes)) return std::nullopt;
  return PlatformWrapper::freeBytes(folder);
}

std::string FaultInjectingPlatform::toMultiByte(const std::u16string& text) {
  if (faults_->fails(Operation::ToMultiByte)) return {};
  return PlatformWrapper::toMultiByte(text);
}

std::u16string FaultInjectingPlatform::moduleFileName(ModuleHandle module) {
  if (faults_->fails(Operation::ModuleFileName)) return {};
  return PlatformWrapper::moduleFileName(module);
}

std::u16string FaultInjectingPlatform::specialFolderPath(int number) {
  if (faults_->fails(Operation::SpecialFolderPath)) return {};
  return PlatformWrapper::specialFolderPath(number);
}

std::unique_ptr<CardEnumeration> FaultInjectingPlatform::findFirstCard(std::u16string& firstCard) {
  if (faults_->fails(Operation::FindFirstCard)) return nullptr;
  return wrap<FaultyCardEnumeration>(PlatformWrapper::findFirstCard(firstCard), faults_);
}

std::unique_ptr<RegistryKey> FaultInjectingPlatform::createKey(RegistryRoot root,
                                                               const std::u16string& path) {
  if (faults_->fails(Operation::CreateKey)) return nullptr;
  return wrap<FaultyRegistryKey>(PlatformWrapper::createKey(root, path), faults_);
}

std::unique_ptr<RegistryKey> FaultInjectingPlatform::openKey(RegistryRoot root,
                                                             const std::u16string& path) {
  if (faults_->fails(Operation::OpenKey)) return nullptr;
  return wrap<FaultyRegistryKey>(PlatformWrapper::openKey(root, path), faults_);
}

void FaultInjectingPlatform::broadcastSettingChange() {
  if (!faults_->fails(Operation::BroadcastSettingChange)) PlatformWrapper::broadcastSettingChange();
}

std::unique_ptr<Library> FaultInjectingPlatform::loadLibrary(const std::u16string& path) {
  if (faults_->fails(Operation::LoadLibrary)) return nullptr;
  return wrap<FaultyLibrary>(PlatformWrapper::loadLibrary(path), faults_);
}

bool FaultInjectingPlatform::shellOpen(const std::u16string& path) {
  return !faults_->fails(Operation::ShellOpen) && PlatformWrapper::shellOpen(path);
}

WindowHandle FaultInjectingPlatform::findWindow(const std::u16string& windowClass,
                                                const std::u16string& title) {
  if (faults_->fails(Operation::FindWindow)) return 0;
  return PlatformWrapper::findWindow(windowClass, title);
}

WindowHandle FaultInjectingPlatform::findWindowByClass(const std::u16string& windowClass) {
  if (faults_->fails(Operation::FindWindowByClass)) return 0;
  return PlatformWrapper::findWindowByClass(windowClass);
}

bool FaultInjectingPlatform::postCloseRequest(WindowHandle window) {
  return !faults_->fails(Operation::PostCloseRequest) && PlatformWrapper::postCloseRequest(window);
}

std::unique_ptr<Process> FaultInjectingPlatform::openWindowProcess(WindowHandle window) {
  if (faults_->fails(Operation::OpenWindowProcess)) return nullptr;
  return wrap<FaultyProcess>(PlatformWrapper::openWindowProcess(window), faults_);
}

int FaultInjectingPlatform::runModalDialog(ModuleHandle module, int templateId,
                                           DialogHandler& handler) {
  if (faults_->fails(Operation::RunModalDialog)) return -1;
  return PlatformWrapper::runModalDialog(module, templateId, handler);
}

WindowHandle FaultInjectingPlatform::createModelessDialog(ModuleHandle module, int templateId,
                                                          DialogHandler& handler) {
  if (faults_->fails(Operation::CreateModelessDialog)) return 0;
  return PlatformWrapper::createModelessDialog(module, templateId, handler);
}

void FaultInjectingPlatform::endDialog(WindowHandle dialog, int result) {
  if (!faults_->fails(Operation::EndDialog)) PlatformWrapper::endDialog(dialog, result);
}

WindowHandle FaultInjectingPlatform::dialogItem(WindowHandle dialog, int id) {
  if (faults_->fails(Operation::DialogItem)) return 0;
  return PlatformWrapper::dialogItem(dialog, id);
}

bool FaultInjectingPlatform::setWindowText(WindowHandle window, const std::u16string& text) {
  return !faults_->fails(Operation::SetWindowText) && PlatformWrapper::setWindowText(window, text);
}

std::intptr_t FaultInjectingPlatform::sendDialogItemMessage(WindowHandle dialog, int id,
                                                            std::uint32_t message,
                                                            std::uintptr_t wParam,
                                                            std::intptr_t lParam) {
  if (faults_->fails(Operation::SendDialogItemMessage)) return 0;
  return PlatformWrapper::sendDialogItemMessage(dialog, id, message, wParam, lParam);
}

void FaultInjectingPlatform::updateWindow(WindowHandle window) {
  if (!faults_->fails(Operation::UpdateWindow)) PlatformWrapper::updateWindow(window);
}

bool FaultInjectingPlatform::windowRect(WindowHandle window, Rect& rect) {
  return !faults_->fails(Operation::WindowRect) && PlatformWrapper::windowRect(window, rect);
}

bool FaultInjectingPlatform::clientRect(WindowHandle window, Rect& rect) {
  return !faults_->fails(Operation::ClientRect) && PlatformWrapper::clientRect(window, rect);
}

bool FaultInjectingPlatform::moveWindow(WindowHandle window, int x, int y, int width, int height,
                                        bool repaint) {
  return !faults_->fails(Operation::MoveWindow) &&
         PlatformWrapper::moveWindow(window, x, y, width, height, repaint);
}

bool FaultInjectingPlatform::shellInitDialog(WindowHandle dialog, std::uint32_t flags) {
  return !faults_->fails(Operation::ShellInitDialog) &&
         PlatformWrapper::shellInitDialog(dialog, flags);
}

void FaultInjectingPlatform::setForegroundWindow(WindowHandle window) {
  if (!faults_->fails(Operation::SetForegroundWindow)) PlatformWrapper::setForegroundWindow(window);
}

DrawingSurface FaultInjectingPlatform::beginPaint(WindowHandle window) {
  if (faults_->fails(Operation::BeginPaint)) return 0;
  return PlatformWrapper::beginPaint(window);
}

void FaultInjectingPlatform::endPaint(WindowHandle window, DrawingSurface surface) {
  if (!faults_->fails(Operation::EndPaint)) PlatformWrapper::endPaint(window, surface);
}

bool FaultInjectingPlatform::drawBitmap(DrawingSurface target, int x, int y, int width, int height,
                                        const std::uint8_t* bitmapInfo,
                                        const std::uint8_t* pixels) {
  return !faults_->fails(Operation::DrawBitmap) &&
         PlatformWrapper::drawBitmap(target, x, y, width, height, bitmapInfo, pixels);
}

int FaultInjectingPlatform::messageBox(const std::u16string& text, const std::u16string& caption,
                                       std::uint32_t style) {
  if (faults_->fails(Operation::MessageBox)) return 0;
  return PlatformWrapper::messageBox(text, caption, style);
}

}  // namespace autorun::sim
