#include "library/crypto/der_stream.h"

#include <algorithm>
#include <cstdint>

#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

// The headers of a length field of eight bytes are the longest we read.
constexpr std::size_t kLongestHeader = 10;

// The containers walked down to the field, outermost first: ContentInfo, its [0] EXPLICIT
// content, SignedData or EnvelopedData, then encapContentInfo or encryptedContentInfo.
constexpr unsigned char kPath[] = {0x30, 0xA0, 0x30, 0x30};
constexpr std::size_t kFieldDepth = sizeof(kPath);

// The content type that must precede ContentInfo's content (RFC 5652 section 3).
constexpr std::string_view kSignedDataType{"\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 11};
constexpr std::string_view kEnvelopedDataType{"\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x03", 11};

// eContent is [0] EXPLICIT around an OCTET STRING (section 5.2); encryptedContent is [0]
// IMPLICIT OCTET STRING, primitive in DER (section 6.1).
constexpr unsigned char kEContent = 0xA0;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kEncryptedContent = 0x80;

}  // namespace

DerFramingReader::DerFramingReader(FramedLayout layout, std::int32_t bad_form_hresult,
                                   ByteSink content, Begin begin)
    : layout_(layout),
      bad_form_hresult_(bad_form_hresult),
      content_(std::move(content)),
      begin_(std::move(begin)) {}

void DerFramingReader::Refuse(const char* why) const {
  throw Error::Component(bad_form_hresult_, std::string("The message cannot be read: ") + why);
}

void DerFramingReader::Write(std::string_view der) {
  if (state_ == State::kWhole) return Gather(der);
  while (!der.empty()) {
    const std::string_view at = der;
    Step(der);
    // Until the field starts every byte is kept as it came, in case the message turns out to
    // be of another layout; before the field that is framing, bounded by Keep.
    if (!field_seen_) Gather(at.substr(0, at.size() - der.size()));
    if (state_ == State::kWhole) return Gather(der);
  }
}

void DerFramingReader::Step(std::string_view& der) {
  switch (state_) {
    case State::kHeader:
      return TakeHeader(der);
    case State::kKeep:
      return TakeKept(der);
    case State::kFieldHeader:
      return TakeFieldHeader(der);
    case State::kField:
      return TakeField(der);
    case State::kTail:
      return TakeTail(der);
    case State::kTrailing:
      TakeTrailing(der);
      der = {};
      return;
    case State::kWhole:
      return;
  }
}

bool DerFramingReader::HeaderFrom(std::string_view& der, DerElementHeader& header) {
  const std::size_t had = pending_.size();
  Bytes probe = pending_;
  probe.append(der.substr(0, kLongestHeader - had));
  const DerHeaderRead read = ReadDerHeader(probe, header);
  if (read == DerHeaderRead::kBad) Refuse("an element's header is not DER.");
  if (read == DerHeaderRead::kNeedMore) {
    der.remove_prefix(probe.size() - had);
    pending_ = std::move(probe);
    return false;
  }
  der.remove_prefix(header.size - had);
  pending_.clear();
  pos_ += header.size;
  probe.resize(header.size);
  pending_header_ = std::move(probe);
  return true;
}

void DerFramingReader::TakeHeader(std::string_view& der) {
  // A container that ends before the way down was found: not our layout.
  if (!levels_.empty() && pos_ == levels_.back().end) return SwitchToWhole();
  const std::uint64_t room = levels_.empty() ? UINT64_MAX : levels_.back().end - pos_;
  DerElementHeader header;
  if (!HeaderFrom(der, header)) return;
  if (header.size > room) Refuse("an element is longer than what contains it.");
  if (levels_.empty()) {
    if (header.tag != 0x30) Refuse("it is not a SEQUENCE.");
    if (header.indefinite) return SwitchToWhole();  // BER: OpenSSL's parser finds the end
    levels_.push_back({header.tag, pos_ + header.length, {}, {}});
    return;
  }
  if (header.indefinite) {
    if (!header.constructed()) Refuse("a primitive element has no length.");
    return SwitchToWhole();
  }
  if (header.length > room - header.size) Refuse("an element is longer than what contains it.");
  OnChild(header);
}

// Descends into the next container on the way to the field, takes the field, or keeps a child.
void DerFramingReader::OnChild(const DerElementHeader& header) {
  const std::size_t depth = levels_.size();
  const std::uint64_t end = pos_ + header.length;
  if (depth < kFieldDepth && header.tag == kPath[depth]) {
    const std::string_view type =
        layout_ == FramedLayout::kSignedData ? kSignedDataType : kEnvelopedDataType;
    // ContentInfo holds its type and then the content; the content's [0] holds it alone.
    if ((depth == 1 && levels_[0].before != type) || (depth == 2 && !levels_[1].before.empty()))
      return SwitchToWhole();
    levels_.push_back({header.tag, end, {}, {}});
    return;
  }
  const unsigned char field = layout_ == FramedLayout::kSignedData ? kEContent : kEncryptedContent;
  if (depth == kFieldDepth && header.tag == field) {
    // The field closes its container; anything after it is another layout.
    if (end != levels_.back().end) return SwitchToWhole();
    field_end_ = end;
    state_ = layout_ == FramedLayout::kSignedData ? State::kFieldHeader : State::kField;
    if (state_ == State::kField) StartField(header.length);
    return;
  }
  Keep(pending_header_, levels_.back().before);
  keep_left_ = header.length;
  state_ = State::kKeep;
}

void DerFramingReader::TakeFieldHeader(std::string_view& der) {
  DerElementHeader header;
  if (!HeaderFrom(der, header)) return;
  // One OCTET STRING filling eContent; a content in parts (constructed) is another layout.
  if (header.tag != kOctetString || header.indefinite || pos_ + header.length != field_end_)
    return SwitchToWhole();
  state_ = State::kField;
  StartField(header.length);
}

void DerFramingReader::StartField(std::uint64_t length) {
  field_seen_ = true;
  content_length_ = length;
  Bytes().swap(whole_);
  tail_level_ = levels_.size();
  if (begin_) begin_(length);
  if (length == 0) state_ = State::kTail;
}

void DerFramingReader::TakeKept(std::string_view& der) {
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(keep_left_, der.size()));
  Keep(der.substr(0, n), levels_.back().before);
  der.remove_prefix(n);
  pos_ += n;
  keep_left_ -= n;
  if (keep_left_ == 0) state_ = State::kHeader;
}

void DerFramingReader::TakeField(std::string_view& der) {
  const std::size_t n =
      static_cast<std::size_t>(std::min<std::uint64_t>(field_end_ - pos_, der.size()));
  if (n > 0) content_(der.substr(0, n));
  der.remove_prefix(n);
  pos_ += n;
  if (pos_ == field_end_) state_ = State::kTail;
}

// After the field: what is left of each container, innermost first, kept as it comes (the
// signer infos and certificates; OpenSSL parses them from the detached message).
void DerFramingReader::TakeTail(std::string_view& der) {
  while (tail_level_ > 0 && pos_ == levels_[tail_level_ - 1].end) --tail_level_;
  if (tail_level_ == 0) {
    state_ = State::kTrailing;
    return;
  }
  Level& level = levels_[tail_level_ - 1];
  const std::size_t n =
      static_cast<std::size_t>(std::min<std::uint64_t>(level.end - pos_, der.size()));
  Keep(der.substr(0, n), level.after);
  der.remove_prefix(n);
  pos_ += n;
}

void DerFramingReader::TakeTrailing(std::string_view der) {
  if (der.find_first_not_of('\0') != std::string_view::npos)
    Refuse("other bytes follow the message.");
}

void DerFramingReader::Keep(std::string_view bytes, Bytes& into) {
  if (bytes.size() > kFramingLimit - kept_)
    Refuse("the parts around its content are larger than 16 MiB.");
  kept_ += bytes.size();
  into.append(bytes);
}

void DerFramingReader::SwitchToWhole() {
  state_ = State::kWhole;
  levels_.clear();
  pending_.clear();
  if (whole_.size() > kWholeMessageLimit) Refuse("it is of another layout and larger than 64 MiB.");
}

void DerFramingReader::Gather(std::string_view der) {
  if (der.size() > kWholeMessageLimit - whole_.size())
    Refuse("it is of another layout and larger than 64 MiB.");
  whole_.append(der);
}

void DerFramingReader::Finish() {
  // Ended before the field: a message without one, or cut short; the whole-message reader
  // tells which, in its own words.
  if (state_ == State::kHeader || state_ == State::kKeep || state_ == State::kFieldHeader)
    SwitchToWhole();
  if (state_ == State::kTail) {
    std::string_view none;
    TakeTail(none);
  }
  if (state_ == State::kWhole) {
    streamed_ = false;
    return;
  }
  if (state_ != State::kTrailing) Refuse("it is cut short.");
  streamed_ = true;
}

Bytes DerFramingReader::DetachedMessage() const {
  Bytes inner;
  for (std::size_t i = levels_.size(); i-- > 0;) {
    const Level& level = levels_[i];
    Bytes body = level.before + inner + level.after;
    inner = DerHeader(level.tag, body.size()) + body;
  }
  return inner;
}

}  // namespace vellum::crypto
