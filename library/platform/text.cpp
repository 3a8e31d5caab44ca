#include "library/platform/text.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace vellum {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// 0x80..0x9F of Windows-1252; the five undefined bytes map to their C1 controls so every
// byte survives a round trip.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t AnsiToUnit(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F) return kCp1252High[c - 0x80];
  return c;
}

char UnitToAnsi(char32_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] == u) return static_cast<char>(0x80 + i);
  return '?';
}

// Decodes one code point from UTF-8; advances i. Malformed input gives U+FFFD for one byte.
char32_t NextUtf8(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return cp;
}

template <class Emit>
void ForEachUtf8(std::string_view utf8, Emit emit) {
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = NextUtf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      emit(static_cast<char16_t>(0xD800 + (cp >> 10)));
      emit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      emit(static_cast<char16_t>(cp));
    }
  }
}

// Walks UTF-16 code units, joining surrogate pairs; lone surrogates give U+FFFD.
template <class Unit, class Emit>
void ForEachCodePoint(std::size_t count, Unit unit, Emit emit) {
  for (std::size_t i = 0; i < count; ++i) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      char32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        emit(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    emit((u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
  }
}

char16_t UnitAt(std::string_view le, std::size_t i) {
  return static_cast<char16_t>(static_cast<unsigned char>(le[2 * i]) |
                               (static_cast<unsigned char>(le[2 * i + 1]) << 8));
}

}  // namespace

Bytes Utf8ToUtf16le(std::string_view utf8) {
  Bytes out;
  out.reserve(utf8.size() * 2);
  ForEachUtf8(utf8, [&](char16_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  });
  return out;
}

std::string Utf16leToUtf8(std::string_view le) {
  std::string out;
  out.reserve(le.size());
  ForEachCodePoint(
      le.size() / 2, [&](std::size_t i) { return UnitAt(le, i); },
      [&](char32_t cp) { AppendUtf8(out, cp); });
  if (le.size() % 2 != 0) AppendUtf8(out, kReplacement);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  ForEachUtf8(utf8, [&](char16_t u) { out += u; });
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  ForEachCodePoint(
      utf16.size(), [&](std::size_t i) { return utf16[i]; },
      [&](char32_t cp) { AppendUtf8(out, cp); });
  return out;
}

namespace {

// Four bytes spread over the low bytes of four 16-bit units.
constexpr std::uint64_t Spread(std::uint64_t four) {
  four = (four | (four << 16)) & 0x0000FFFF0000FFFFull;
  return (four | (four << 8)) & 0x00FF00FF00FF00FFull;
}

}  // namespace

// Large texts spend most of their reading here: eight bytes of ASCII (most text) widen at
// once, other bytes one by one.
void AnsiToUtf16leInto(std::string_view ansi, char* out) {
  static_assert(std::endian::native == std::endian::little, "units are written little-endian");
  const char* in = ansi.data();
  const std::size_t size = ansi.size();
  std::size_t at = 0;
  while (at < size) {
    if (size - at >= 8) {
      std::uint64_t eight = 0;
      std::memcpy(&eight, in + at, 8);
      if ((eight & 0x8080808080808080ull) == 0) {
        const std::uint64_t low = Spread(eight & 0xFFFFFFFFull);
        const std::uint64_t high = Spread(eight >> 32);
        std::memcpy(out + 2 * at, &low, 8);
        std::memcpy(out + 2 * at + 8, &high, 8);
        at += 8;
        continue;
      }
    }
    const char16_t u = AnsiToUnit(static_cast<unsigned char>(in[at]));
    out[2 * at] = static_cast<char>(u & 0xFF);
    out[2 * at + 1] = static_cast<char>(u >> 8);
    ++at;
  }
}

Bytes AnsiToUtf16le(std::string_view ansi) {
  Bytes out(ansi.size() * 2, '\0');
  AnsiToUtf16leInto(ansi, out.data());
  return out;
}

std::string Utf16leToAnsi(std::string_view le) {
  std::string out;
  out.reserve(le.size() / 2);
  ForEachCodePoint(
      le.size() / 2, [&](std::size_t i) { return UnitAt(le, i); },
      [&](char32_t cp) { out += UnitToAnsi(cp); });
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  return Utf16leToUtf8(AnsiToUtf16le(ansi));
}
std::string Utf8ToAnsi(std::string_view utf8) {
  return Utf16leToAnsi(Utf8ToUtf16le(utf8));
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = text.find(from, pos)) != std::string_view::npos;
       pos = hit + from.size())
    out.append(text.substr(pos, hit - pos)).append(to);
  return out.append(text.substr(pos));
}

void PadWithStars(std::u16string& text, std::size_t length) {
  if (text.size() < length) text.append(length - text.size(), u'*');
}

}  // namespace vellum
