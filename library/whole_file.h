// Reading and writing a file whole, the two private file operations of DigitalSign.
//
// Content travels as `Bytes`: in text mode the UTF-16LE bytes of the text (the file itself is
// ANSI, Windows-1252); in binary mode the file's raw bytes. Both functions raise vellum::Error
// with a positive run-time number; neither reports through a return value.
#pragma once

#include <string>
#include <string_view>

#include "library/platform/text.h"

namespace vellum {

// ReadWholeFile returns the whole content of `sFileName`.
//
// A missing file raises 504 "File: <name> does not Exist."; a file that vanishes between that
// check and the open raises 53 "File: <name> not found."; any other failure passes on with its
// own number. Binary mode gives the file's bytes followed by one zero byte (L + 1 bytes, the
// buffer the reader has always handed out); text mode decodes ANSI into UTF-16LE. With `trim`
// leading and trailing U+0020 code units are removed (see TrimSpaceUnits).
Bytes ReadWholeFile(const std::string& sFileName, bool bBinary, bool trim);

// WriteWholeFile replaces `sFileName` with `sData` atomically: on any failure the old file stays
// whole and no temporary file is left behind. Text mode writes the UTF-16LE text as ANSI with no
// line end added; binary mode writes the bytes unchanged. An existing target that is a device,
// pipe or socket is refused (error 75) and left alone; a symbolic link is replaced by the file.
//
// Text mode refuses (error 5, nothing written) a text that ANSI cannot hold exactly (a character
// outside Windows-1252, or an odd trailing byte): writing '?' in its place would hand the caller
// a file that silently differs from the content it verified.
void WriteWholeFile(const std::string& sFileName, const Bytes& sData, bool bBinary);

// The trim rule of ReadWholeFile, exposed for the callers that trim content they build.
//
// Content is walked as 16-bit units; a unit 0x0020 at either end is removed. Binary content
// may have an odd length (an even file plus the reader's zero byte): that last odd byte is not
// a unit, so it is kept and it ends the trailing trim. Dropping it, as a 16-bit text form
// would, loses a byte of the caller's file.
Bytes TrimSpaceUnits(std::string_view content);

}  // namespace vellum
