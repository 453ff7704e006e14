#include "platform/sim/spelling_index.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/wide_text.h"
#include "host_text/utf.h"
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

SpellingIndex::SpellingIndex() = default;

SpellingIndex::~SpellingIndex() {
  close();
}

void SpellingIndex::start() {
  // Opened on first use, and again in a forked child: its parent's queue is not its own.
  static const bool forksCounted = ::pthread_atfork(nullptr, nullptr, countFork) == 0;
  const unsigned now = forks.load(std::memory_order_relaxed);
  if (started_ && generation_ == now) return;
  close();
  started_ = true;
  generation_ = now;
  if (forksCounted) fd_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
}

void SpellingIndex::close() {
  // The watches go with the descriptor.
  fd_.reset();
  folders_.clear();
  watches_.clear();
  recent_.clear();
  dormant_.clear();
}

void SpellingIndex::drop(int watch) {
  const auto it = folders_.find(watch);
  if (it == folders_.end()) return;
  watches_.erase(it->second.id);
  recent_.erase(it->second.use);
  folders_.erase(it);
}

void SpellingIndex::dropAll() {
  for (const auto& [watch, folder] : folders_) dormant_.insert(watch);
  folders_.clear();
  watches_.clear();
  recent_.clear();
}

void SpellingIndex::drain() {
  constexpr std::size_t kLargest = sizeof(inotify_event) + NAME_MAX + 1;
  alignas(inotify_event) char buffer[16 * kLargest];
  for (;;) {
    const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
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
        dormant_.erase(event->wd);
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
    // Forgotten here, but left to the kernel: removing a watch costs far more than the
    // notices it may still bring, which are passed over.
    const int oldest = recent_.back();
    drop(oldest);
    dormant_.insert(oldest);
  }
  // Watched before it is read, so that a change during the reading is reported.
  const std::string self = "/proc/self/fd/" + std::to_string(dirFd);
  constexpr std::uint32_t kMask = kChanges | kGone | IN_ONLYDIR;
  int watch = ::inotify_add_watch(fd_.get(), self.c_str(), kMask);
  if (watch < 0 && errno == ENOSPC && !dormant_.empty()) {
    // Out of watches: now the forgotten ones go.
    for (const int old : dormant_) ::inotify_rm_watch(fd_.get(), old);
    dormant_.clear();
    watch = ::inotify_add_watch(fd_.get(), self.c_str(), kMask);
  }
  if (watch < 0) return false;
  dormant_.erase(watch);  // the kernel's own watch of this folder, woken again
  if (folders_.count(watch) != 0) drop(watch);
  Folder folder;
  folder.id = id;
  const HostFd readable(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const bool read =
      readable && forEachEntry(readable.get(), [&](std::string_view name, unsigned char) {
        folder.names[folded(name)].emplace(name);
      });
  if (!read) {
    ::inotify_rm_watch(fd_.get(), watch);
    return false;
  }
  recent_.push_front(watch);
  folder.use = recent_.begin();
  watches_[id] = watch;
  folders_[watch] = std::move(folder);
  return true;
}

SpellingIndex::Folder* SpellingIndex::current(int dirFd) {
  start();
  struct stat info {};
  if (!fd_ || ::fstat(dirFd, &info) != 0) return nullptr;
  drain();
  const std::pair<dev_t, ino_t> id{info.st_dev, info.st_ino};
  if (watches_.count(id) == 0 && add(dirFd, id)) drain();  // what changed while it was read
  // Looked up after draining, which may have dropped it.
  const auto watched = watches_.find(id);
  if (watched == watches_.end()) return nullptr;
  Folder& folder = folders_.at(watched->second);
  recent_.splice(recent_.begin(), recent_, folder.use);
  return &folder;
}

std::optional<std::string> SpellingIndex::find(int dirFd, std::u16string_view name) {
  const std::u16string wanted = foldLower(name);
  if (const Folder* folder = current(dirFd)) {
    const auto spelled = folder->names.find(wanted);
    if (spelled == folder->names.end() || spelled->second.empty()) return std::nullopt;
    return *spelled->second.begin();
  }
  // No index: read the folder.
  std::optional<std::string> best;
  const HostFd readable(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!readable) return std::nullopt;
  forEachEntry(readable.get(), [&](std::string_view candidate, unsigned char) {
    if ((!best || candidate < *best) && folded(candidate) == wanted) best = std::string(candidate);
  });
  return best;
}

std::optional<SpellingIndex::Known> SpellingIndex::lookUp(int dirFd, std::string_view name) {
  const Folder* folder = current(dirFd);
  if (folder == nullptr) return std::nullopt;
  Known known;
  const auto spelled = folder->names.find(folded(name));
  if (spelled == folder->names.end() || spelled->second.empty()) return known;
  known.present = true;
  const auto exact = spelled->second.find(std::string(name));
  known.hostName = exact != spelled->second.end() ? *exact : *spelled->second.begin();
  return known;
}

}  // namespace autorun::sim
