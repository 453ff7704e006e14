// Text from a card or an image shown where a terminal may read it: control characters are
// written out instead of sent, so that none moves the cursor, clears the screen, sets the
// window title or hides what follows.
#pragma once

#include <string>
#include <string_view>

namespace autorun::host {

enum class LineBreaks {
  Escaped,  // a line feed is written out like any other control character
  Kept,     // a line feed (or CR LF) stays a line break: for texts shown as paragraphs
};

// UTF-8 text with its control characters written out: \n, \t, \r and \b by name, other
// C0 characters and DEL as \xNN, C1 characters (U+0080 to U+009F, which some terminals
// obey like escape sequences) as \uNNNN, and bytes that are not UTF-8 as \xNN. Everything
// else is kept as it is.
std::string escapeControls(std::string_view utf8, LineBreaks lineBreaks = LineBreaks::Escaped);
// The same for UTF-16 text.
std::string escapeControls(std::u16string_view text, LineBreaks lineBreaks = LineBreaks::Escaped);

}  // namespace autorun::host
