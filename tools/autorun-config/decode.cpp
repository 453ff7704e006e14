// decode IN [OUT]: an enciphered configuration file back to plain text.
#include <ostream>
#include <string>

#include "commands.h"
#include "common/config_text.h"
#include "host_text/utf.h"
#include "tool_files.h"

namespace autorun::config_tool {

void runDecode(const DecodeOptions& options, std::ostream& out, std::ostream& err) {
  const std::optional<std::u16string> text =
      host::decipherConfigurationFile(readWholeFile(options.in), options.key);
  if (!text) throw ToolError(options.in + ": not a configuration file for this key");

  // UTF-8 with LF line ends, which encode turns back into CR LF; a text with line ends
  // that would not come back so is written as the installer reads it, in UTF-16.
  std::string bytes;
  int line = 0;
  bool loneSurrogate = false;
  for (std::size_t k = 0; k < text->size() && !loneSurrogate; ++k) {
    const char16_t c = (*text)[k];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low = c >= 0xDC00 && c <= 0xDFFF;
    const bool nextLow =
        k + 1 < text->size() && (*text)[k + 1] >= 0xDC00 && (*text)[k + 1] <= 0xDFFF;
    if (high && nextLow) {
      ++k;
    } else if (high || low) {
      loneSurrogate = true;
    }
  }
  if (host::hasIrregularLineEnds(*text, &line) || loneSurrogate) {
    bytes = host::utf16WithMark(*text);
    err << "autorun-config: note: " << options.in << ": "
        << (line > 0 ? "line " + std::to_string(line) +
                           " ends in a carriage return without a line feed or in a line feed "
                           "alone"
                     : std::string("the text holds a lone UTF-16 surrogate"))
        << ", which UTF-8 text cannot carry; written as UTF-16 with its byte-order mark, "
           "exactly as the installer reads it, so that encode gives the same file back\n";
  } else {
    std::u16string lfText;
    lfText.reserve(text->size());
    for (std::size_t k = 0; k < text->size(); ++k) {
      if ((*text)[k] == u'\r' && k + 1 < text->size() && (*text)[k + 1] == u'\n') continue;
      lfText.push_back((*text)[k]);
    }
    bytes = host::toUtf8(lfText);
  }
  if (options.out.empty()) {
    out << bytes << std::flush;
    if (!out) throw ToolError("cannot write the text");
  } else {
    writeOutput(options.out, bytes);
  }
}

}  // namespace autorun::config_tool
