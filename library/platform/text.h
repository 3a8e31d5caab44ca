// Text conversions between the forms the library meets.
//
// A text of the binary interface is UTF-16LE code units; binary content rides in the same
// type as raw bytes packed two to a code unit, with its exact byte length kept. Inside the
// library both are carried as `Bytes` (the raw bytes of the text), so signing, hashing and
// encrypting see exactly what a caller handed over. Messages, names and paths are UTF-8.
// ANSI text is Windows-1252 with every byte value mapped, so a text read and written back
// round-trips byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace vellum {

// The line break of every message the system writes.
inline constexpr char kCrLf[] = "\r\n";

using Bytes = std::string;  // raw bytes; std::string for cheap slicing and SSO

Bytes Utf8ToUtf16le(std::string_view utf8);
// Odd trailing bytes and unpaired surrogates become U+FFFD.
std::string Utf16leToUtf8(std::string_view utf16le);

// Appends the UTF-8 form of a code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t code_point);

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Windows-1252, all 256 bytes mapped (0x81 0x8D 0x8F 0x90 0x9D to the C1 controls).
Bytes AnsiToUtf16le(std::string_view ansi);
// The same into `out`, which has room for 2 * ansi.size() bytes (for readers that fill their
// own buffers).
void AnsiToUtf16leInto(std::string_view ansi, char* out);
// Characters outside the code page become '?'. An odd trailing byte is dropped.
std::string Utf16leToAnsi(std::string_view utf16le);
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// The small text rules of the system's names and messages.
// Removes leading and trailing blanks (U+0020 only: tabs and line breaks stay).
std::string TrimSpaces(std::string_view text);
// Every occurrence of `from`, left to right, not overlapping, case counting; an empty `from`
// replaces nothing.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// Appends "*" to a UTF-16 text until it is `length` code units long (the padding of the
// credentials of the verification desk); a text that long or longer stays as it is.
void PadWithStars(std::u16string& text, std::size_t length);

}  // namespace vellum
