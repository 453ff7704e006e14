// encode PLAIN OUT: plain configuration text to the enciphered file the installer reads.
#include <memory>
#include <string>

#include "commands.h"
#include "common/config_text.h"
#include "tool_files.h"

namespace autorun::config_tool {

namespace {

struct EncodeOptions {
  std::string plain;
  std::string out;
  std::string key;
};

void runEncode(const EncodeOptions& options) {
  const std::string source = readWholeFile(options.plain);
  if (!host::isConfigurationSource(source)) {
    throw ToolError(options.plain +
                    ": not plain configuration text (UTF-8, or UTF-16LE with its byte-order "
                    "mark)");
  }
  const std::vector<std::uint8_t> file =
      host::encipherConfigurationText(host::decodeConfigurationSource(source), options.key);
  if (file.size() > kMaxFileSize) {
    throw ToolError(options.out + ": not written: it would be " + std::to_string(file.size()) +
                    " bytes, and the installer reads at most " + std::to_string(kMaxFileSize));
  }
  writeFileAtomically(options.out,
                      std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
}

}  // namespace

void addEncodeCommand(CLI::App& app) {
  auto options = std::make_shared<EncodeOptions>();
  CLI::App* command = app.add_subcommand(
      "encode",
      "Encipher a plain configuration text (UTF-8 or UTF-16LE, LF or CR LF line ends) into "
      "the file the installer reads");
  command->add_option("PLAIN", options->plain, "Plain configuration text")->required();
  command->add_option("OUT", options->out, "Configuration file to write (autorun_8.qlm)")
      ->required();
  addKeyOption(*command, options->key);
  command->callback([options] { runEncode(*options); });
}

}  // namespace autorun::config_tool
