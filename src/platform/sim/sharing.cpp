#include "platform/sim/sharing.h"

namespace autorun::sim {

namespace {

constexpr unsigned kRead = 1;
constexpr unsigned kWrite = 2;
constexpr unsigned kDelete = 4;

struct Sharing {
  unsigned access;  // what the use does
  unsigned share;   // what it lets others do meanwhile
};

// By FileUse.
constexpr Sharing kSharing[kFileUseCount] = {
    {kRead, kRead},   // ReadShared
    {kRead, 0},       // ReadExclusive
    {kWrite, kRead},  // Write
    {kDelete, 0},     // Delete
};

const Sharing& sharingOf(FileUse use) {
  return kSharing[static_cast<std::size_t>(use)];
}

}  // namespace

FileUse fileUse(FileOpenMode mode) {
  switch (mode) {
    case FileOpenMode::ReadShared:
      return FileUse::ReadShared;
    case FileOpenMode::ReadExclusive:
      return FileUse::ReadExclusive;
    case FileOpenMode::WriteTruncate:
      break;
  }
  return FileUse::Write;
}

bool shareable(FileUse held, FileUse wanted) {
  const Sharing& h = sharingOf(held);
  const Sharing& w = sharingOf(wanted);
  return (w.access & ~h.share) == 0 && (h.access & ~w.share) == 0;
}

bool OpenFiles::allows(const FileId& file, FileUse use) const {
  const auto it = held_.find(file);
  if (it == held_.end()) return true;
  for (std::size_t held = 0; held < kFileUseCount; ++held) {
    if (it->second[held] > 0 && !shareable(static_cast<FileUse>(held), use)) return false;
  }
  return true;
}

void OpenFiles::hold(const FileId& file, FileUse use) {
  ++held_[file][static_cast<std::size_t>(use)];
}

void OpenFiles::release(const FileId& file, FileUse use) {
  const auto it = held_.find(file);
  if (it == held_.end()) return;
  int& count = it->second[static_cast<std::size_t>(use)];
  if (count > 0) --count;
  for (const int left : it->second) {
    if (left > 0) return;
  }
  held_.erase(it);
}

}  // namespace autorun::sim
