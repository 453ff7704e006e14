// What the commands of autorun-config share: their errors and their files.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace autorun::config_tool {

// A failure to report to the user; main() prints it and exits with status 1.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest configuration file the installer reads.
inline constexpr std::size_t kMaxFileSize = 100000;
// The largest input the tool reads: far more than any configuration source.
inline constexpr std::size_t kMaxInputSize = std::size_t{16} << 20;

// The whole file. Throws ToolError when it cannot be read, is a folder, or is larger than
// kMaxInputSize.
std::string readWholeFile(const std::string& path);

// Throws the ToolError that says why `bytes` read from `name` are no configuration source:
// the line and column of a byte that is not UTF-8, NUL bytes, ...
[[noreturn]] void refuseSource(const std::string& name, std::string_view bytes);

// Writes `bytes` to `path`. A regular file (also behind a link) or a missing path is
// replaced atomically: a temporary file beside it, synced, renamed over it, so that the
// old file stays whole until the new one is complete. Anything else that takes bytes (a
// device such as /dev/stdout, a FIFO, a link to one) is written through. A folder is
// refused. Throws ToolError.
void writeOutput(const std::string& path, std::string_view bytes);

}  // namespace autorun::config_tool
