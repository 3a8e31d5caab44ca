// Text forms of binary messages: the Base64 layout we write and the forms we accept.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "library/platform/text.h"

namespace vellum::crypto {

// Standard Base64 with CR LF after every 64 characters, the last line included (the layout
// the original platform wrote, which older signature files carry). Empty input gives "".
Bytes EncodeBase64Lines(std::string_view data);

// The length of the text EncodeBase64Lines gives for `length` bytes, known before any of them
// is encoded: four characters for every three bytes or fewer, and CR LF after every 64
// characters and after a shorter last line.
std::uint64_t Base64LinesLength(std::uint64_t length);

// Receives bytes in pieces, in order (a message on its way into a file).
using ByteSink = std::function<void(std::string_view bytes)>;

// EncodeBase64Lines for data that arrives in pieces: the text handed to `sink` is exactly what
// EncodeBase64Lines gives for all the pieces together, however they are cut. Finish writes the
// last line; without it the text is incomplete.
class Base64LineWriter {
 public:
  explicit Base64LineWriter(ByteSink sink) : sink_(std::move(sink)) {}
  void Write(std::string_view data);
  void Finish();

 private:
  void EncodeLines(std::string_view whole_lines);
  void Flush();

  ByteSink sink_;
  Bytes partial_;  // fewer than one line's worth of input
  Bytes text_;     // encoded text not yet handed on
};

// The DER bytes of a message handed over in any of the forms we read: DER (trailing zero bytes
// allowed, as binary file reads add one), Base64 with any line breaks or blanks, or PEM
// armour around Base64. Anything else raises vellum::Error with `bad_form_hresult`.
Bytes DecodeMessage(std::string_view message, std::int32_t bad_form_hresult);

// DecodeMessage for a message read in pieces. Base64 text, the usual form of a large message,
// is decoded as it arrives, so the text is never held; DER and PEM-armoured text are gathered
// and handed to DecodeMessage. Write never raises, so a caller can finish reading (and report
// a read failure as such) before Finish raises `bad_form_hresult` for a message it cannot read.
// `expected_size` (the file's size, or 0) lets the DER buffer be sized once.
class MessageDecoder {
 public:
  MessageDecoder(std::int32_t bad_form_hresult, std::uint64_t expected_size);
  void Write(std::string_view piece);
  Bytes Finish();

 private:
  enum class Form { kUnknown, kGathered, kBase64 };
  void WriteBase64(std::string_view text);
  // One byte outside a run of whole groups: a symbol, a blank, padding or a trailing zero byte.
  // False when it breaks the rules.
  bool TakeByte(unsigned char c, char*& out);

  std::int32_t bad_form_hresult_;
  std::uint64_t expected_size_;
  Form form_ = Form::kUnknown;
  Bytes gathered_;  // DER or armoured text, or the first blanks
  Bytes out_;
  bool bad_ = false;
  std::uint32_t accumulator_ = 0;
  int bits_ = 0;
  int padding_ = 0;
  std::size_t symbols_ = 0;
  bool zeros_ = false;  // a zero byte came: only more zeros may follow
};

// Uppercase hexadecimal of `data`.
std::string HexUpper(std::string_view data);

}  // namespace vellum::crypto
