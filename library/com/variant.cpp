#include "library/com/variant.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "library/platform/dates.h"
#include "library/platform/error.h"

namespace vellum::com {
namespace {

constexpr std::int32_t kInvalidUseOfNull = 94;

Error TypeMismatch() {
  return Error::Runtime(rt::kTypeMismatch);
}

// Reads a whole text as a number: blanks around, an optional sign, digits with an optional
// fraction and exponent, or &H hexadecimal. Anything else is no number.
std::optional<double> ParseNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  if (text.size() > 2 && text[0] == '&' && (text[1] == 'H' || text[1] == 'h')) {
    std::string digits(text.substr(2));
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), &end, 16);
    if (errno != 0 || end == digits.c_str() || *end != '\0') return std::nullopt;
    return static_cast<double>(value);
  }
  std::size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  bool digits = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, digits = true;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, digits = true;
  }
  if (!digits) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool exp_digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, exp_digits = true;
    if (!exp_digits) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  return std::strtod(std::string(text).c_str(), nullptr);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// A text read as a number, with the Boolean words accepted as -1 and 0.
double TextAsNumber(std::string_view utf8) {
  if (auto n = ParseNumber(utf8)) return *n;
  std::string_view t = utf8;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if (EqualsIgnoreCase(t, "true")) return -1;
  if (EqualsIgnoreCase(t, "false")) return 0;
  throw TypeMismatch();
}

// The numeric value of a non-text scalar; raises for errors, arrays and objects.
double NumericValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
      return 0;
    case VT_I2:
      return v.iVal;
    case VT_I4:
      return v.lVal;
    case VT_R8:
      return v.dblVal;
    case VT_DATE:
      return v.date;
    case VT_BOOL:
      return v.boolVal != 0 ? -1 : 0;
    case VT_BSTR:
      return TextAsNumber(BstrToUtf8(v.bstrVal));
    case VT_NULL:
      throw Error::Runtime(kInvalidUseOfNull, "Invalid use of Null");
    default:
      throw TypeMismatch();
  }
}

std::string FormatNumber(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  return buffer;
}

void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
  // Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr std::int64_t kDaysFrom1899To1970 = 25569;

// Array blocks share the BSTR's fixed malloc layout (see bstr.cpp).
// NOLINTBEGIN(cppcoreguidelines-owning-memory)
void FreeArray(SAFEARRAY* array) {
  if (array == nullptr) return;
  auto* items = static_cast<VARIANT*>(array->pvData);
  for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) VariantClear(&items[i]);
  std::free(array->pvData);
  std::free(array);
}

// NOLINTEND(cppcoreguidelines-owning-memory)

bool ValidIndex(SAFEARRAY* array, const std::int32_t* index, std::size_t& offset) {
  if (array == nullptr || index == nullptr) return false;
  std::int64_t i = std::int64_t{*index} - array->rgsabound[0].lLbound;
  if (i < 0 || i >= array->rgsabound[0].cElements) return false;
  offset = static_cast<std::size_t>(i);
  return true;
}

}  // namespace

void VariantInit(VARIANT* v) {
  std::memset(v, 0, sizeof *v);
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if ((v->vt & VT_BYREF) == 0) {
    if ((v->vt & VT_ARRAY) != 0) {
      FreeArray(v->parray);
    } else if (v->vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal != nullptr) {
      v->punkVal->Release();
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if (dst == src) return S_OK;
  VARIANT copy = *src;
  if ((src->vt & VT_BYREF) == 0) {
    if ((src->vt & VT_ARRAY) != 0) {
      if (HRESULT hr = SafeArrayCopy(src->parray, &copy.parray); Failed(hr)) return hr;
    } else if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
      copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src->bstrVal),
                                           SysStringByteLen(src->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal != nullptr) {
      src->punkVal->AddRef();
    }
  }
  VariantClear(dst);
  *dst = copy;
  return S_OK;
}

VARIANT Peek(const VARIANT& v) {
  VARIANT out;
  VariantInit(&out);
  if ((v.vt & VT_BYREF) == 0) return v;
  VARTYPE base = v.vt & static_cast<VARTYPE>(~VT_BYREF);
  if (v.byref == nullptr) return out;
  if (base == VT_VARIANT) return Peek(*v.pvarVal);
  out.vt = base;
  if ((base & VT_ARRAY) != 0) {
    out.parray = *v.pparray;
    return out;
  }
  switch (base) {
    case VT_I2:
      out.iVal = *v.piVal;
      break;
    case VT_I4:
      out.lVal = *v.plVal;
      break;
    case VT_R8:
      out.dblVal = *v.pdblVal;
      break;
    case VT_DATE:
      out.date = *v.pdate;
      break;
    case VT_BOOL:
      out.boolVal = *v.pboolVal;
      break;
    case VT_ERROR:
      out.scode = *v.pscode;
      break;
    case VT_BSTR:
      out.bstrVal = *v.pbstrVal;
      break;
    default:
      out.vt = VT_ERROR;  // an unsupported reference reads as a type mismatch
      out.scode = DISP_E_BADVARTYPE;
      break;
  }
  return out;
}

HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  VARIANT view = Peek(*src);
  return VariantCopy(dst, &view);
}

bool IsMissing(const VARIANT& v) {
  VARIANT p = Peek(v);
  return p.vt == VT_ERROR && p.scode == DISP_E_PARAMNOTFOUND;
}

// NOLINTBEGIN(cppcoreguidelines-owning-memory)
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lower_bound, ULONG count) {
  if (vt != VT_VARIANT) return nullptr;
  auto* array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (array == nullptr) return nullptr;
  array->cDims = 1;
  array->fFeatures = FADF_VARIANT;
  array->cbElements = sizeof(VARIANT);
  array->rgsabound[0] = {count, lower_bound};
  array->pvData = std::calloc(count == 0 ? 1 : count, sizeof(VARIANT));
  if (array->pvData == nullptr) {
    std::free(array);
    return nullptr;
  }
  return array;
}

// NOLINTEND(cppcoreguidelines-owning-memory)

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  FreeArray(array);
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dim != 1) return MakeHr(0x8002000B);  // DISP_E_BADINDEX
  *bound = array->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dim != 1) return MakeHr(0x8002000B);
  *bound =
      array->rgsabound[0].lLbound + static_cast<std::int32_t>(array->rgsabound[0].cElements) - 1;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const std::int32_t* index, void* out) {
  std::size_t offset = 0;
  if (!ValidIndex(array, index, offset) || out == nullptr) return MakeHr(0x8002000B);
  auto* items = static_cast<VARIANT*>(array->pvData);
  auto* target = static_cast<VARIANT*>(out);
  VariantInit(target);
  return VariantCopy(target, &items[offset]);
}

HRESULT SafeArrayCopy(SAFEARRAY* src, SAFEARRAY** dst) {
  if (dst == nullptr) return E_INVALIDARG;
  *dst = nullptr;
  if (src == nullptr) return S_OK;
  SAFEARRAY* copy =
      SafeArrayCreateVector(VT_VARIANT, src->rgsabound[0].lLbound, src->rgsabound[0].cElements);
  if (copy == nullptr) return E_OUTOFMEMORY;
  auto* from = static_cast<VARIANT*>(src->pvData);
  auto* to = static_cast<VARIANT*>(copy->pvData);
  for (ULONG i = 0; i < src->rgsabound[0].cElements; ++i) {
    if (HRESULT hr = VariantCopy(&to[i], &from[i]); Failed(hr)) {
      FreeArray(copy);
      return hr;
    }
  }
  *dst = copy;
  return S_OK;
}

std::string FormatGeneralDate(DATE date) {
  double days = std::floor(date);
  auto seconds = static_cast<std::int64_t>(std::llround((date - days) * 86400.0));
  auto day_number = static_cast<std::int64_t>(days) - kDaysFrom1899To1970;
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day_number;
  }
  int y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(day_number, y, m, d);
  const auto s = static_cast<int>(seconds);
  return platform::FormatDate(
      {y, static_cast<int>(m), static_cast<int>(d), s / 3600, s / 60 % 60, s % 60},
      platform::DateForm::kGeneral);
}

Bytes ToTextBytes(const VARIANT& v) {
  VARIANT p = Peek(v);
  switch (p.vt) {
    case VT_BSTR:
      return Bytes(BstrBytes(p.bstrVal));
    case VT_EMPTY:
      return {};
    case VT_BOOL:
      return Utf8ToUtf16le(p.boolVal != 0 ? "True" : "False");
    case VT_I2:
    case VT_I4:
    case VT_R8:
      return Utf8ToUtf16le(FormatNumber(NumericValue(p)));
    case VT_DATE:
      return Utf8ToUtf16le(FormatGeneralDate(p.date));
    case VT_NULL:
      throw Error::Runtime(kInvalidUseOfNull, "Invalid use of Null");
    default:
      throw TypeMismatch();
  }
}

std::string ToUtf8(const VARIANT& v) {
  return Utf16leToUtf8(ToTextBytes(v));
}

bool ToBool(const VARIANT& v) {
  return NumericValue(Peek(v)) != 0;
}

std::int32_t ToLong(const VARIANT& v) {
  double value = NumericValue(Peek(v));
  double rounded = std::nearbyint(value);  // default rounding mode: half to even
  if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max()))
    throw Error::Runtime(rt::kOverflow);
  return static_cast<std::int32_t>(rounded);
}

bool EqualsText(const VARIANT& v, std::string_view utf8) {
  VARIANT p = Peek(v);
  switch (p.vt) {
    case VT_BSTR:
      return BstrBytes(p.bstrVal) == Utf8ToUtf16le(utf8);
    case VT_EMPTY:
      return utf8.empty();
    case VT_NULL:
      return false;  // Null compares as Null, which a test reads as not true
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_DATE:
    case VT_BOOL:
      return NumericValue(p) == TextAsNumber(utf8);
    default:
      throw TypeMismatch();
  }
}

bool EqualsBool(const VARIANT& v, bool value) {
  VARIANT p = Peek(v);
  if (p.vt == VT_NULL) return false;
  return NumericValue(p) == (value ? -1.0 : 0.0);
}

Variant::Variant(const Variant& other) {
  VariantInit(&v_);
  if (Failed(VariantCopy(&v_, &other.v_))) throw std::bad_alloc();
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other && Failed(VariantCopy(&v_, &other.v_))) throw std::bad_alloc();
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(&v_);
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  return *this;
}

Variant Variant::Text(std::string_view utf8) {
  return TextBytes(Utf8ToUtf16le(utf8));
}

Variant Variant::TextBytes(std::string_view utf16le) {
  Variant out;
  out.v_.vt = VT_BSTR;
  out.v_.bstrVal = BstrFromBytes(utf16le);
  return out;
}

Variant Variant::Bool(bool value) {
  Variant out;
  out.v_.vt = VT_BOOL;
  out.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return out;
}

Variant Variant::Short(std::int16_t value) {
  Variant out;
  out.v_.vt = VT_I2;
  out.v_.iVal = value;
  return out;
}

Variant Variant::Long(std::int32_t value) {
  Variant out;
  out.v_.vt = VT_I4;
  out.v_.lVal = value;
  return out;
}

void Wipe(Variant& v) noexcept {
  if (v.type() == VT_BSTR) platform::Wipe(v.value().bstrVal, SysStringByteLen(v.value().bstrVal));
}

Variant Variant::Missing() {
  Variant out;
  out.v_.vt = VT_ERROR;
  out.v_.scode = DISP_E_PARAMNOTFOUND;
  return out;
}

Variant Variant::Array(const std::vector<std::string>& utf8_items) {
  Variant out;
  StoreTextArray(&out.v_, utf8_items);
  return out;
}

Variant Variant::RefTo(VARIANT* target) {
  Variant out;
  out.v_.vt = VT_BYREF | VT_VARIANT;
  out.v_.pvarVal = target;
  return out;
}

namespace {
// The variant a write lands in: an [in, out] slot may itself hold a reference to the
// caller's variable.
VARIANT* WriteTarget(VARIANT* slot) {
  while (slot != nullptr && slot->vt == (VT_BYREF | VT_VARIANT)) slot = slot->pvarVal;
  return slot;
}
}  // namespace

void StoreTextBytes(VARIANT* slot, std::string_view utf16le) {
  slot = WriteTarget(slot);
  if (slot == nullptr) return;
  if (slot->vt == (VT_BYREF | VT_BSTR)) {
    StoreBstr(slot->pbstrVal, utf16le);
    return;
  }
  BSTR fresh = BstrFromBytes(utf16le);
  VariantClear(slot);
  slot->vt = VT_BSTR;
  slot->bstrVal = fresh;
}

void StoreText(VARIANT* slot, std::string_view utf8) {
  StoreTextBytes(slot, Utf8ToUtf16le(utf8));
}

void StoreBool(VARIANT* slot, bool value) {
  slot = WriteTarget(slot);
  if (slot == nullptr) return;
  if (slot->vt == (VT_BYREF | VT_BOOL)) {
    *slot->pboolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return;
  }
  VariantClear(slot);
  slot->vt = VT_BOOL;
  slot->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void StoreTextArray(VARIANT* slot, const std::vector<std::string>& utf8_items) {
  slot = WriteTarget(slot);
  if (slot == nullptr) return;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(utf8_items.size()));
  if (array == nullptr) throw std::bad_alloc();
  auto* items = static_cast<VARIANT*>(array->pvData);
  for (std::size_t i = 0; i < utf8_items.size(); ++i) {
    items[i].vt = VT_BSTR;
    items[i].bstrVal = SysAllocStringByteLen(nullptr, 0);
    StoreBstrUtf8(&items[i].bstrVal, utf8_items[i]);
  }
  VariantClear(slot);
  slot->vt = VT_ARRAY | VT_VARIANT;
  slot->parray = array;
}

std::vector<std::string> ReadTextArray(const VARIANT& v) {
  VARIANT p = Peek(v);
  if (p.vt != (VT_ARRAY | VT_VARIANT) || p.parray == nullptr) throw TypeMismatch();
  std::vector<std::string> out;
  auto* items = static_cast<VARIANT*>(p.parray->pvData);
  for (ULONG i = 0; i < p.parray->rgsabound[0].cElements; ++i) out.push_back(ToUtf8(items[i]));
  return out;
}

}  // namespace vellum::com
