// Text from strangers on its way to a terminal, and text from the user on its way in.
//
// Names carried in signatures, certificate subjects and paths are shown with their control
// characters escaped, so no name can move the cursor, clear a line or forge a verdict on the
// terminal. What the command passes on (names, passwords, standard input for encryption) must
// be valid UTF-8: the library's texts are UTF-16, and bytes that are no UTF-8 would turn into
// U+FFFD on the way, naming another file or making another password.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellum::cli {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool IsValidUtf8(std::string_view text);

// True when `utf16le` is an even number of bytes holding well-formed UTF-16 (every surrogate in
// a pair).
bool IsValidUtf16le(std::string_view utf16le);

// `text` with every control character (U+0000 to U+001F, U+007F to U+009F) written as an escape:
// \n \r \t \e, or \xNN / \u00NN for the rest; a byte that is no UTF-8 as \xNN; a backslash
// doubled, so the escapes are unambiguous. With
// `keep_line_breaks`, a CR LF pair (the library's line break) becomes a plain LF instead.
std::string EscapeControls(std::string_view text, bool keep_line_breaks = false);

// The command's message when an argument is no UTF-8, or empty when all are.
std::string CheckArgumentsAreUtf8(const std::vector<std::string>& args);

}  // namespace vellum::cli
