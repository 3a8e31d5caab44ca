#include "library/com/dispatch.h"

#include "library/platform/error.h"

namespace vellum::com {

bool NameEquals(const OLECHAR* name, std::string_view ascii) {
  if (name == nullptr) return false;
  std::size_t i = 0;
  for (; name[i] != 0 && i < ascii.size(); ++i) {
    char16_t a = name[i];
    char16_t b = static_cast<unsigned char>(ascii[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<char16_t>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char16_t>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return name[i] == 0 && i == ascii.size();
}

namespace {

// Finds the argument for parameter `index`: named ones first, then the positional ones, which
// DISPPARAMS holds in reverse order after the named ones.
VARIANT* FindArg(const DISPPARAMS* dp, std::size_t index) {
  if (dp == nullptr) return nullptr;
  for (std::uint32_t n = 0; n < dp->cNamedArgs; ++n)
    if (dp->rgdispidNamedArgs[n] == static_cast<DISPID>(index)) return &dp->rgvarg[n];
  std::uint32_t positional = dp->cArgs - dp->cNamedArgs;
  if (index >= positional) return nullptr;
  return &dp->rgvarg[dp->cArgs - 1 - index];
}

// How deep by-reference variants may point at further by-reference variants. Real callers
// use one level (a variant holding a reference to the caller's variable); a chain this long, or
// one that loops back on itself, is no argument anyone meant to pass.
constexpr int kMaxReferenceDepth = 4;

// True when every pointer the variant's shape promises is there, so reading it, and writing a
// result back into it, touches only memory the caller handed over.
bool WellFormed(const VARIANT& v, int depth = 0) {
  if ((v.vt & VT_BYREF) == 0) return true;
  if (v.byref == nullptr || depth >= kMaxReferenceDepth) return false;
  if (v.vt == (VT_BYREF | VT_VARIANT)) return WellFormed(*v.pvarVal, depth + 1);
  return true;
}

// The counts and arrays of DISPPARAMS must agree before any argument is looked at: a caller
// that says it passes arguments must pass the array holding them.
HRESULT CheckShape(const DISPPARAMS& dp, std::size_t param_count, std::uint32_t* arg_err) {
  if (dp.cNamedArgs > dp.cArgs) return DISP_E_BADPARAMCOUNT;
  if (dp.cArgs > param_count) return DISP_E_BADPARAMCOUNT;
  if (dp.cArgs > 0 && dp.rgvarg == nullptr) return E_INVALIDARG;
  if (dp.cNamedArgs > 0 && dp.rgdispidNamedArgs == nullptr) return E_INVALIDARG;
  for (std::uint32_t n = 0; n < dp.cNamedArgs; ++n)
    if (dp.rgdispidNamedArgs[n] < 0 ||
        static_cast<std::size_t>(dp.rgdispidNamedArgs[n]) >= param_count)
      return DISP_E_UNKNOWNNAME;
  for (std::uint32_t i = 0; i < dp.cArgs; ++i) {
    if (WellFormed(dp.rgvarg[i])) continue;
    // rgvarg holds the arguments in reverse order; the caller counts them that way too.
    if (arg_err != nullptr) *arg_err = i;
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

HRESULT ToDispError(const Error& e) {
  if (e.number() == rt::kOverflow) return DISP_E_OVERFLOW;
  return DISP_E_TYPEMISMATCH;
}

// A variant parameter: the default its table names when omitted, the caller's own variant for
// a by-reference variant, else a copy (written back after the call when the caller passed a
// typed reference to a by-reference parameter).
void PrepareVariant(const ParamInfo& p, VARIANT* src, bool omitted, InvokeArgs::Slot& slot) {
  if (omitted && p.omitted == Omitted::kEmptyText) {
    slot.local = Variant::Text("");
  } else if (omitted && p.omitted == Omitted::kZero) {
    slot.local = Variant::Long(0);
  } else if (omitted) {
    slot.local = Variant::Missing();
  } else if (p.kind == ArgKind::kVariantRef && src->vt == (VT_BYREF | VT_VARIANT)) {
    slot.ref = src->pvarVal;
  } else {
    VariantCopyInd(slot.local.get(), src);
    if ((src->vt & VT_BYREF) != 0) slot.write_back = src;
  }
  if (slot.ref == nullptr) slot.ref = slot.local.get();
  if (p.kind == ArgKind::kVariantValue) slot.write_back = nullptr;
}

// A text parameter: empty when omitted, the caller's own text for a by-reference text (also
// one inside a by-reference variant), else a converted copy.
void PrepareText(const ParamInfo& p, VARIANT* src, bool omitted, InvokeArgs::Slot& slot) {
  if (omitted) {
    slot.text = Bstr("");
  } else if (p.kind == ArgKind::kBstrRef && src->vt == (VT_BYREF | VT_BSTR)) {
    slot.text_ref = src->pbstrVal;
  } else if (p.kind == ArgKind::kBstrRef && src->vt == (VT_BYREF | VT_VARIANT) &&
             src->pvarVal != nullptr && src->pvarVal->vt == VT_BSTR) {
    slot.text_ref = &src->pvarVal->bstrVal;
  } else {
    slot.text = Bstr::FromBytes(ToTextBytes(*src));
    if (p.kind == ArgKind::kBstrRef && (src->vt & VT_BYREF) != 0) slot.write_back = src;
  }
  if (slot.text_ref == nullptr) slot.text_ref = slot.text.Address();
}

// Converts one argument for the vtable call; raises Error when it cannot be converted.
void PrepareSlot(const ParamInfo& p, VARIANT* src, bool omitted, InvokeArgs::Slot& slot) {
  switch (p.kind) {
    case ArgKind::kVariantValue:
    case ArgKind::kVariantRef:
      PrepareVariant(p, src, omitted, slot);
      return;
    case ArgKind::kBstrRef:
    case ArgKind::kBstrValue:
      PrepareText(p, src, omitted, slot);
      return;
    case ArgKind::kLong:
      slot.number = omitted ? 0 : ToLong(*src);
      return;
  }
}

}  // namespace

HRESULT PrepareArgs(const std::vector<ParamInfo>& params, const DISPPARAMS* dp, InvokeArgs& args,
                    std::uint32_t* arg_err) {
  if (dp != nullptr)
    if (HRESULT hr = CheckShape(*dp, params.size(), arg_err); Failed(hr)) return hr;

  args.slots_.clear();
  args.slots_.resize(params.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    const ParamInfo& p = params[i];
    VARIANT* src = FindArg(dp, i);
    if (src == nullptr && p.omitted == Omitted::kRequired) return DISP_E_PARAMNOTOPTIONAL;
    // A "missing" value handed to a required parameter is an ordinary value: converting it
    // fails as a type mismatch, and a variant parameter receives it as it is.
    bool omitted = src == nullptr || (p.omitted != Omitted::kRequired && IsMissing(*src));
    try {
      PrepareSlot(p, src, omitted, args.slots_[i]);
    } catch (const Error& e) {
      if (arg_err != nullptr) *arg_err = static_cast<std::uint32_t>(i);
      return ToDispError(e);
    }
  }
  return S_OK;
}

void WriteBack(InvokeArgs& args) {
  for (auto& slot : args.slots_) {
    if (slot.write_back == nullptr) continue;
    VARIANT* target = slot.write_back;
    try {
      // The value the method left, converted into the type the caller's reference holds.
      VARIANT produced;
      VariantInit(&produced);
      if (slot.ref != nullptr) {
        produced = Peek(*slot.ref);
      } else {
        produced.vt = VT_BSTR;
        produced.bstrVal = *slot.text_ref;
      }
      VARTYPE base = target->vt & static_cast<VARTYPE>(~VT_BYREF);
      switch (base) {
        case VT_VARIANT:
          VariantCopy(target->pvarVal, &produced);
          break;
        case VT_BSTR:
          StoreBstr(target->pbstrVal, ToTextBytes(produced));
          break;
        case VT_I2:
          *target->piVal = static_cast<std::int16_t>(ToLong(produced));
          break;
        case VT_I4:
          *target->plVal = ToLong(produced);
          break;
        case VT_BOOL:
          *target->pboolVal = ToBool(produced) ? VARIANT_TRUE : VARIANT_FALSE;
          break;
        default:
          break;
      }
    } catch (const Error&) {
      // A result that does not fit the caller's typed variable leaves the variable as it was.
    }
  }
}

}  // namespace vellum::com
