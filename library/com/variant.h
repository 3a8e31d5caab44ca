// VARIANT handling: lifetime (init, clear, copy), zero-based arrays of variants, and the
// automation coercions the methods rely on.
//
// Coercions follow the automation rules a caller of these methods expects:
// - to text: empty -> "", numbers in decimal, Booleans "True"/"False", dates in the general
//   form DD/MM/YYYY HH:MM:SS (date alone at midnight); an error value (a missing argument) or
//   an array raises run-time error 13 "Type mismatch"; Null raises 94.
// - to Boolean and to a 32-bit integer: empty is False/0; text must read as a number (or as
//   True/False); out of range raises 6 "Overflow"; fractions round half to even.
// - equality with a text is binary (case counts); a number compared with a text compares
//   numerically and raises 13 when the text is no number.
// - equality with True/False is numeric against -1/0, so an I2 holding 1 is neither.
// By-reference variants are followed to the value they point at.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "library/com/bstr.h"
#include "vellum/types.h"

namespace vellum::com {

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
// Deep copy; `dst` is cleared first. By-reference sources are copied as references.
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// Deep copy of the value a by-reference source points at.
HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src);

// Arrays: one dimension of VARIANT elements.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lower_bound, ULONG count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound);
HRESULT SafeArrayGetElement(SAFEARRAY* array, const std::int32_t* index, void* out);
HRESULT SafeArrayCopy(SAFEARRAY* src, SAFEARRAY** dst);

// The value a variant stands for, with by-reference levels followed (a shallow view: it owns
// nothing and lives no longer than `v`).
VARIANT Peek(const VARIANT& v);
bool IsMissing(const VARIANT& v);  // VT_ERROR holding DISP_E_PARAMNOTFOUND

// Coercions; failures raise vellum::Error with the run-time number.
Bytes ToTextBytes(const VARIANT& v);  // UTF-16LE bytes of the text
std::string ToUtf8(const VARIANT& v);
bool ToBool(const VARIANT& v);
std::int32_t ToLong(const VARIANT& v);
bool EqualsText(const VARIANT& v, std::string_view utf8);
bool EqualsBool(const VARIANT& v, bool value);

// The general date form of a DATE value.
std::string FormatGeneralDate(DATE date);

// Owns one VARIANT.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  Variant& operator=(Variant&& other) noexcept;
  ~Variant() { VariantClear(&v_); }

  static Variant Text(std::string_view utf8);
  static Variant TextBytes(std::string_view utf16le);
  static Variant Bool(bool value);
  static Variant Short(std::int16_t value);
  static Variant Long(std::int32_t value);
  static Variant Missing();
  static Variant Array(const std::vector<std::string>& utf8_items);
  // A by-reference variant pointing at `target` (which must outlive it).
  static Variant RefTo(VARIANT* target);

  VARIANT* get() { return &v_; }
  const VARIANT& value() const { return v_; }
  VARTYPE type() const { return v_.vt; }
  std::string Utf8() const { return ToUtf8(v_); }
  VARIANT Detach() {
    VARIANT out = v_;
    VariantInit(&v_);
    return out;
  }

 private:
  VARIANT v_;
};

// A text variant's bytes wiped in place before it is cleared; platform::Secret<Variant> holds
// one.
void Wipe(Variant& v) noexcept;

// Writes a text into an [in, out] variant (the caller's variable), replacing what it held.
void StoreText(VARIANT* slot, std::string_view utf8);
void StoreTextBytes(VARIANT* slot, std::string_view utf16le);
void StoreBool(VARIANT* slot, bool value);
// Replaces the slot's content with a zero-based array of texts.
void StoreTextArray(VARIANT* slot, const std::vector<std::string>& utf8_items);
// Reads a zero-based array of texts (for callers and tests); raises 13 for anything else.
std::vector<std::string> ReadTextArray(const VARIANT& v);

}  // namespace vellum::com
