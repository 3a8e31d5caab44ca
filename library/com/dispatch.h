// Late binding: the table of names, DISPIDs and parameters of an interface drives both
// GetIDsOfNames and Invoke, so the two can never disagree with the vtable.
//
// Invoke turns DISPPARAMS (arguments in reverse order, optionally named) into the vtable's
// parameter types. A by-reference variant parameter receives the caller's own variable when the
// caller passed VT_BYREF|VT_VARIANT, so results written into it reach the caller; a typed
// reference (VT_BYREF|VT_BSTR, ...) gets the result converted back into its type; a value is
// copied and nothing is written back. Omitted optional arguments arrive as VT_ERROR
// DISP_E_PARAMNOTFOUND, or as the declared default (empty text, zero).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "library/com/bstr.h"
#include "library/com/variant.h"
#include "vellum/types.h"

namespace vellum::com {

enum class ArgKind { kVariantValue, kVariantRef, kBstrValue, kBstrRef, kLong };
enum class Omitted { kRequired, kMissing, kEmptyText, kZero };

struct ParamInfo {
  const char* name;
  ArgKind kind;
  Omitted omitted;
};

// The arguments of one Invoke, converted for the vtable call.
class InvokeArgs {
 public:
  VARIANT Value(std::size_t i) { return slots_[i].local.value(); }
  VARIANT* Ref(std::size_t i) { return slots_[i].ref; }
  BSTR BstrValue(std::size_t i) { return slots_[i].text.get(); }
  BSTR* BstrRef(std::size_t i) { return slots_[i].text_ref; }
  std::int32_t Long(std::size_t i) const { return slots_[i].number; }

  // One argument in the form the method takes it.
  struct Slot {
    Variant local;
    Bstr text;
    VARIANT* ref = nullptr;
    BSTR* text_ref = nullptr;
    std::int32_t number = 0;
    VARIANT* write_back = nullptr;  // a typed by-reference argument to update after the call
  };

 private:
  friend HRESULT PrepareArgs(const std::vector<ParamInfo>&, const DISPPARAMS*, InvokeArgs&,
                             std::uint32_t*);
  friend void WriteBack(InvokeArgs&);
  std::vector<Slot> slots_;
};

HRESULT PrepareArgs(const std::vector<ParamInfo>& params, const DISPPARAMS* dp, InvokeArgs& args,
                    std::uint32_t* arg_err);
void WriteBack(InvokeArgs& args);

template <class Interface>
struct MethodInfo {
  const char* name;
  DISPID id;
  std::vector<ParamInfo> params;
  HRESULT (*call)(Interface* self, InvokeArgs& args, VARIANT* result);
};

template <class Interface>
using DispatchTable = std::vector<MethodInfo<Interface>>;

bool NameEquals(const OLECHAR* name, std::string_view ascii);  // case-insensitive

template <class Interface>
HRESULT TableGetIDsOfNames(const DispatchTable<Interface>& table, OLECHAR** names,
                           std::uint32_t count, DISPID* ids) {
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  const MethodInfo<Interface>* method = nullptr;
  for (const auto& m : table)
    if (NameEquals(names[0], m.name)) method = &m;
  HRESULT hr = S_OK;
  ids[0] = method != nullptr ? method->id : DISPID_UNKNOWN;
  if (method == nullptr) hr = DISP_E_UNKNOWNNAME;
  // Further names are parameter names; their DISPIDs are their positions.
  for (std::uint32_t i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (method != nullptr)
      for (std::size_t p = 0; p < method->params.size(); ++p)
        if (NameEquals(names[i], method->params[p].name)) ids[i] = static_cast<DISPID>(p);
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

template <class Interface>
HRESULT TableInvoke(const DispatchTable<Interface>& table, Interface* self, DISPID id,
                    std::uint16_t flags, DISPPARAMS* dp, VARIANT* result, std::uint32_t* arg_err) {
  if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) return DISP_E_MEMBERNOTFOUND;
  for (const auto& m : table) {
    if (m.id != id) continue;
    InvokeArgs args;
    if (HRESULT hr = PrepareArgs(m.params, dp, args, arg_err); Failed(hr)) return hr;
    Variant scratch;
    HRESULT hr = m.call(self, args, result != nullptr ? result : scratch.get());
    WriteBack(args);
    return hr;
  }
  return DISP_E_MEMBERNOTFOUND;
}

// Calls a method whose [out, retval] is a VARIANT_BOOL and hands the result back as VT_BOOL.
template <class Call>
HRESULT BoolResult(VARIANT* result, Call call) {
  VARIANT_BOOL value = VARIANT_FALSE;
  HRESULT hr = call(&value);
  VariantInit(result);  // [out, retval]: whatever the caller's variant held is not ours to free
  result->vt = VT_BOOL;
  result->boolVal = value;
  return hr;
}

}  // namespace vellum::com
