#include "tool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "configuration_key.h"

namespace autorun::config_tool {

namespace {

std::string systemError(int error) {
  return std::strerror(error);
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError(path + ": cannot open: " + systemError(errno));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ToolError(path + ": cannot read");
  return bytes;
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  const std::filesystem::path target(path);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string pattern = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');

  const int fd = mkstemp(name.data());
  if (fd < 0) throw ToolError(path + ": cannot write: " + systemError(errno));
  const std::string temporary(name.data());
  auto fail = [&](const std::string& what, int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    throw ToolError(path + ": " + what + ": " + systemError(error));
  };

  // mkstemp makes the file private; give it the permissions a new file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0) fail("cannot write", errno);

  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("cannot write", errno);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail("cannot write", errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw ToolError(path + ": cannot write: " + systemError(error));
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw ToolError(path + ": cannot write: " + systemError(error));
  }
}

void addKeyOption(CLI::App& command, std::string& key) {
  key.assign(kConfigurationKey, kConfigurationKeyLength);
  command
      .add_option("--key", key, "Cipher key (default: the key this build's installer reads with)")
      ->check([](const std::string& value) {
        return value.empty() ? std::string("the key must not be empty") : std::string();
      });
}

}  // namespace autorun::config_tool
