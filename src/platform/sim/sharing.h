// Who may use a file while others hold it open: the device's sharing rule, written once.
//
// Every use asks for access (read, write, delete) and grants others some access meanwhile
// (its share mode). A use may proceed when the access it asks for is granted by every open
// already held, and the access each of those holds is granted by it. Opens hold their use
// until they are closed; a copy's two ends and a deletion ask only for the moment of the
// call.
#pragma once

#include <sys/types.h>

#include <array>
#include <compare>
#include <cstddef>
#include <map>

#include "platform/platform_services.h"

namespace autorun::sim {

enum class FileUse {
  ReadShared,     // read; others may read (also the source of a copy)
  ReadExclusive,  // read; nobody else meanwhile
  Write,          // create or truncate and write; others may read (also a copy's destination)
  Delete,         // delete; only a file that nobody holds
};
inline constexpr std::size_t kFileUseCount = 4;

FileUse fileUse(FileOpenMode mode);

// Whether a file held open as `held` may meanwhile be used as `wanted`.
bool shareable(FileUse held, FileUse wanted);

// A host file's identity: the same file under any name.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  auto operator<=>(const FileId&) const = default;
};

// The files held open on the device, and how.
class OpenFiles {
 public:
  // Whether `file` may be used as `use` now, given every open held.
  bool allows(const FileId& file, FileUse use) const;
  // Records an open (that `allows` let through) until `release`.
  void hold(const FileId& file, FileUse use);
  void release(const FileId& file, FileUse use);

 private:
  std::map<FileId, std::array<int, kFileUseCount>> held_;  // opens by use
};

}  // namespace autorun::sim
