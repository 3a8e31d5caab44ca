// The framing of DER elements (X.690): the one reader of their headers, where an element's
// header and contents lie in a buffer, and the header to write for a length. The signing and
// encrypting writers use these to put a content they stream into a message OpenSSL laid out without
// it.
#pragma once

#include <cstdint>
#include <string_view>

#include "library/platform/text.h"

namespace vellum::crypto {

// One DER element's place in a buffer: tag, header length and contents length.
struct DerItem {
  std::size_t at = 0;
  unsigned char tag = 0;
  std::size_t header = 0;
  std::size_t length = 0;
  std::size_t body() const { return at + header; }
  std::size_t end() const { return at + header + length; }
  std::size_t size() const { return header + length; }
};

// One DER header (X.690 section 8.1): a one-byte tag and a definite or indefinite length.
struct DerElementHeader {
  unsigned char tag = 0;
  std::size_t size = 0;      // the header's own bytes
  std::uint64_t length = 0;  // the contents' bytes; 0 when indefinite
  bool indefinite = false;
  bool constructed() const { return (tag & 0x20) != 0; }
};

enum class DerHeaderRead { kComplete, kNeedMore, kBad };

// Reads the header at the start of `bytes`. kNeedMore when `bytes` ends inside it; kBad for a
// tag of several bytes (none appears in the framing we read), a length field of more than eight
// bytes, the reserved length byte 0xFF, or a length of 2^63 or more. This is the one reader of
// DER lengths; callers check the length against what contains the element.
DerHeaderRead ReadDerHeader(std::string_view bytes, DerElementHeader& header);

// The element starting at `at` in `der`, read by ReadDerHeader, with a definite length that
// fits in `der`. Anything else raises hr::kFail ("The message could not be laid out."): the callers
// read messages OpenSSL has just written, so a surprise there is a fault of ours, not of the input.
DerItem ReadDerItem(std::string_view der, std::size_t at);

// A DER header: the tag and the shortest length form (X.690 section 10.1).
Bytes DerHeader(unsigned char tag, std::uint64_t length);

// Raises the layout fault ReadDerItem raises.
[[noreturn]] void LayoutFault();

}  // namespace vellum::crypto
