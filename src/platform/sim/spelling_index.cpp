#include "platform/sim/spelling_index.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "common/utf.h"
#include "config/wide_text.h"
#include "platform/sim/host_folder.h"

namespace autorun::sim {

namespace {

constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

// A forked child shares its parent's notice queue; reading from it would take the
// parent's notices away. The child starts afresh instead (see SpellingIndex::find).
std::atomic<unsigned> forks{0};

void countFork() {
  forks.fetch_add(1, std::memory_order_relaxed);
}

std::u16string folded(std::string_view hostName) {
  return foldLower(host::fromUtf8(hostName));
}

}  // namespace

SpellingIndex::SpellingIndex() {
  static const bool registered = ::pthread_atfork(nullptr, nullptr, countFork) == 0;
  if (registered) open();
}

SpellingIndex::~SpellingIndex() {
  close();
}

bool SpellingIndex::open() {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  generation_ = forks.load(std::memory_order_relaxed);
  return fd_ >= 0;
}

void SpellingIndex::close() {
  // The watches go with the descriptor.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  folders_.clear();
  watches_.clear();
  recent_.clear();
}

void SpellingIndex::drop(int watch) {
  const auto it = folders_.find(watch);
  if (it == folders_.end()) return;
  watches_.erase(it->second.id);
  recent_.erase(it->second.use);
  folders_.erase(it);
}

void SpellingIndex::dropAll() {
  for (const auto& [watch, folder] : folders_) ::inotify_rm_watch(fd_, watch);
  folders_.clear();
  watches_.clear();
  recent_.clear();
}

void SpellingIndex::drain() {
  constexpr std::size_t kLargest = sizeof(inotify_event) + NAME_MAX + 1;
  alignas(inotify_event) char buffer[16 * kLargest];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;  // EAGAIN: nothing more
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        dropAll();  // notices were lost: nothing known can be trusted
        continue;
      }
      if (event->mask & kGone) {
        drop(event->wd);
        continue;
      }
      const auto it = folders_.find(event->wd);
      if (it == folders_.end() || event->len == 0) continue;
      const std::string_view name(event->name);  // zero-padded
      Names& names = it->second.names;
      if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
        names[folded(name)].emplace(name);
      } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
        const auto spelled = names.find(folded(name));
        if (spelled != names.end()) {
          spelled->second.erase(std::string(name));
          if (spelled->second.empty()) names.erase(spelled);
        }
      }
    }
    // Whatever came after a read that left room came after this question.
    if (static_cast<std::size_t>(got) + kLargest <= sizeof buffer) return;
  }
}

bool SpellingIndex::add(int dirFd, std::pair<dev_t, ino_t> id) {
  if (folders_.size() >= kMaxFolders) {
    const int oldest = recent_.back();
    ::inotify_rm_watch(fd_, oldest);
    drop(oldest);
  }
  // Watched before it is read, so that a change during the reading is reported.
  const std::string self = "/proc/self/fd/" + std::to_string(dirFd);
  const int watch = ::inotify_add_watch(fd_, self.c_str(), kChanges | kGone | IN_ONLYDIR);
  if (watch < 0) return false;
  if (folders_.count(watch) != 0) drop(watch);  // a watch the kernel kept: read afresh
  Folder folder;
  folder.id = id;
  const bool read = forEachEntry(dirFd, [&](std::string_view name, unsigned char) {
    folder.names[folded(name)].emplace(name);
  });
  if (!read) {
    ::inotify_rm_watch(fd_, watch);
    return false;
  }
  recent_.push_front(watch);
  folder.use = recent_.begin();
  watches_[id] = watch;
  folders_[watch] = std::move(folder);
  return true;
}

std::optional<std::string> SpellingIndex::find(int dirFd, std::u16string_view name) {
  const std::u16string wanted = foldLower(name);
  if (fd_ >= 0 && generation_ != forks.load(std::memory_order_relaxed)) {
    // A forked child: the queue is its parent's. Its own starts empty.
    close();
    open();
  }
  Folder* folder = nullptr;
  struct stat info {};
  if (fd_ >= 0 && ::fstat(dirFd, &info) == 0) {
    drain();
    const std::pair<dev_t, ino_t> id{info.st_dev, info.st_ino};
    if (watches_.count(id) == 0 && add(dirFd, id)) drain();  // what changed while it was read
    // Looked up after draining, which may have dropped it.
    if (const auto watched = watches_.find(id); watched != watches_.end()) {
      folder = &folders_.at(watched->second);
      recent_.splice(recent_.begin(), recent_, folder->use);
    }
  }
  if (folder != nullptr) {
    const auto spelled = folder->names.find(wanted);
    if (spelled == folder->names.end() || spelled->second.empty()) return std::nullopt;
    return *spelled->second.begin();
  }
  // No index: read the folder.
  std::optional<std::string> best;
  forEachEntry(dirFd, [&](std::string_view candidate, unsigned char) {
    if ((!best || candidate < *best) && folded(candidate) == wanted) best = std::string(candidate);
  });
  return best;
}

}  // namespace autorun::sim
