// Which host names in a folder spell a device name (the device matches names without
// regard to case), for folders read before: kept current by the kernel's notices of
// changes (inotify), so that making many files in one folder does not read the whole
// folder again for each. Changes made from outside are seen as soon as the kernel reports
// them, that is before the call that made them returns. Without inotify or /proc every
// question reads the folder.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/sim/host_files.h"

namespace autorun::sim {

class SpellingIndex {
 public:
  SpellingIndex();
  ~SpellingIndex();
  SpellingIndex(const SpellingIndex&) = delete;
  SpellingIndex& operator=(const SpellingIndex&) = delete;

  // The smallest host name in the open folder `dirFd` (O_PATH will do) that folds to the
  // same text as `name`, or nothing.
  std::optional<std::string> find(int dirFd, std::u16string_view name);

  // How a name stands in a folder that the index keeps.
  struct Known {
    bool present = false;  // some host name in the folder folds like the name
    std::string hostName;  // then the name itself when it is there, else the smallest
  };
  // What the index knows of the host name `name` in the open folder `dirFd`, without
  // asking the kernel about the name; nothing when the folder cannot be indexed.
  std::optional<Known> lookUp(int dirFd, std::string_view name);

  // How many folders are indexed (for tests).
  std::size_t folders() const { return folders_.size(); }

  // At most this many folders are kept; the one used longest ago goes first.
  static constexpr std::size_t kMaxFolders = 256;

 private:
  using Names = std::unordered_map<std::u16string, std::set<std::string>>;
  struct Folder {
    std::pair<dev_t, ino_t> id;
    Names names;  // folded name -> host names
    std::list<int>::iterator use;
  };

  void start();
  void close();
  // The open folder's entry, brought up to date (and read first when new); nothing when
  // it cannot be indexed.
  Folder* current(int dirFd);
  // Applies every change reported so far (when reports were lost, forgets everything).
  void drain();
  // Watches and reads a folder; false when it cannot.
  bool add(int dirFd, std::pair<dev_t, ino_t> id);
  void drop(int watch);
  void dropAll();

  HostFd fd_;  // the notice queue
  bool started_ = false;
  unsigned generation_ = 0;                  // the process's fork count when fd_ was opened
  std::unordered_map<int, Folder> folders_;  // by watch
  std::map<std::pair<dev_t, ino_t>, int> watches_;
  std::list<int> recent_;  // watches, most recently used first
  std::set<int> dormant_;  // watches of folders no longer kept, left to the kernel
};

}  // namespace autorun::sim
