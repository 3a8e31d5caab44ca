#include "cli/safe_text.h"

#include <cstdint>
#include <cstdio>

namespace vellum::cli {
namespace {

// The length of the UTF-8 sequence at `at` and its code point, or 0 when it is malformed.
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string Hex(const char* format, unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(text, at, code);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

bool IsValidUtf16le(std::string_view utf16le) {
  if (utf16le.size() % 2 != 0) return false;
  const auto unit = [&](std::size_t i) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(utf16le[2 * i]) |
                                      (static_cast<unsigned char>(utf16le[2 * i + 1]) << 8));
  };
  const std::size_t count = utf16le.size() / 2;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t u = unit(i);
    if (u >= 0xDC00 && u <= 0xDFFF) return false;  // a low surrogate without its high one
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= count || unit(i + 1) < 0xDC00 || unit(i + 1) > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

std::string EscapeControls(std::string_view text, bool keep_line_breaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (keep_line_breaks && text.substr(at, 2) == "\r\n") {
      out += '\n';
      at += 2;
      continue;
    }
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(text, at, code);
    if (length == 0) {
      out += Hex("\\x%02X", static_cast<unsigned char>(text[at]));
      ++at;
      continue;
    }
    switch (code) {
      case '\\':
        // Doubled, so that no text can pass for an escape written here.
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case 0x1B:
        out += "\\e";
        break;
      default:
        if (code < 0x20 || code == 0x7F)
          out += Hex("\\x%02X", static_cast<unsigned>(code));
        else if (code >= 0x80 && code <= 0x9F)
          out += Hex("\\u%04X", static_cast<unsigned>(code));
        else
          out.append(text.substr(at, length));
        break;
    }
    at += length;
  }
  return out;
}

std::string CheckArgumentsAreUtf8(const std::vector<std::string>& args) {
  for (const std::string& arg : args)
    if (!IsValidUtf8(arg))
      return "vellum: the argument \"" + EscapeControls(arg) +
             "\" cannot be represented: it is not valid UTF-8 (names and texts must be UTF-8)";
  return {};
}

}  // namespace vellum::cli
