// The commands of autorun-config. Each lives in its own file and adds itself to the
// program through its add...Command function, which main() calls.
#pragma once

#include <CLI/CLI.hpp>

namespace autorun::config_tool {

void addEncodeCommand(CLI::App& app);
void addDecodeCommand(CLI::App& app);
void addDumpCommand(CLI::App& app);

}  // namespace autorun::config_tool
