// encode PLAIN OUT: plain configuration text to the enciphered file the installer reads.
#include <ostream>
#include <string>

#include "commands.h"
#include "common/config_text.h"
#include "tool_files.h"

namespace autorun::config_tool {

void runEncode(const EncodeOptions& options, std::ostream& err) {
  const std::string bytes = readWholeFile(options.plain);
  const std::optional<host::ConfigurationSource> source = host::readConfigurationSource(bytes);
  if (!source) refuseSource(options.plain, bytes);
  if (source->encoding != host::SourceEncoding::Utf8) {
    int line = 0;
    if (host::hasIrregularLineEnds(source->text, &line)) {
      err << "autorun-config: note: " << options.plain
          << ": UTF-16 text is enciphered as written, and line " << line
          << " ends in a carriage return without a line feed or in a line feed alone, which "
             "the installer reads as written (a UTF-8 source gets CR LF line ends)\n";
    }
  }
  const std::vector<std::uint8_t> file = host::encipherConfigurationText(source->text, options.key);
  if (file.size() > kMaxFileSize) {
    throw ToolError(options.out + ": not written: it would be " + std::to_string(file.size()) +
                    " bytes, and the installer reads at most " + std::to_string(kMaxFileSize));
  }
  writeOutput(options.out,
              std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
}

}  // namespace autorun::config_tool
