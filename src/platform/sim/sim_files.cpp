// SimPlatform's files: opening, reading and writing, attributes, copying and deleting,
// each use checked against the files held open (sharing.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/sim/device_state.h"
#include "platform/sim/host_files.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

using nlohmann::json;

class SimFile : public File {
 public:
  SimFile(std::shared_ptr<DeviceState> state, HostFd fd, FileId id, FileOpenMode mode,
          std::u16string devicePath)
      : state_(std::move(state)),
        fd_(std::move(fd)),
        id_(id),
        mode_(mode),
        path_(std::move(devicePath)) {}

  ~SimFile() override {
    fd_.reset();
    state_->openFiles.release(id_, fileUse(mode_));
    if (mode_ == FileOpenMode::WriteTruncate) {
      try {
        state_->record(
            {{"op", "write_file"}, {"path", utf8(path_)}, {"ok", true}, {"bytes", written_}});
      } catch (...) {
        // Out of memory while closing: the file is written, only its trace line is lost.
      }
    }
  }

  bool read(void* buffer, std::uint32_t count, std::uint32_t& got) override {
    got = 0;
    if (mode_ == FileOpenMode::WriteTruncate) return false;
    auto* out = static_cast<char*>(buffer);
    while (got < count) {
      const ssize_t n = ::read(fd_.get(), out + got, count - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      got += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  bool write(const void* buffer, std::uint32_t count, std::uint32_t& written) override {
    written = 0;
    if (mode_ != FileOpenMode::WriteTruncate) return false;
    std::size_t done = 0;
    const bool ok = writeFully(fd_.get(), buffer, count, done);
    written = static_cast<std::uint32_t>(done);
    if (ok) written_ += done;
    return ok;
  }

  std::optional<std::uint64_t> size() override {
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
  }

  bool seek(std::uint64_t offset) override {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    return ::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) >= 0;
  }

 private:
  std::shared_ptr<DeviceState> state_;
  HostFd fd_;
  FileId id_;
  FileOpenMode mode_;
  std::u16string path_;
  std::uint64_t written_ = 0;
};

std::optional<FileId> fileIdOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

// Copies to the end of `from`; `size` is its size when it was opened, which spares asking
// once more at the end when that much was copied.
bool copyContents(int from, int to, std::uint64_t size) {
  // In the kernel where it can (as cp does); by reading and writing where it cannot.
  std::uint64_t copied = 0;
  for (;;) {
    const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, std::size_t{1} << 30, 0);
    if (n > 0) {
      copied += static_cast<std::uint64_t>(n);
      if (copied == size) return true;
      continue;
    }
    if (n == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
    return false;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    std::size_t written = 0;
    if (!writeFully(to, buffer, static_cast<std::size_t>(n), written)) return false;
  }
}

// Copies `in` (of `size` bytes) into `out`, the file just made as `name` in the folder
// `dir`; a file that could not be made whole is removed again.
bool fill(int in, std::uint64_t size, HostFd out, int dir, const char* name) {
  const bool copied = copyContents(in, out.get(), size);
  if (out.close() && copied) return true;
  ::unlinkat(dir, name, 0);
  return false;
}

// A copy never leaves part of a file behind. A new file is written in place (as many
// system calls as a plain copy), and removed again when the copy fails. An existing one is
// replaced by a whole copy only: the copy goes to a temporary file beside it, renamed over
// it at the end, so that a failed copy (a full disk) leaves the old file as it was. The
// temporary name holds ':', which no device name can: no listing shows it and no path
// names it, should a killed run leave it behind.
bool copyToDestination(int in, std::uint64_t size, const ResolvedPath& to) {
  HostFd opened;
  int dir = to.parent.get();
  if (!to.parent) {
    const std::string folder = to.host.substr(0, to.host.rfind('/'));
    opened.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!opened) return false;
    dir = opened.get();
  }
  constexpr int kNew = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  if (!to.exists()) {
    HostFd out(::openat(dir, to.name(), kNew | O_EXCL, 0644));
    if (out) return fill(in, size, std::move(out), dir, to.name());
    if (errno != EEXIST) return false;  // otherwise made meanwhile: replaced as below
  }
  const std::string temporary = ".autorun-sim:copy:" + std::to_string(::getpid());
  HostFd out(::openat(dir, temporary.c_str(), kNew | O_TRUNC, 0644));
  if (!out || !fill(in, size, std::move(out), dir, temporary.c_str())) return false;
  if (::renameat(dir, temporary.c_str(), dir, to.name()) == 0) return true;
  ::unlinkat(dir, temporary.c_str(), 0);
  return false;
}

}  // namespace

std::unique_ptr<File> SimPlatform::openFile(const std::u16string& path, FileOpenMode mode) {
  DeviceState& s = *state_;
  const auto resolved = s.files.resolve(path);
  const bool writing = mode == FileOpenMode::WriteTruncate;
  auto refuse = [&]() -> std::unique_ptr<File> {
    if (writing) s.record({{"op", "write_file"}, {"path", utf8(path)}, {"ok", false}});
    return nullptr;
  };
  if (!resolved || resolved->count == 0) return refuse();

  HostFd fd;
  if (!writing) {
    if (!resolved->file) return nullptr;
    fd.reset(::open(resolved->host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  } else {
    if (resolved->exists() ? !resolved->file : !resolved->parentFolder) return refuse();
    // Not truncated yet: a file others hold stays as it is.
    fd.reset(::open(resolved->host.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
  }
  if (!fd) return refuse();
  const std::optional<FileId> id = fileIdOf(fd.get());
  const FileUse use = fileUse(mode);
  if (!id || !s.openFiles.allows(*id, use) || (writing && ::ftruncate(fd.get(), 0) != 0)) {
    return refuse();
  }
  s.openFiles.hold(*id, use);
  return std::make_unique<SimFile>(state_, std::move(fd), *id, mode, path);
}

std::uint32_t SimPlatform::fileAttributes(const std::u16string& path) {
  const auto resolved = state_->files.resolve(path);
  if (!resolved || !resolved->exists()) return kInvalidAttributes;
  struct stat info {};
  if (::stat(resolved->host.c_str(), &info) != 0) return kInvalidAttributes;
  return S_ISDIR(info.st_mode) ? kAttributeDirectory : kAttributeArchive;
}

bool SimPlatform::copyFile(const std::u16string& source, const std::u16string& destination) {
  DeviceState& s = *state_;
  auto copy = [&]() {
    // The source opened straight away where its name is exact; resolved otherwise.
    struct stat info {};
    HostFd in = s.files.openFileExactly(source, info);
    FileId fromId{info.st_dev, info.st_ino};
    auto size = static_cast<std::uint64_t>(info.st_size);
    if (!in) {
      const auto from = s.files.resolve(source);
      if (!from || !from->file) return false;
      in.reset(::open(from->host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
      if (!in) return false;
      fromId = FileId{from->device, from->inode};
      size = from->size;
    }
    const auto to = s.files.resolve(destination, true);
    if (!to) return false;
    if (to->exists() ? !to->file : !to->parentFolder) return false;
    if (!s.openFiles.allows(fromId, FileUse::ReadShared)) return false;
    if (to->exists()) {
      const FileId toId{to->device, to->inode};
      // A file copied onto itself would be emptied before it is read.
      if (toId == fromId || !s.openFiles.allows(toId, FileUse::Write)) return false;
    }
    return copyToDestination(in.get(), size, *to);
  };
  const bool ok = copy();
  if (s.tracing()) {
    s.record({{"op", "copy_file"},
              {"source", utf8(source)},
              {"destination", utf8(destination)},
              {"ok", ok}});
  }
  return ok;
}

bool SimPlatform::deleteFile(const std::u16string& path) {
  DeviceState& s = *state_;
  const auto resolved = s.files.resolve(path);
  const bool ok = resolved && resolved->file &&
                  s.openFiles.allows(FileId{resolved->device, resolved->inode}, FileUse::Delete) &&
                  ::unlink(resolved->host.c_str()) == 0;
  s.record({{"op", "delete_file"}, {"path", utf8(path)}, {"ok", ok}});
  return ok;
}

}  // namespace autorun::sim
