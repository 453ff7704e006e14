// Small helpers for reading host folders.
#pragma once

#include <dirent.h>

#include <cerrno>
#include <string_view>

#include "platform/sim/host_files.h"  // HostFd, which holds the folders read

namespace autorun::sim {

// Calls `visit(name, type)` for each entry of an open folder but "." and "..", reading
// the directory entries straight into a buffer. Names end in a zero byte. False when the
// folder cannot be read.
template <class Visit>
bool forEachEntry(int dirFd, Visit&& visit) {
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t got = ::getdents64(dirFd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      visit(name, entry->d_type);
    }
  }
}

}  // namespace autorun::sim
