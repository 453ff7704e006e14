// Files, folders, the installer's own module, special folders and storage cards.
#include <vector>

#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_platform.h"

namespace autorun::win32 {
namespace {

class Win32File : public File {
 public:
  explicit Win32File(FileHandle handle) : handle_(std::move(handle)) {}

  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
    DWORD done = 0;
    const BOOL ok = ReadFile(handle_.get(), buffer, count, &done, nullptr);
    got = done;
    return ok != FALSE;
  }

  bool write(const void* buffer, std::uint32_t count, std::uint32_t& written) override {
    DWORD done = 0;
    const BOOL ok = WriteFile(handle_.get(), buffer, count, &done, nullptr);
    written = done;
    return ok != FALSE;
  }

  std::optional<std::uint64_t> size() override {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle_.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return std::nullopt;
    return (static_cast<std::uint64_t>(high) << 32) | low;
  }

  bool seek(std::uint64_t offset) override {
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low =
        SetFilePointer(handle_.get(), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
  }

 private:
  FileHandle handle_;
};

FindEntry toEntry(const WIN32_FIND_DATAW& data) {
  FindEntry entry;
  entry.name = fromWide(data.cFileName);
  entry.attributes = data.dwFileAttributes;
  entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return entry;
}

class Win32DirectoryEnumeration : public DirectoryEnumeration {
 public:
  explicit Win32DirectoryEnumeration(FindHandle handle) : handle_(std::move(handle)) {}

  bool next(FindEntry& entry) override {
    WIN32_FIND_DATAW data{};
    if (!FindNextFileW(handle_.get(), &data)) return false;
    entry = toEntry(data);
    return true;
  }

 private:
  FindHandle handle_;
};

// The storage-card library of the handheld: HANDLE FindFirstFlashCard(WIN32_FIND_DATAW*),
// BOOL FindNextFlashCard(HANDLE, WIN32_FIND_DATAW*); the search is closed with FindClose.
using FindFirstFlashCardEntry = HANDLE(WINAPI*)(WIN32_FIND_DATAW*);
using FindNextFlashCardEntry = BOOL(WINAPI*)(HANDLE, WIN32_FIND_DATAW*);

class FlashCardEnumeration : public CardEnumeration {
 public:
  FlashCardEnumeration(LibraryHandle library, FindNextFlashCardEntry findNext, FindHandle search)
      : library_(std::move(library)), findNext_(findNext), search_(std::move(search)) {}

  bool next(std::u16string& folderName) override {
    WIN32_FIND_DATAW data{};
    if (!findNext_(search_.get(), &data)) return false;
    folderName = fromWide(data.cFileName);
    return true;
  }

 private:
  // Declared first so that the search is closed before the library is unloaded.
  LibraryHandle library_;
  FindNextFlashCardEntry findNext_;
  FindHandle search_;
};

// Without the card library: the device marks a mounted card as a root folder with the
// temporary attribute, so the root's folders carrying it are the cards.
bool isCardFolder(const WIN32_FIND_DATAW& data) {
  constexpr DWORD kCard = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
  return (data.dwFileAttributes & kCard) == kCard;
}

class RootFolderCardEnumeration : public CardEnumeration {
 public:
  explicit RootFolderCardEnumeration(FindHandle search) : search_(std::move(search)) {}

  bool next(std::u16string& folderName) override {
    WIN32_FIND_DATAW data{};
    while (FindNextFileW(search_.get(), &data)) {
      if (isCardFolder(data)) {
        folderName = fromWide(data.cFileName);
        return true;
      }
    }
    return false;
  }

 private:
  FindHandle search_;
};

std::unique_ptr<CardEnumeration> findFirstCardInLibrary(std::u16string& firstCard,
                                                        bool& libraryPresent) {
  LibraryHandle library(LoadLibraryW(L"Note_prj.dll"));
  libraryPresent = false;
  if (!library) return nullptr;
  const auto findFirst =
      entryAs<FindFirstFlashCardEntry>(procAddress(library.get(), "FindFirstFlashCard"));
  const auto findNext =
      entryAs<FindNextFlashCardEntry>(procAddress(library.get(), "FindNextFlashCard"));
  if (findFirst == nullptr || findNext == nullptr) return nullptr;
  libraryPresent = true;
  WIN32_FIND_DATAW data{};
  FindHandle search(findFirst(&data));
  if (!search) return nullptr;
  firstCard = fromWide(data.cFileName);
  return std::make_unique<FlashCardEnumeration>(std::move(library), findNext, std::move(search));
}

std::unique_ptr<CardEnumeration> findFirstCardInRoot(std::u16string& firstCard) {
  WIN32_FIND_DATAW data{};
  FindHandle search(FindFirstFileW(L"\\*", &data));
  if (!search) return nullptr;
  do {
    if (isCardFolder(data)) {
      firstCard = fromWide(data.cFileName);
      return std::make_unique<RootFolderCardEnumeration>(std::move(search));
    }
  } while (FindNextFileW(search.get(), &data));
  return nullptr;
}

}  // namespace

std::unique_ptr<File> Win32Platform::openFile(const std::u16string& path, FileOpenMode mode) {
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case FileOpenMode::ReadShared:
      break;
    case FileOpenMode::ReadExclusive:
      share = 0;
      break;
    case FileOpenMode::WriteTruncate:
      access = GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
  }
  FileHandle handle(
      CreateFileW(wide(path), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return nullptr;
  return std::make_unique<Win32File>(std::move(handle));
}

std::uint32_t Win32Platform::fileAttributes(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(wide(path));
  return attributes == INVALID_FILE_ATTRIBUTES ? kInvalidAttributes : attributes;
}

std::unique_ptr<DirectoryEnumeration> Win32Platform::findFirstFile(const std::u16string& pattern,
                                                                   FindEntry& first) {
  WIN32_FIND_DATAW data{};
  FindHandle handle(FindFirstFileW(wide(pattern), &data));
  if (!handle) return nullptr;
  first = toEntry(data);
  return std::make_unique<Win32DirectoryEnumeration>(std::move(handle));
}

std::uint32_t Win32Platform::createDirectory(const std::u16string& path) {
  if (CreateDirectoryW(wide(path), nullptr)) return kErrorSuccess;
  return lastFailure();
}

bool Win32Platform::copyFile(const std::u16string& source, const std::u16string& destination) {
  return CopyFileW(wide(source), wide(destination), FALSE) != FALSE;
}

bool Win32Platform::deleteFile(const std::u16string& path) {
  return DeleteFileW(wide(path)) != FALSE;
}

std::optional<std::uint64_t> Win32Platform::freeBytes(const std::u16string& folder) {
  ULARGE_INTEGER available{};
  ULARGE_INTEGER total{};
  ULARGE_INTEGER free{};
  if (!GetDiskFreeSpaceExW(wide(folder), &available, &total, &free)) return std::nullopt;
  return available.QuadPart;
}

std::string Win32Platform::toMultiByte(const std::u16string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, wide(text), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string(text.size(), '?');
  std::string result(static_cast<std::size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(CP_ACP, 0, wide(text), length, result.data(), needed, nullptr, nullptr);
  result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return result;
}

std::u16string Win32Platform::moduleFileName(ModuleHandle module) {
  // The device's paths fit MAX_PATH; a desktop may hand out longer ones.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(module), buffer.data(),
                                            static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size() || buffer.size() >= 32768) {
      return fromWide(buffer.data(), length);
    }
    buffer.resize(buffer.size() * 4);
  }
}

std::u16string Win32Platform::specialFolderPath(int number) {
  if (number < 0) return {};
  wchar_t path[MAX_PATH] = {};
#ifdef _WIN32_WCE
  // The device has the call in its wide form only, spelled without the W.
  if (!SHGetSpecialFolderPath(nullptr, path, number, TRUE)) return {};
#else
  if (!SHGetSpecialFolderPathW(nullptr, path, number, TRUE)) return {};
#endif
  return fromWide(path);
}

std::unique_ptr<CardEnumeration> Win32Platform::findFirstCard(std::u16string& firstCard) {
  bool libraryPresent = false;
  auto cards = findFirstCardInLibrary(firstCard, libraryPresent);
  if (cards || libraryPresent) return cards;
  return findFirstCardInRoot(firstCard);
}

}  // namespace autorun::win32
