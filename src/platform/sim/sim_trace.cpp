#include "platform/sim/sim_trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace fs = std::filesystem;

namespace {

// The host path that writing `file` would write: every link followed (a dangling last
// one too, which opening would create), "." and ".." taken away. Nothing when that
// cannot be told (a pipe's name in /proc, a loop of links).
std::optional<fs::path> whereWritten(const fs::path& file) {
  std::error_code error;
  fs::path path = fs::absolute(file, error);
  if (error) return std::nullopt;
  for (int links = 0; links < 40; ++links) {
    if (fs::exists(path, error)) {
      fs::path found = fs::canonical(path, error);
      return error ? std::nullopt : std::optional<fs::path>(found);
    }
    const fs::path parent = fs::weakly_canonical(path.parent_path(), error);
    if (error) return std::nullopt;
    path = parent / path.filename();
    if (!fs::is_symlink(path, error)) return path.lexically_normal();
    const fs::path target = fs::read_symlink(path, error);
    if (error) return std::nullopt;
    path = target.is_absolute() ? target : parent / target;
  }
  return std::nullopt;
}

bool sameFile(const struct stat& a, const fs::path& other) {
  struct stat info {};
  return ::stat(other.c_str(), &info) == 0 && info.st_dev == a.st_dev && info.st_ino == a.st_ino;
}

bool within(const fs::path& path, const fs::path& folder) {
  const std::string& p = path.native();
  const std::string& f = folder.native();
  return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/');
}

}  // namespace

TraceLog::TraceLog(const std::optional<fs::path>& file, bool keep) : keep_(keep) {
  if (!file) return;
  name_ = *file;
  // Not blocking: a FIFO nobody reads is refused rather than waited on.
  file_.reset(::open(file->c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644));
  const int flags = file_ ? ::fcntl(file_.get(), F_GETFL) : -1;
  if (flags < 0 || ::fcntl(file_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throw SimOutputError(file->string() +
                         ": cannot create the trace file: " + std::strerror(errno));
  }
}

void TraceLog::refuseInsideImage(const fs::path& file, const fs::path& deviceDir) {
  const auto refuse = [&](const std::string& what) {
    throw SimOutputError(file.string() + ": the trace file lies in the device image (its " + what +
                         "): give a path outside " + deviceDir.string());
  };
  std::error_code error;
  const fs::path image = fs::canonical(deviceDir, error);
  if (error) return;  // no image: that is told elsewhere
  // The same file under another name (a hard link, /dev/stdout sent to it).
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0) {
    for (const char* name : {"registry.reg", "device.json"}) {
      if (sameFile(info, image / name)) refuse(name);
    }
  }
  const std::optional<fs::path> written = whereWritten(file);
  if (!written) return;
  fs::path files = fs::canonical(image / "fs", error);
  if (error) files = image / "fs";
  if (within(*written, files)) refuse("files, fs/");
  if (written->parent_path() == image) {
    const std::string name = written->filename().string();
    if (name == "registry.reg" || name == "device.json") refuse(name);
    // The registry's temporary files, renamed over it.
    if (name.rfind(".registry.reg", 0) == 0) refuse("registry.reg");
  }
}

void TraceLog::record(nlohmann::json entry) {
  if (file_) {
    // "op" first, so the lines read well; then the other fields in name order.
    constexpr auto replace = nlohmann::json::error_handler_t::replace;
    std::string line = "{";
    if (entry.contains("op")) line += "\"op\":" + entry["op"].dump(-1, ' ', false, replace);
    for (const auto& item : entry.items()) {
      if (item.key() == "op") continue;
      if (line.size() > 1) line += ',';
      line += nlohmann::json(item.key()).dump() + ":" + item.value().dump(-1, ' ', false, replace);
    }
    line += "}\n";
    errno = 0;
    if (writeFully(file_.get(), line)) {
      whole_ += line.size();
    } else {
      writeError_ = name_.string() + ": the trace could not be written: " +
                    (errno == 0 ? std::string("the file takes no more") : std::strerror(errno));
      // No torn line at the end: the file keeps the lines written whole (where it can be
      // cut), and takes no more.
      if (::ftruncate(file_.get(), static_cast<off_t>(whole_)) != 0) {
        // A pipe or a device: what went out stays out.
      }
      file_.reset();
    }
  }
  if (keep_) entries_.push_back(std::move(entry));
}

}  // namespace autorun::sim
