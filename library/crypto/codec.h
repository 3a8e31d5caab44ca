// Text forms of binary messages: the Base64 layout we write and the forms we accept.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "library/platform/text.h"

namespace vellum::crypto {

// Receives bytes in pieces, in order (a message on its way into a file).
using ByteSink = std::function<void(std::string_view bytes)>;

// Standard Base64 with CR LF after every 64 characters, the last line included (the layout
// the original platform wrote, which older signature files carry), for data that arrives in
// pieces: the text handed to `sink` is the same however the data is cut. Finish writes the last
// line; without it the text is incomplete. With `units` every character goes out as a UTF-16LE
// unit (the text type's form of the same text) instead of a byte.
class Base64LineWriter {
 public:
  explicit Base64LineWriter(ByteSink sink, bool units = false)
      : sink_(std::move(sink)), units_(units) {}
  void Write(std::string_view data);
  void Finish();

 private:
  void EncodeLines(std::string_view lines);
  void Flush();

  ByteSink sink_;
  bool units_;
  Bytes partial_;  // fewer than one line's worth of input
  Bytes text_;     // encoded text not yet handed on
};

// Base64LineWriter's text for `data` held whole. Empty input gives "".
Bytes EncodeBase64Lines(std::string_view data);

// The length of the text EncodeBase64Lines gives for `length` bytes, known before any of them
// is encoded: four characters for every three bytes or fewer, and CR LF after every 64
// characters and after a shorter last line.
std::uint64_t Base64LinesLength(std::uint64_t length);

// The DER bytes of a message handed over in any of the forms we read: DER (trailing zero bytes
// allowed, as binary file reads add one), Base64 with any line breaks or blanks, or PEM
// armour around Base64. Anything else raises vellum::Error with `bad_form_hresult`. The whole
// message through MessageDecoder, trimmed to its outer DER element.
Bytes DecodeMessage(std::string_view message, std::int32_t bad_form_hresult);

// Decodes a message read in pieces, handing its DER bytes to `der` as they come, so that no
// form is ever held whole. The form is told by the first bytes: 0x30 starts DER, which passes
// through unchanged (its end, and the zero bytes allowed after it, are for the DER reader to
// judge); after any blanks, '-' starts PEM armour (the "-----BEGIN ...-----" line must come
// within 64 KiB; the Base64 body ends at "-----END ", after which nothing counts); anything
// else is Base64 with blanks anywhere, '=' only as padding at the end, and zero bytes only at
// the very end. Write and Finish raise vellum::Error with `bad_form_hresult` as soon as the
// text breaks these rules; errors raised by `der` pass on.
class MessageDecoder {
 public:
  MessageDecoder(std::int32_t bad_form_hresult, ByteSink der);
  void Write(std::string_view piece);
  void Finish();

 private:
  enum class Form { kUnknown, kDer, kArmourHeader, kBase64, kArmourEnd, kDone };
  static constexpr std::size_t kArmourLimit = std::size_t{1} << 16;
  void WriteArmourHeader(std::string_view piece);
  void WriteArmourEnd(std::string_view piece);
  void WriteBase64(std::string_view text);
  // One byte outside a run of whole groups: a symbol, a blank, padding or a trailing zero byte.
  // False when it breaks the rules.
  bool TakeByte(unsigned char c, char*& out);
  // Hands on the bytes decoded into out_ up to `out_end`.
  void Hand(const char* out_end);
  [[noreturn]] void Refuse() const;

  std::int32_t bad_form_hresult_;
  ByteSink sink_;
  Form form_ = Form::kUnknown;
  bool blanks_ = false;    // blanks came before the form showed
  bool armoured_ = false;  // the Base64 is a PEM body
  bool produced_ = false;  // some byte was handed on
  Bytes held_;             // armour lines while they are read
  Bytes out_;              // one batch of decoded bytes
  std::uint32_t accumulator_ = 0;
  int bits_ = 0;
  int padding_ = 0;
  std::size_t symbols_ = 0;
  bool zeros_ = false;  // a zero byte came: only more zeros may follow
};

// Uppercase hexadecimal of `data`.
std::string HexUpper(std::string_view data);

}  // namespace vellum::crypto
