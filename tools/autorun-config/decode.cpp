// decode IN [OUT]: an enciphered configuration file back to plain UTF-8 text.
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "common/config_text.h"
#include "host_text/utf.h"
#include "tool_files.h"

namespace autorun::config_tool {

namespace {

struct DecodeOptions {
  std::string in;
  std::string out;
  std::string key;
};

void runDecode(const DecodeOptions& options) {
  const std::optional<std::u16string> text =
      host::decipherConfigurationFile(readWholeFile(options.in), options.key);
  if (!text) throw ToolError(options.in + ": not a configuration file for this key");

  std::u16string lfText;
  lfText.reserve(text->size());
  for (std::size_t k = 0; k < text->size(); ++k) {
    if ((*text)[k] == u'\r' && k + 1 < text->size() && (*text)[k + 1] == u'\n') continue;
    lfText.push_back((*text)[k]);
  }
  const std::string utf8 = host::toUtf8(lfText);
  if (options.out.empty()) {
    std::cout << utf8 << std::flush;
    if (!std::cout) throw ToolError("cannot write the text");
  } else {
    writeFileAtomically(options.out, utf8);
  }
}

}  // namespace

void addDecodeCommand(CLI::App& app) {
  auto options = std::make_shared<DecodeOptions>();
  CLI::App* command = app.add_subcommand(
      "decode", "Decipher a configuration file into plain UTF-8 text with LF line ends");
  command->add_option("IN", options->in, "Configuration file (autorun_8.qlm)")->required();
  command->add_option("OUT", options->out, "Text file to write (default: standard output)");
  addKeyOption(*command, options->key);
  command->callback([options] { runDecode(*options); });
}

}  // namespace autorun::config_tool
