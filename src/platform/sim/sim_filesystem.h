// The simulated device's files: device paths mapped onto the host folder DIR/fs/.
//
// Device paths use backslashes ('/' separates too), are matched component by component
// without regard to case, and resolve from the device root whether or not they start with
// a backslash; empty components are skipped. A path longer than 259 characters, one with a
// "." or ".." component, a character no device name can hold (a lone surrogate among them),
// or one that goes through or names a symbolic link does not resolve: it fails like a path
// that does not exist. The device has no links, so none is followed, listed or deleted.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/host_folder.h"
#include "platform/sim/spelling_index.h"

namespace autorun::sim {

struct ResolvedPath {
  std::string host;           // existing part as found, missing components as written
  std::size_t count = 0;      // components in the path (0: the root)
  std::size_t existing = 0;   // how many leading components exist
  bool folder = false;        // the whole path exists and is a folder
  bool file = false;          // the whole path exists and is a regular file
  bool parentFolder = false;  // all but the last component exist, the last but one a folder
  dev_t device = 0;           // the identity of what the whole path names, when it exists
  ino_t inode = 0;
  std::uint64_t size = 0;  // a file's size
  // The parent folder, opened O_PATH, when it was found in one step: the last component
  // is then made or opened from it, in the very folder that was looked at.
  HostFd parent;
  bool exists() const { return existing == count; }
  // The last component as found (or as written, when missing): the end of `host`.
  const char* name() const {
    const std::size_t slash = host.rfind('/');
    return host.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  }
};

// A folder's entries, sorted by folded name. The names lie in one text, so that listing a
// folder makes no allocation for each entry.
struct Listing {
  struct Entry {
    std::size_t offset = 0;  // of the name in `names`
    std::uint32_t length = 0;
    bool directory = false;
    std::uint64_t size = 0;  // a file's size
  };
  std::u16string names;
  std::vector<Entry> entries;
  std::u16string_view name(const Entry& entry) const {
    return std::u16string_view(names).substr(entry.offset, entry.length);
  }
};

class DeviceFileSystem {
 public:
  // `root` is DIR/fs; throws SimError when it is not a folder.
  explicit DeviceFileSystem(const std::filesystem::path& root);
  ~DeviceFileSystem();
  DeviceFileSystem(const DeviceFileSystem&) = delete;
  DeviceFileSystem& operator=(const DeviceFileSystem&) = delete;

  const std::filesystem::path& root() const { return root_; }

  // The checked components of a device path, or nothing (see above). With `pattern` the
  // last component may hold '*' and '?'.
  static std::optional<std::vector<std::u16string>> split(std::u16string_view path,
                                                          bool pattern = false);
  // With `making`, the caller is about to make the last component, which is then most
  // likely missing: the spelling index is asked first, which spares a stat.
  std::optional<ResolvedPath> resolve(std::u16string_view path, bool making = false) const;
  std::optional<ResolvedPath> resolveComponents(
      const std::vector<std::u16string>& components) const;
  // A file opened for reading in one call, with its stat in `info`, when each component
  // of the path is there under its exact name and no link is on the way; nothing held
  // otherwise (then resolve).
  HostFd openFileExactly(std::u16string_view path, struct stat& info) const;

  // The entries that an enumeration pattern matches: a folder path, then a last component
  // that may hold '*' and '?' (see `matches`). Sorted by folded name; only files and
  // folders whose host names a device name can be: links, the rest, and names such as a
  // copy's temporary file are left out. Nothing when the pattern is not valid or its
  // folder is not there.
  std::optional<Listing> listMatches(std::u16string_view pattern) const;

  // Whether a name matches an enumeration pattern as the device matches: '*' any run of
  // characters, '?' one character, without regard to case; a pattern ending in ".*" also
  // matches the name without that ending, so "*.*" matches every name.
  static bool matches(std::u16string_view pattern, std::u16string_view name);

 private:
  // The host name in `folder` that a device name refers to, with its lstat, or nothing.
  std::optional<std::string> findName(const std::filesystem::path& folder, std::u16string_view name,
                                      struct stat& info) const;
  // The components joined as a host path relative to fs/, or nothing when one is not a name
  // as written.
  static std::optional<std::string> exactRelative(const std::vector<std::u16string>& components,
                                                  std::size_t count);
  // openat2 of a path relative to fs/, beneath it and through no link; nothing held when
  // that fails.
  HostFd openBeneath(const std::string& relative, int flags) const;
  // The entries of a host folder inside fs/.
  Listing list(const std::filesystem::path& folder) const;
  // The entries of a folder given as a host path relative to fs/, when each component is
  // there under its exact name and no link is on the way; nothing otherwise.
  std::optional<Listing> listExactly(const std::string& relative) const;
  // Reads an open folder.
  Listing listOpened(const HostFd& dir) const;
  // A valid device path of ASCII characters and at least one component as a host path
  // relative to fs/, in one pass; nothing for any other path (split it).
  static std::optional<std::string> asciiRelative(std::u16string_view path);
  // A valid device path of at least one component as a host path relative to fs/, when
  // every component is a name as written; nothing otherwise.
  static std::optional<std::string> exactPath(std::u16string_view path);
  // Resolves a path relative to fs/ from its parent folder, opened beneath fs/ in one
  // call, when all but the last component are there under their exact names with no link
  // on the way and the last is missing or a file or folder (under any spelling). False
  // otherwise; the caller then goes component by component from the root.
  bool resolveFromParent(const std::string& relative, ResolvedPath& resolved,
                         bool making = false) const;
  // Resolves component by component from the root, finding each name under any spelling;
  // nothing when a component is a link.
  std::optional<ResolvedPath> walk(const std::vector<std::u16string>& components) const;

  std::filesystem::path root_;          // canonical
  HostFd rootFd_;                       // root_ opened for lookups beneath it, if it could be
  mutable bool noOpenBeneath_ = false;  // openat2 is missing: always take the slow paths
  mutable SpellingIndex spellings_;
};

}  // namespace autorun::sim
