#include "library/crypto/codec.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>

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

// Length of the DER element at the start of `data` (tag, length, contents), or 0 when the
// header is not a definite-length SEQUENCE that fits. CMS messages from other tools may use
// indefinite lengths (BER); those are handed to the parser whole.
std::size_t DerLength(std::string_view data, bool& indefinite) {
  indefinite = false;
  if (data.size() < 2 || static_cast<unsigned char>(data[0]) != 0x30) return 0;
  unsigned char first = static_cast<unsigned char>(data[1]);
  if (first == 0x80) {
    indefinite = true;
    return 0;
  }
  if (first < 0x80) {
    std::size_t total = 2u + first;
    return total <= data.size() ? total : 0;
  }
  std::size_t count = first & 0x7F;
  if (count > 4 || data.size() < 2 + count) return 0;
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < count; ++i)
    length = (length << 8) | static_cast<unsigned char>(data[2 + i]);
  std::uint64_t total = 2 + count + length;
  return total <= data.size() ? static_cast<std::size_t>(total) : 0;
}

// DER with nothing but zero bytes after it, trimmed to the element; empty when not DER.
Bytes TrimDer(std::string_view data) {
  bool indefinite = false;
  std::size_t length = DerLength(data, indefinite);
  if (indefinite) {
    // BER: the end is known only to the parser. Trailing zeros are harmless there, since
    // an end-of-contents marker is itself two zero bytes.
    return Bytes(data);
  }
  if (length == 0) return {};
  for (std::size_t i = length; i < data.size(); ++i)
    if (data[i] != '\0') return {};
  return Bytes(data.substr(0, length));
}

// Strips "-----BEGIN ...-----" / "-----END ...-----" lines, leaving the Base64 between.
std::string_view StripArmour(std::string_view text) {
  std::size_t begin = text.find("-----BEGIN ");
  if (begin == std::string_view::npos) return text;
  std::size_t body = text.find("-----", begin + 11);
  if (body == std::string_view::npos) return text;
  body += 5;
  std::size_t end = text.find("-----END ", body);
  if (end == std::string_view::npos) return text.substr(body);
  return text.substr(body, end - body);
}

// Strict Base64: blanks anywhere are skipped, '=' only as padding at the end.
bool DecodeBase64(std::string_view text, Bytes& out) {
  out.clear();
  std::uint32_t accumulator = 0;
  int bits = 0;
  int padding = 0;
  std::size_t symbols = 0;
  for (unsigned char c : text) {
    if (IsBlank(c)) continue;
    if (c == '=') {
      ++padding;
      ++symbols;
      continue;
    }
    int value = Sextet(c);
    if (value < 0 || padding > 0) return false;
    ++symbols;
    accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((accumulator >> bits) & 0xFF));
    }
  }
  if (padding > 2) return false;
  // Unpadded input is accepted too, but a lone dangling sextet is not a byte.
  if (padding > 0 && symbols % 4 != 0) return false;
  if (bits >= 6) return false;
  return !out.empty();
}

}  // namespace

Bytes EncodeBase64Lines(std::string_view data) {
  Bytes out;
  out.reserve((data.size() + 2) / 3 * 4 * 66 / 64 + 2);
  std::size_t column = 0;
  auto put = [&](char c) {
    out.push_back(c);
    if (++column == 64) {
      out += "\r\n";
      column = 0;
    }
  };
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    std::uint32_t n = (static_cast<unsigned char>(data[i]) << 16) |
                      (static_cast<unsigned char>(data[i + 1]) << 8) |
                      static_cast<unsigned char>(data[i + 2]);
    put(kAlphabet[(n >> 18) & 63]);
    put(kAlphabet[(n >> 12) & 63]);
    put(kAlphabet[(n >> 6) & 63]);
    put(kAlphabet[n & 63]);
  }
  std::size_t rest = data.size() - i;
  if (rest > 0) {
    std::uint32_t n = static_cast<unsigned char>(data[i]) << 16;
    if (rest == 2) n |= static_cast<unsigned char>(data[i + 1]) << 8;
    put(kAlphabet[(n >> 18) & 63]);
    put(kAlphabet[(n >> 12) & 63]);
    put(rest == 2 ? kAlphabet[(n >> 6) & 63] : '=');
    put('=');
  }
  if (column != 0) out += "\r\n";
  return out;
}

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

}  // namespace

void Base64LineWriter::EncodeLines(std::string_view whole_lines) {
  unsigned char line[kLineText + 1];  // EVP_EncodeBlock ends with a NUL
  for (std::size_t at = 0; at < whole_lines.size(); at += kLineInput) {
    std::size_t n = std::min(kLineInput, whole_lines.size() - at);
    int written = EVP_EncodeBlock(
        line, reinterpret_cast<const unsigned char*>(whole_lines.data() + at), static_cast<int>(n));
    text_.append(reinterpret_cast<const char*>(line), static_cast<std::size_t>(written));
    text_ += "\r\n";
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

Bytes DecodeMessage(std::string_view message, std::int32_t bad_form_hresult) {
  if (!message.empty() && static_cast<unsigned char>(message[0]) == 0x30) {
    Bytes der = TrimDer(message);
    if (!der.empty()) return der;
  }
  // Text forms: a binary read of a Base64 file adds a zero byte, so zeros at the end go too.
  std::string_view text = message;
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  Bytes decoded;
  if (DecodeBase64(StripArmour(text), decoded)) {
    Bytes der = TrimDer(decoded);
    if (!der.empty()) return der;
  }
  throw Error::Component(bad_form_hresult, "The message is not in a form that can be read.");
}

MessageDecoder::MessageDecoder(std::int32_t bad_form_hresult, std::uint64_t expected_size)
    : bad_form_hresult_(bad_form_hresult), expected_size_(expected_size) {}

void MessageDecoder::Write(std::string_view piece) {
  if (form_ == Form::kUnknown) {
    // The form shows in the first byte that is not a blank; blanks before it are kept in case
    // the message turns out to be gathered.
    std::size_t first = 0;
    while (first < piece.size() && IsBlank(static_cast<unsigned char>(piece[first]))) ++first;
    if (first == piece.size()) {
      gathered_.append(piece);
      return;
    }
    const char c = piece[first];
    if (gathered_.empty() && first == 0 && static_cast<unsigned char>(c) == 0x30) {
      form_ = Form::kGathered;  // DER
    } else if (c == '-') {
      form_ = Form::kGathered;  // PEM armour
    } else {
      form_ = Form::kBase64;
      gathered_.clear();
      // Room for the whole message at once: growing by doubling would briefly hold it twice.
      if (expected_size_ > 0)
        out_.reserve(static_cast<std::size_t>(expected_size_ / 4 * 3 + (std::size_t{1} << 16)));
      piece.remove_prefix(first);
    }
    if (form_ == Form::kGathered && expected_size_ > 0)
      gathered_.reserve(static_cast<std::size_t>(expected_size_));
  }
  if (form_ == Form::kGathered)
    gathered_.append(piece);
  else
    WriteBase64(piece);
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

}  // namespace

// DecodeBase64's rules, one piece at a time, with zero bytes allowed at the very end (a binary
// read of a Base64 file adds one). Output goes into room made beforehand.
void MessageDecoder::WriteBase64(std::string_view text) {
  if (bad_) return;
  const std::size_t kept = out_.size();
  out_.resize(kept + text.size() / 4 * 3 + 3);
  char* out = out_.data() + kept;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
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
    if (!TakeByte(*p++, out)) {
      bad_ = true;
      break;
    }
  }
  out_.resize(static_cast<std::size_t>(out - out_.data()));
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

namespace {

// TrimDer without the copy, for a large message: false (and `der` untouched) when it is not
// one DER element followed by nothing but zero bytes.
bool TrimDerInPlace(Bytes& der) {
  bool indefinite = false;
  std::size_t length = DerLength(der, indefinite);
  if (indefinite) return true;
  if (length == 0 || der.find_first_not_of('\0', length) != Bytes::npos) return false;
  der.resize(length);
  return true;
}

}  // namespace

Bytes MessageDecoder::Finish() {
  if (form_ != Form::kBase64) {
    if (!gathered_.empty() && static_cast<unsigned char>(gathered_[0]) == 0x30 &&
        TrimDerInPlace(gathered_))
      return std::move(gathered_);
    return DecodeMessage(gathered_, bad_form_hresult_);
  }
  if (bad_ || padding_ > 2 || (padding_ > 0 && symbols_ % 4 != 0) || bits_ >= 6 || out_.empty() ||
      !TrimDerInPlace(out_))
    throw Error::Component(bad_form_hresult_, "The message is not in a form that can be read.");
  return std::move(out_);
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
