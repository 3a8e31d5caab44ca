#include "library/crypto/der_items.h"

#include "library/platform/error.h"

namespace vellum::crypto {

void LayoutFault() {
  throw Error::Component(hr::kFail, "The message could not be laid out.");
}

DerItem ReadDerItem(std::string_view der, std::size_t at) {
  if (at > der.size() || der.size() - at < 2) LayoutFault();
  DerItem item;
  item.at = at;
  item.tag = static_cast<unsigned char>(der[at]);
  item.header = 2;
  const auto first = static_cast<unsigned char>(der[at + 1]);
  if (first < 0x80) {
    item.length = first;
  } else {
    const std::size_t count = first & 0x7F;
    if (count == 0 || count > sizeof(std::size_t) || der.size() - at - 2 < count) LayoutFault();
    for (std::size_t i = 0; i < count; ++i)
      item.length = (item.length << 8) | static_cast<unsigned char>(der[at + 2 + i]);
    item.header += count;
  }
  if (item.length > der.size() - item.body()) LayoutFault();
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
