// dump IN: the entries the installer would hold after loading a configuration.
#include <ostream>
#include <string>
#include <vector>

#include "base/config_store.h"
#include "commands.h"
#include "common/config_text.h"
#include "host_text/escape.h"
#include "context/config_loader.h"
#include "host_text/utf.h"
#include "tool_files.h"

namespace autorun::config_tool {

void runDump(const DumpOptions& options, std::ostream& out, std::ostream& err) {
  const std::string bytes = readWholeFile(options.in);
  std::size_t fileSize = bytes.size();
  std::optional<std::u16string> text = host::decipherConfigurationFile(bytes, options.key);
  if (!text) {
    std::optional<host::ConfigurationSource> source = host::readConfigurationSource(bytes);
    if (!source) {
      if (host::findBadUtf8(bytes)) refuseSource(options.in, bytes);
      throw ToolError(options.in +
                      ": neither a configuration file for this key nor plain configuration text");
    }
    text = std::move(source->text);
    fileSize = 2 + 2 * text->size();
    if (std::filesystem::path(options.in).filename() == "autorun_8.qlm") {
      err << "autorun-config: warning: " << options.in
          << " is plain text, not enciphered: the installer reads its configuration file "
             "enciphered and refuses this one (configuration is invalid, code 3); make it "
             "with autorun-config encode\n";
    }
  }
  if (fileSize > kMaxFileSize) {
    err << "autorun-config: warning: " << options.in << ": as a configuration file it is "
        << fileSize << " bytes; the installer refuses files over " << kMaxFileSize << " bytes\n";
  }

  // Parsed as the installer parses it: the byte-order mark, then UTF-16LE.
  const std::string plain = host::utf16WithMark(*text);
  ConfigStore store;
  store.parseText(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size());
  if (store.expansionLimitReached()) {
    err << "autorun-config: warning: " << options.in
        << ": its references pull in more text than the installer allows: it refuses this "
           "configuration (configuration is invalid, code 3)\n";
  } else if (store.hasKey(u"common/brand") && store.hasKey(u"common/website")) {
    fillMessageTexts(store);
  } else {
    err << "autorun-config: warning: " << options.in
        << ": no common/brand or no common/website: the installer refuses this "
           "configuration\n";
  }

  std::string lines;
  for (const auto& [key, value] : store.entries()) {
    lines += host::escapeControls(key);
    lines += " = ";
    lines += host::escapeControls(value);
    lines += '\n';
  }
  out << lines << std::flush;
  if (!out) throw ToolError("cannot write the entries");
}

}  // namespace autorun::config_tool
