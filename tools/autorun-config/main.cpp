// autorun-config: enciphers, deciphers and shows the installer's configuration files.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "check_command.h"
#include "commands.h"
#include "tool_files.h"

int main(int argc, char** argv) {
  using namespace autorun::config_tool;
  CLI::App app("Configuration files of the autorun installer (autorun_8.qlm)", "autorun-config");
  app.require_subcommand(1);
  addEncodeCommand(app);
  addDecodeCommand(app);
  addDumpCommand(app);
  int checkExit = 0;
  addCheckCommand(app, checkExit);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const ToolError& e) {
    std::cerr << "autorun-config: error: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "autorun-config: error: " << e.what() << '\n';
    return 1;
  }
  return checkExit;
}
