#include "library/crypto/der_items.h"

#include "library/platform/error.h"

namespace vellum::crypto {

void LayoutFault() {
  throw Error::Component(hr::kFail, "The message could not be laid out.");
}

DerHeaderRead ReadDerHeader(std::string_view bytes, DerElementHeader& header) {
  header = {};
  if (bytes.empty()) return DerHeaderRead::kNeedMore;
  header.tag = static_cast<unsigned char>(bytes[0]);
  if ((header.tag & 0x1F) == 0x1F) return DerHeaderRead::kBad;
  if (bytes.size() < 2) return DerHeaderRead::kNeedMore;
  const auto first = static_cast<unsigned char>(bytes[1]);
  header.size = 2;
  if (first < 0x80) {
    header.length = first;
    return DerHeaderRead::kComplete;
  }
  if (first == 0x80) {
    header.indefinite = true;
    return DerHeaderRead::kComplete;
  }
  const std::size_t count = first & 0x7F;
  if (count > 8) return DerHeaderRead::kBad;
  if (bytes.size() < 2 + count) return DerHeaderRead::kNeedMore;
  for (std::size_t i = 0; i < count; ++i)
    header.length = (header.length << 8) | static_cast<unsigned char>(bytes[2 + i]);
  if ((header.length >> 63) != 0) return DerHeaderRead::kBad;
  header.size += count;
  return DerHeaderRead::kComplete;
}

DerItem ReadDerItem(std::string_view der, std::size_t at) {
  DerElementHeader header;
  if (at > der.size() || ReadDerHeader(der.substr(at), header) != DerHeaderRead::kComplete ||
      header.indefinite)
    LayoutFault();
  DerItem item;
  item.at = at;
  item.tag = header.tag;
  item.header = header.size;
  if (header.length > der.size() - item.body()) LayoutFault();
  item.length = static_cast<std::size_t>(header.length);
  return item;
}

Bytes DerHeader(unsigned char tag, std::uint64_t length) {
  Bytes header(1, static_cast<char>(tag));
  if (length < 0x80) {
    header.push_back(static_cast<char>(length));
    return header;
  }
  Bytes digits;
  for (std::uint64_t v = length; v != 0; v >>= 8)
    digits.insert(digits.begin(), static_cast<char>(v & 0xFF));
  header.push_back(static_cast<char>(0x80 | digits.size()));
  return header + digits;
}

}  // namespace vellum::crypto
