#include "library/crypto/codec.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "library/crypto/der_items.h"
#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int Sextet(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// DER with nothing but zero bytes after it, trimmed to the element; empty when not DER. A
// message whose outer length is left open (BER, from other tools) is kept whole: its end is
// known only to the parser, and trailing zeros are harmless there, since an end-of-contents
// marker is itself two zero bytes.
bool TrimDer(Bytes& der) {
  DerElementHeader header;
  if (ReadDerHeader(der, header) != DerHeaderRead::kComplete || header.tag != 0x30) return false;
  if (header.indefinite) return true;
  if (header.length > der.size() - header.size) return false;
  const std::size_t length = header.size + static_cast<std::size_t>(header.length);
  if (der.find_first_not_of('\0', length) != Bytes::npos) return false;
  der.resize(length);
  return true;
}

}  // namespace

std::uint64_t Base64LinesLength(std::uint64_t length) {
  const std::uint64_t characters = (length + 2) / 3 * 4;
  return characters + (characters + 63) / 64 * 2;
}

namespace {

// 48 bytes make one 64-character line.
constexpr std::size_t kLineInput = 48;
constexpr std::size_t kLineText = 64;
// Encoded text is handed on in pieces of about this size.
constexpr std::size_t kTextBatch = std::size_t{1} << 16;

// The two characters of every 12-bit value, so three bytes take two look-ups: as two bytes
// (little-endian), and as two UTF-16LE units.
struct Pairs {
  std::uint16_t bytes[4096];
  std::uint32_t units[4096];
};
constexpr Pairs kPairs = [] {
  Pairs pairs{};
  for (int v = 0; v < 4096; ++v) {
    const auto first = static_cast<unsigned char>(kAlphabet[v >> 6]);
    const auto second = static_cast<unsigned char>(kAlphabet[v & 63]);
    pairs.bytes[v] = static_cast<std::uint16_t>(first | second << 8);
    pairs.units[v] = first | std::uint32_t{second} << 16;
  }
  return pairs;
}();

// The four characters of the 24 bits in `v`, at `out`, a character per `Width` bytes.
template <std::size_t Width>
void PutGroup(std::uint32_t v, char* out) {
  if constexpr (Width == 1) {
    const std::uint32_t text = kPairs.bytes[v >> 12] | std::uint32_t{kPairs.bytes[v & 0xFFF]} << 16;
    std::memcpy(out, &text, 4);
  } else {
    const std::uint64_t text = kPairs.units[v >> 12] | std::uint64_t{kPairs.units[v & 0xFFF]} << 32;
    std::memcpy(out, &text, 8);
  }
}

// Encodes up to one line of input (1 to 48 bytes) and its CR LF at `out`, a character per
// `Width` bytes; returns the end.
template <std::size_t Width>
char* EncodeLine(const unsigned char* in, std::size_t n, char* out) {
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    PutGroup<Width>(std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8 | in[i + 2], out);
    out += 4 * Width;
  }
  if (i < n) {
    const std::size_t rest = n - i;
    std::uint32_t v = std::uint32_t{in[i]} << 16;
    if (rest == 2) v |= std::uint32_t{in[i + 1]} << 8;
    PutGroup<Width>(v, out);
    out[3 * Width] = '=';
    if (rest == 1) out[2 * Width] = '=';
    out += 4 * Width;
  }
  for (char c : {'\r', '\n'}) {
    *out = c;
    if constexpr (Width == 2) out[1] = '\0';
    out += Width;
  }
  return out;
}

}  // namespace

void Base64LineWriter::EncodeLines(std::string_view lines) {
  const std::size_t width = units_ ? 2 : 1;
  const auto* in = reinterpret_cast<const unsigned char*>(lines.data());
  std::size_t left = lines.size();
  while (left > 0) {
    // As many lines as fit the batch (at least one), into room made once.
    const std::size_t line_bytes = (kLineText + 2) * width;
    const std::size_t count = std::min(
        (left + kLineInput - 1) / kLineInput,
        std::max<std::size_t>(1, (kTextBatch - std::min(kTextBatch, text_.size())) / line_bytes));
    const std::size_t kept = text_.size();
    text_.resize(kept + count * line_bytes);
    char* out = text_.data() + kept;
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t n = std::min(kLineInput, left);
      out = units_ ? EncodeLine<2>(in, n, out) : EncodeLine<1>(in, n, out);
      in += n;
      left -= n;
    }
    text_.resize(static_cast<std::size_t>(out - text_.data()));
    if (text_.size() >= kTextBatch) Flush();
  }
}

void Base64LineWriter::Flush() {
  if (text_.empty()) return;
  sink_(text_);
  text_.clear();
}

void Base64LineWriter::Write(std::string_view data) {
  if (!partial_.empty()) {
    std::size_t take = std::min(kLineInput - partial_.size(), data.size());
    partial_.append(data.substr(0, take));
    data.remove_prefix(take);
    if (partial_.size() < kLineInput) return;
    EncodeLines(partial_);
    partial_.clear();
  }
  std::size_t whole = data.size() - data.size() % kLineInput;
  EncodeLines(data.substr(0, whole));
  partial_.assign(data.substr(whole));
}

void Base64LineWriter::Finish() {
  // The last, shorter line is padded and ends with CR LF like every other.
  EncodeLines(partial_);
  partial_.clear();
  Flush();
}

Bytes EncodeBase64Lines(std::string_view data) {
  Bytes out;
  out.reserve(static_cast<std::size_t>(Base64LinesLength(data.size())));
  Base64LineWriter writer([&out](std::string_view text) { out.append(text); });
  writer.Write(data);
  writer.Finish();
  return out;
}

Bytes DecodeMessage(std::string_view message, std::int32_t bad_form_hresult) {
  Bytes der;
  MessageDecoder decoder(bad_form_hresult, [&der](std::string_view bytes) { der.append(bytes); });
  decoder.Write(message);
  decoder.Finish();
  if (!TrimDer(der))
    throw Error::Component(bad_form_hresult, "The message is not in a form that can be read.");
  return der;
}

MessageDecoder::MessageDecoder(std::int32_t bad_form_hresult, ByteSink der)
    : bad_form_hresult_(bad_form_hresult), sink_(std::move(der)) {}

void MessageDecoder::Refuse() const {
  throw Error::Component(bad_form_hresult_, "The message is not in a form that can be read.");
}

void MessageDecoder::Write(std::string_view piece) {
  if (form_ == Form::kUnknown) {
    // The form shows in the first byte: 0x30 starts DER; after any blanks, '-' starts PEM
    // armour, anything else Base64.
    if (!blanks_ && !piece.empty() && static_cast<unsigned char>(piece[0]) == 0x30) {
      form_ = Form::kDer;
    } else {
      std::size_t first = 0;
      while (first < piece.size() && IsBlank(static_cast<unsigned char>(piece[first]))) ++first;
      blanks_ = blanks_ || first > 0;
      piece.remove_prefix(first);
      if (piece.empty()) return;
      form_ = piece[0] == '-' ? Form::kArmourHeader : Form::kBase64;
    }
  }
  switch (form_) {
    case Form::kDer:
      produced_ = produced_ || !piece.empty();
      if (!piece.empty()) sink_(piece);
      return;
    case Form::kArmourHeader:
      return WriteArmourHeader(piece);
    case Form::kBase64:
      return WriteBase64(piece);
    case Form::kArmourEnd:
      return WriteArmourEnd(piece);
    case Form::kDone:
    case Form::kUnknown:
      return;
  }
}

// "-----BEGIN ...-----" and whatever precedes it, then the Base64 body.
void MessageDecoder::WriteArmourHeader(std::string_view piece) {
  const std::size_t had = held_.size();
  held_.append(piece.substr(0, kArmourLimit - std::min(kArmourLimit, had)));
  const std::size_t begin = held_.find("-----BEGIN ");
  const std::size_t body = begin == Bytes::npos ? Bytes::npos : held_.find("-----", begin + 11);
  if (body == Bytes::npos) {
    if (held_.size() >= kArmourLimit) Refuse();
    return;
  }
  form_ = Form::kBase64;
  armoured_ = true;
  piece.remove_prefix(body + 5 - had);
  held_.clear();
  WriteBase64(piece);
}

// After the body's first '-': the armour's end line, after which nothing counts.
void MessageDecoder::WriteArmourEnd(std::string_view piece) {
  static constexpr std::string_view kEnd = "-----END ";
  held_.append(piece.substr(0, kEnd.size() - std::min(kEnd.size(), held_.size())));
  if (!kEnd.starts_with(held_)) Refuse();
  if (held_.size() == kEnd.size()) form_ = Form::kDone;
}

namespace {

// The sextet of every byte value, -1 for a byte that is no Base64 symbol: the common case, a
// symbol in the middle of the text, runs through this table.
constexpr std::array<signed char, 256> kSextets = [] {
  std::array<signed char, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[static_cast<std::size_t>(c)] =
        static_cast<signed char>(Sextet(static_cast<unsigned char>(c)));
  return table;
}();

// Decoded bytes are handed on in pieces of about this size.
constexpr std::size_t kDecodeBatch = std::size_t{1} << 16;

}  // namespace

// Strict Base64, one piece at a time: blanks anywhere are skipped, '=' only as padding at the
// end, and zero bytes only at the very end (a binary read of a Base64 file adds one).
void MessageDecoder::WriteBase64(std::string_view text) {
  const char* const text_end = text.data() + text.size();
  while (!text.empty()) {
    const std::string_view part = text.substr(0, kDecodeBatch / 3 * 4);
    text.remove_prefix(part.size());
    // Sized once: resizing for every batch would clear it every time.
    if (out_.size() < kDecodeBatch + 3) out_.resize(kDecodeBatch + 3);
    char* out = out_.data();
    const auto* p = reinterpret_cast<const unsigned char*>(part.data());
    const auto* end = p + part.size();
    while (p != end) {
      // Four symbols in a row, between whole groups: three bytes at once.
      if (bits_ == 0 && padding_ == 0 && !zeros_ && end - p >= 4) {
        const int a = kSextets[p[0]], b = kSextets[p[1]], c = kSextets[p[2]], d = kSextets[p[3]];
        if ((a | b | c | d) >= 0) {
          const auto v = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6 | d);
          *out++ = static_cast<char>(v >> 16);
          *out++ = static_cast<char>((v >> 8) & 0xFF);
          *out++ = static_cast<char>(v & 0xFF);
          symbols_ += 4;
          p += 4;
          continue;
        }
      }
      if (armoured_ && *p == '-' && !zeros_) {
        Hand(out);
        form_ = Form::kArmourEnd;
        const auto* at = reinterpret_cast<const char*>(p);
        return WriteArmourEnd(std::string_view(at, static_cast<std::size_t>(text_end - at)));
      }
      if (!TakeByte(*p++, out)) Refuse();
    }
    Hand(out);
  }
}

void MessageDecoder::Hand(const char* out_end) {
  const std::size_t n = static_cast<std::size_t>(out_end - out_.data());
  if (n == 0) return;
  produced_ = true;
  sink_(std::string_view(out_.data(), n));
}
bool MessageDecoder::TakeByte(unsigned char c, char*& out) {
  const int sextet = kSextets[c];
  if (sextet >= 0 && padding_ == 0 && !zeros_) {
    ++symbols_;
    accumulator_ = (accumulator_ << 6) | static_cast<std::uint32_t>(sextet);
    bits_ += 6;
    if (bits_ >= 8) {
      bits_ -= 8;
      *out++ = static_cast<char>((accumulator_ >> bits_) & 0xFF);
    }
    return true;
  }
  if (c == '\0') {
    zeros_ = true;
    return true;
  }
  if (zeros_) return false;
  if (IsBlank(c)) return true;
  if (c == '=') {
    ++padding_;
    ++symbols_;
    return true;
  }
  return false;  // a symbol after padding, or any other character
}

void MessageDecoder::Finish() {
  switch (form_) {
    case Form::kUnknown:
    case Form::kArmourHeader:
    case Form::kArmourEnd:
      Refuse();
    case Form::kDer:
      break;
    case Form::kBase64:
    case Form::kDone:
      // Unpadded input is accepted too, but a lone dangling sextet is not a byte.
      if (padding_ > 2 || (padding_ > 0 && symbols_ % 4 != 0) || bits_ >= 6) Refuse();
      break;
  }
  if (!produced_) Refuse();
}

std::string HexUpper(std::string_view data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() * 2);
  for (unsigned char c : data) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

}  // namespace vellum::crypto
