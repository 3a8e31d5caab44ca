#include "library/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace vellum::com {
namespace {
constexpr std::size_t kPrefix = sizeof(std::uint32_t);
}

// The BSTR and array blocks are malloc'd in a fixed layout on purpose (either side of the
// interface frees them), so they are not owner types.
// NOLINTBEGIN(cppcoreguidelines-owning-memory)
BSTR SysAllocStringByteLen(const char* bytes, std::uint32_t length) {
  // Prefix, the bytes, then two zero bytes so the text is terminated whatever its parity.
  auto* block = static_cast<char*>(std::malloc(kPrefix + length + 2));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &length, kPrefix);
  if (bytes != nullptr && length > 0) {
    std::memcpy(block + kPrefix, bytes, length);
  } else {
    std::memset(block + kPrefix, 0, length);
  }
  block[kPrefix + length] = 0;
  block[kPrefix + length + 1] = 0;
  return reinterpret_cast<BSTR>(block + kPrefix);
}

BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t units) {
  return SysAllocStringByteLen(reinterpret_cast<const char*>(text), units * 2);
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  std::uint32_t n = 0;
  while (text[n] != 0) ++n;
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<char*>(text) - kPrefix);
}

// NOLINTEND(cppcoreguidelines-owning-memory)

std::uint32_t SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  std::uint32_t length = 0;
  std::memcpy(&length, reinterpret_cast<const char*>(text) - kPrefix, kPrefix);
  return length;
}

std::uint32_t SysStringLen(BSTR text) {
  return SysStringByteLen(text) / 2;
}

BSTR BstrFromBytes(std::string_view bytes) {
  BSTR text = SysAllocStringByteLen(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  if (text == nullptr) throw std::bad_alloc();
  return text;
}

BSTR BstrFromUtf8(std::string_view utf8) {
  return BstrFromBytes(Utf8ToUtf16le(utf8));
}

std::string BstrToUtf8(BSTR text) {
  return Utf16leToUtf8(BstrBytes(text));
}

void StoreBstr(BSTR* slot, std::string_view bytes) {
  if (slot == nullptr) return;
  BSTR fresh = BstrFromBytes(bytes);
  SysFreeString(*slot);
  *slot = fresh;
}

}  // namespace vellum::com
