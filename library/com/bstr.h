// BSTR: a UTF-16 text preceded by its length in bytes. The length is kept exactly, odd
// included, because binary content travels in this type as raw bytes. The allocation is
// malloc-based with a fixed layout, so a BSTR made by the server can be freed by a client that
// links its own copy of this layer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "library/platform/secret.h"
#include "library/platform/text.h"
#include "vellum/types.h"

namespace vellum::com {

BSTR SysAllocStringByteLen(const char* bytes, std::uint32_t length);  // bytes may be null
BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t units);
BSTR SysAllocString(const OLECHAR* text);  // zero-terminated
void SysFreeString(BSTR text);
std::uint32_t SysStringByteLen(BSTR text);  // 0 for a null BSTR (which means empty text)
std::uint32_t SysStringLen(BSTR text);      // whole code units

// The raw bytes of a BSTR (UTF-16LE for text; anything for binary content).
inline std::string_view BstrBytes(BSTR text) {
  return {reinterpret_cast<const char*>(text), SysStringByteLen(text)};
}
BSTR BstrFromBytes(std::string_view bytes);
BSTR BstrFromUtf8(std::string_view utf8);
std::string BstrToUtf8(BSTR text);

// Owns one BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8) : text_(BstrFromUtf8(utf8)) {}
  static Bstr FromBytes(std::string_view bytes) { return Bstr(BstrFromBytes(bytes), true); }
  static Bstr Attach(BSTR text) { return Bstr(text, true); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : text_(other.Detach()) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  ~Bstr() { SysFreeString(text_); }

  BSTR get() const { return text_; }
  BSTR* out() {  // for [out] parameters: frees what was held first
    Reset(nullptr);
    return &text_;
  }
  BSTR* Address() { return &text_; }  // the slot itself, for an [in, out] parameter
  BSTR Detach() {
    BSTR t = text_;
    text_ = nullptr;
    return t;
  }
  void Reset(BSTR text) {
    SysFreeString(text_);
    text_ = text;
  }
  std::string Utf8() const { return BstrToUtf8(text_); }
  std::string_view Bytes() const { return BstrBytes(text_); }

 private:
  Bstr(BSTR text, bool) : text_(text) {}
  BSTR text_ = nullptr;
};

// A text's bytes wiped in place (a password handed to a method) before its owner frees it;
// platform::Secret<Bstr> holds one.
inline void Wipe(Bstr& text) noexcept {
  platform::Wipe(text.get(), SysStringByteLen(text.get()));
}

// Replaces *slot with a copy of `bytes` (an [in, out] BSTR parameter written back).
void StoreBstr(BSTR* slot, std::string_view bytes);
inline void StoreBstrUtf8(BSTR* slot, std::string_view utf8) {
  StoreBstr(slot, Utf8ToUtf16le(utf8));
}

}  // namespace vellum::com
