// Text from a configuration or a card, made safe for a terminal or a report: control
// characters are written as escapes, so that a name or a message text can neither move the
// cursor, clear the screen nor retitle the window, and a line stays one line.
#pragma once

#include <string>
#include <string_view>

namespace autorun::host {

// UTF-8 text with \n, \t, \r and \b for those characters, \xNN for the other C0 controls
// and DEL, and \uNNNN for the C1 controls (U+0080 to U+009F), which some terminals take
// for the start of an escape sequence as well.
std::string escapeControls(std::string_view utf8);
std::string escapeControls(std::u16string_view text);

}  // namespace autorun::host
