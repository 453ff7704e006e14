// dump IN: the entries the installer would hold after loading a configuration.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/config_store.h"
#include "commands.h"
#include "common/config_text.h"
#include "context/config_loader.h"
#include "host_text/utf.h"
#include "tool_files.h"

namespace autorun::config_tool {

namespace {

struct DumpOptions {
  std::string in;
  std::string key;
};

void runDump(const DumpOptions& options) {
  const std::string bytes = readWholeFile(options.in);
  std::size_t fileSize = bytes.size();
  std::optional<std::u16string> text = host::decipherConfigurationFile(bytes, options.key);
  if (!text) {
    if (!host::isConfigurationSource(bytes)) {
      throw ToolError(options.in +
                      ": neither a configuration file for this key nor plain configuration text");
    }
    text = host::decodeConfigurationSource(bytes);
    fileSize = 2 + 2 * text->size();
  }
  if (fileSize > kMaxFileSize) {
    std::cerr << "autorun-config: warning: " << options.in << ": as a configuration file it is "
              << fileSize << " bytes; the installer refuses files over " << kMaxFileSize
              << " bytes\n";
  }

  // Parsed as the installer parses it: the byte-order mark, then UTF-16LE.
  std::vector<std::uint8_t> plain{0xFF, 0xFE};
  plain.reserve(2 + 2 * text->size());
  for (char16_t c : *text) {
    plain.push_back(static_cast<std::uint8_t>(c & 0xFF));
    plain.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  ConfigStore store;
  store.parseText(plain.data(), plain.size());
  if (store.hasKey(u"common/brand") && store.hasKey(u"common/website")) {
    fillMessageTexts(store);
  } else {
    std::cerr << "autorun-config: warning: " << options.in
              << ": no common/brand or no common/website: the installer refuses this "
                 "configuration\n";
  }

  std::string out;
  for (const auto& [key, value] : store.entries()) {
    out += escapeControls(host::toUtf8(key));
    out += " = ";
    out += escapeControls(host::toUtf8(value));
    out += '\n';
  }
  std::cout << out << std::flush;
  if (!std::cout) throw ToolError("cannot write the entries");
}

}  // namespace

void addDumpCommand(CLI::App& app) {
  auto options = std::make_shared<DumpOptions>();
  CLI::App* command = app.add_subcommand(
      "dump",
      "Show the entries the installer would hold after loading a configuration (enciphered "
      "file or plain text), one 'key = value' line each, control characters escaped");
  command->add_option("IN", options->in, "Configuration file or plain configuration text")
      ->required();
  addKeyOption(*command, options->key);
  command->callback([options] { runDump(*options); });
}

}  // namespace autorun::config_tool
