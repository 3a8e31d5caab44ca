// The DER framing of a CMS message read in pieces: the headers around the one field that grows
// with the file (a signed message's content, an encrypted message's ciphertext) are walked as
// they pass, that field is handed on without being held, and everything else is kept, so that
// OpenSSL can be given the message without the field.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "library/crypto/codec.h"
#include "library/crypto/der_items.h"
#include "library/platform/text.h"

namespace vellum::crypto {

// The framing kept around the large field may not exceed this: certificates, revocation lists
// and signer infos of a real message are some kilobytes, so a message past it is refused rather
// than held.
inline constexpr std::size_t kFramingLimit = std::size_t{16} << 20;

// A message in another layout than the one we write (lengths left open, a content in several
// parts, no content at all) cannot be walked this way; it is gathered whole for OpenSSL's own
// parser, up to this size, and refused past it.
inline constexpr std::size_t kWholeMessageLimit = std::size_t{64} << 20;

enum class FramedLayout {
  kSignedData,     // ContentInfo of SignedData; the field is eContent's OCTET STRING
  kEnvelopedData,  // ContentInfo of EnvelopedData; the field is encryptedContent ([0], primitive)
};

// Walks a message's DER as it arrives. The field's bytes go to `content` as they pass; `begin`
// (when given) is called once as the field starts, with its length, when everything before it
// is known. Write and Finish raise vellum::Error with `bad_form_hresult` for framing that is no
// DER of the layout: an element longer than what contains it, a length left open where the
// framing needs it, a truncated message, bytes other than zeros after it (binary reads add
// one), framing past kFramingLimit, or a message of another layout past kWholeMessageLimit.
// Errors raised by `content` and `begin` pass on unchanged.
class DerFramingReader {
 public:
  using Begin = std::function<void(std::uint64_t length)>;
  DerFramingReader(FramedLayout layout, std::int32_t bad_form_hresult, ByteSink content,
                   Begin begin = {});

  void Write(std::string_view der);
  void Finish();

  // After Finish: true when the message was of our layout and the field streamed; false when it
  // was gathered whole (WholeMessage) for another reader.
  bool streamed() const { return streamed_; }
  // The message without the field (the detached form), every enclosing length made to match.
  // Before Finish it has the framing so far, which at `begin` is everything that precedes the
  // field.
  Bytes DetachedMessage() const;
  std::uint64_t content_length() const { return content_length_; }
  // A message of another layout, as it came (trailing bytes included); empties the reader.
  Bytes TakeWholeMessage() { return std::move(whole_); }

 private:
  enum class State { kHeader, kKeep, kFieldHeader, kField, kTail, kTrailing, kWhole };
  struct Level {
    unsigned char tag = 0;
    std::uint64_t end = 0;  // absolute offset where the element ends
    Bytes before;           // children before the one descended into, as they came
    Bytes after;            // children after it
  };

  void Step(std::string_view& der);
  void TakeHeader(std::string_view& der);
  void OnChild(const DerElementHeader& header);
  void TakeFieldHeader(std::string_view& der);
  void StartField(std::uint64_t length);
  void TakeKept(std::string_view& der);
  void TakeField(std::string_view& der);
  void TakeTail(std::string_view& der);
  void TakeTrailing(std::string_view der);
  bool HeaderFrom(std::string_view& der, DerElementHeader& header);
  void Gather(std::string_view der);
  void SwitchToWhole();
  void Keep(std::string_view bytes, Bytes& into);
  [[noreturn]] void Refuse(const char* why) const;

  const FramedLayout layout_;
  const std::int32_t bad_form_hresult_;
  ByteSink content_;
  Begin begin_;
  State state_ = State::kHeader;
  std::vector<Level> levels_;
  std::uint64_t pos_ = 0;        // bytes taken so far
  Bytes pending_;                // a header cut between pieces
  Bytes pending_header_;         // the last header read, as it came
  std::uint64_t keep_left_ = 0;  // kKeep: bytes of the kept element still to come
  std::uint64_t field_end_ = 0;  // kField: where the field ends
  std::uint64_t content_length_ = 0;
  std::size_t tail_level_ = 0;  // kTail: the containers not yet ended, outermost first
  std::size_t kept_ = 0;        // framing bytes kept
  Bytes whole_;  // every byte until the field starts, then (kWhole) the whole message
  bool streamed_ = false;
  bool field_seen_ = false;
};

}  // namespace vellum::crypto
