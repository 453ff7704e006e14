// What the commands of autorun-config share: errors, files, the --key option.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host_text/escape.h"

namespace autorun::config_tool {

// A failure to report to the user; main() prints it and exits with status 1.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest configuration file the installer reads.
inline constexpr std::size_t kMaxFileSize = 100000;

// The whole file. Throws ToolError when it cannot be read.
std::string readWholeFile(const std::string& path);

// Writes the file through a temporary file in the same folder renamed into place, so that
// the old file stays whole until the new one is complete. Throws ToolError.
void writeFileAtomically(const std::string& path, std::string_view bytes);

// Adds --key to a command; `key` starts as the build's configuration key.
void addKeyOption(CLI::App& command, std::string& key);

// Control characters written out (host_text/escape.h), as every tool shows outside text.
using host::escapeControls;

}  // namespace autorun::config_tool
