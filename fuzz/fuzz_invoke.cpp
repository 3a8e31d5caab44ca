// IDispatch::Invoke on hostile argument shapes: counts that disagree with the arrays, named
// DISPIDs in and out of range, values of every type the coercions know, by-reference variants
// pointing at values, at nothing, at further references or back at themselves. The object's
// table has a method per kind of parameter (value and reference variants, value and reference
// texts, numbers; required and optional), and each method reads every argument and writes a
// result into every reference, as the real methods do. Invoke must answer with an HRESULT and
// touch only memory the input's shape handed over.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "library/com/bstr.h"
#include "library/com/dispatch.h"
#include "library/com/object.h"
#include "library/com/variant.h"
#include "library/platform/error.h"

namespace {

using namespace vellum::com;  // NOLINT(google-build-using-namespace): a fuzz driver

// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
struct _Shapes : IDispatch {};

const IID kIidShapes = {0x0a1b2c3d, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

// Reads every argument the way the classes do, and writes into every reference.
HRESULT TouchAll(const std::vector<ParamInfo>& params, InvokeArgs& a, VARIANT* result) {
  std::string seen;
  for (std::size_t i = 0; i < params.size(); ++i) {
    try {
      switch (params[i].kind) {
        case ArgKind::kVariantValue: {
          VARIANT v = a.Value(i);
          seen += ToUtf8(v);
          (void)EqualsBool(v, true);
          break;
        }
        case ArgKind::kVariantRef:
          seen += ToUtf8(*a.Ref(i));
          (void)EqualsText(*a.Ref(i), "Y");
          StoreText(a.Ref(i), "written back");
          break;
        case ArgKind::kBstrValue:
          seen += BstrToUtf8(a.BstrValue(i));
          break;
        case ArgKind::kBstrRef:
          seen += BstrToUtf8(*a.BstrRef(i));
          StoreBstrUtf8(a.BstrRef(i), "written back");
          break;
        case ArgKind::kLong:
          seen += std::to_string(a.Long(i));
          break;
      }
    } catch (const vellum::Error&) {
      // A coercion that fails is a run-time error the method would report; carry on.
    }
  }
  VariantClear(result);
  result->vt = VT_I4;
  result->lVal = static_cast<std::int32_t>(seen.size());
  return S_OK;
}

const std::vector<ParamInfo> kRefs = {{"a", ArgKind::kVariantRef, Omitted::kRequired},
                                      {"b", ArgKind::kVariantRef, Omitted::kMissing},
                                      {"c", ArgKind::kVariantRef, Omitted::kEmptyText},
                                      {"d", ArgKind::kVariantRef, Omitted::kZero}};
const std::vector<ParamInfo> kValues = {{"a", ArgKind::kVariantValue, Omitted::kRequired},
                                        {"b", ArgKind::kBstrValue, Omitted::kMissing},
                                        {"c", ArgKind::kLong, Omitted::kZero},
                                        {"d", ArgKind::kVariantValue, Omitted::kMissing}};
const std::vector<ParamInfo> kTexts = {{"a", ArgKind::kBstrRef, Omitted::kRequired},
                                       {"b", ArgKind::kBstrRef, Omitted::kEmptyText},
                                       {"c", ArgKind::kBstrValue, Omitted::kRequired}};

class Shapes final : public ComObject<Shapes, _Shapes> {
 public:
  static const IID& Iid() { return kIidShapes; }
  static const DispatchTable<_Shapes>& Table() {
    static const DispatchTable<_Shapes> table = {
        {"Refs", 1, kRefs,
         [](_Shapes*, InvokeArgs& a, VARIANT* r) { return TouchAll(kRefs, a, r); }},
        {"Values", 2, kValues,
         [](_Shapes*, InvokeArgs& a, VARIANT* r) { return TouchAll(kValues, a, r); }},
        {"Texts", 3, kTexts,
         [](_Shapes*, InvokeArgs& a, VARIANT* r) { return TouchAll(kTexts, a, r); }},
    };
    return table;
  }
};

// Takes bytes off the front of the input; zeros once it is used up.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::string Text() {
    std::size_t n = Byte() % 12;
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(Byte());
    return s;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Everything the shapes point at, kept at stable addresses until the call is over and then
// released: the caller owns its variables, Invoke only borrows them.
struct Storage {
  std::vector<VARIANT> args = std::vector<VARIANT>(10);
  std::vector<VARIANT> inner = std::vector<VARIANT>(10);
  std::vector<BSTR> texts = std::vector<BSTR>(10, nullptr);
  std::vector<std::int32_t> longs = std::vector<std::int32_t>(10, 0);
  std::vector<std::int16_t> shorts = std::vector<std::int16_t>(10, 0);
  std::vector<VARIANT_BOOL> bools = std::vector<VARIANT_BOOL>(10, 0);
  std::vector<double> doubles = std::vector<double>(10, 0);
  std::vector<DISPID> names = std::vector<DISPID>(10, 0);

  Storage() {
    for (auto& v : args) VariantInit(&v);
    for (auto& v : inner) VariantInit(&v);
  }
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;
  ~Storage() {
    for (auto& v : args) VariantClear(&v);
    for (auto& v : inner) VariantClear(&v);
    for (BSTR t : texts) SysFreeString(t);
  }
};

// A plain value of one of the types the coercions read.
void MakeValue(Reader& in, VARIANT& v) {
  switch (in.Byte() % 9) {
    case 0:
      break;  // empty
    case 1:
      v.vt = VT_I2;
      v.iVal = static_cast<std::int16_t>(in.Byte() - 2);
      break;
    case 2:
      v.vt = VT_I4;
      v.lVal = static_cast<std::int32_t>(in.Byte()) << (in.Byte() % 24);
      break;
    case 3:
      v.vt = VT_BOOL;
      v.boolVal = static_cast<VARIANT_BOOL>(in.Byte() % 3 - 1);
      break;
    case 4:
      v.vt = VT_BSTR;
      v.bstrVal = BstrFromBytes(in.Text());
      break;
    case 5:
      v.vt = VT_ERROR;
      v.scode = in.Byte() % 2 == 0 ? DISP_E_PARAMNOTFOUND : E_INVALIDARG;
      break;
    case 6:
      v.vt = VT_R8;
      v.dblVal = static_cast<double>(static_cast<std::int8_t>(in.Byte())) * 1e7 / 3;
      break;
    case 7:
      v.vt = VT_ARRAY | VT_VARIANT;
      v.parray = SafeArrayCreateVector(VT_VARIANT, 0, in.Byte() % 3);
      break;
    default:
      v.vt = static_cast<VARTYPE>(in.Byte() % 20);  // a type nobody handles, empty payload
      v.llVal = 0;
      break;
  }
}

// Argument `i`: a value, or a reference of some type pointing at storage, at nothing, at a
// further reference or at itself.
void MakeArg(Reader& in, Storage& s, std::size_t i) {
  VARIANT& v = s.args[i];
  const std::uint8_t shape = in.Byte();
  const bool null_pointer = (shape & 0x80) != 0;
  switch (shape % 8) {
    case 0:
      MakeValue(in, v);
      return;
    case 1:
      v.vt = VT_BYREF | VT_I4;
      s.longs[i] = static_cast<std::int32_t>(in.Byte()) - 1;
      v.plVal = null_pointer ? nullptr : &s.longs[i];
      return;
    case 2:
      v.vt = VT_BYREF | VT_BSTR;
      s.texts[i] = in.Byte() % 2 == 0 ? BstrFromBytes(in.Text()) : nullptr;
      v.pbstrVal = null_pointer ? nullptr : &s.texts[i];
      return;
    case 3:
      v.vt = VT_BYREF | VT_BOOL;
      s.bools[i] = static_cast<VARIANT_BOOL>(in.Byte() % 3 - 1);
      v.pboolVal = null_pointer ? nullptr : &s.bools[i];
      return;
    case 4:
      v.vt = VT_BYREF | VT_I2;
      s.shorts[i] = static_cast<std::int16_t>(in.Byte());
      v.piVal = null_pointer ? nullptr : &s.shorts[i];
      return;
    case 5:
      v.vt = VT_BYREF | VT_R8;
      s.doubles[i] = in.Byte() / 7.0;
      v.pdblVal = null_pointer ? nullptr : &s.doubles[i];
      return;
    case 6: {
      v.vt = VT_BYREF | VT_VARIANT;
      if (null_pointer) return;
      VARIANT& target = s.inner[i];
      v.pvarVal = &target;
      switch (in.Byte() % 4) {
        case 0:
          MakeValue(in, target);
          break;
        case 1:  // a reference to itself
          target.vt = VT_BYREF | VT_VARIANT;
          target.pvarVal = &target;
          break;
        case 2:  // a reference to another argument's inner variant (maybe a chain)
          target.vt = VT_BYREF | VT_VARIANT;
          target.pvarVal = &s.inner[in.Byte() % s.inner.size()];
          break;
        default:  // a reference to a typed reference pointing nowhere
          target.vt = VT_BYREF | VT_BSTR;
          target.pbstrVal = nullptr;
          break;
      }
      return;
    }
    default: {
      // Any other type by reference, pointing at a zeroed scalar: wide enough for every scalar
      // read. Texts and variants by reference have their own cases above, whose storage is
      // released afterwards; a result written here would be lost.
      auto type = static_cast<VARTYPE>(in.Byte() % 20);
      if (type == VT_BSTR || type == VT_VARIANT) type = VT_NULL;
      v.vt = static_cast<VARTYPE>(VT_BYREF | type);
      v.byref = null_pointer ? nullptr : &s.doubles[i];
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  Storage storage;
  const DISPID method = 1 + in.Byte() % 4;  // 4: no such member
  std::uint32_t count = in.Byte() % 8;
  std::uint32_t named = in.Byte() % 6;
  const std::uint8_t flags = in.Byte();
  for (std::uint32_t n = 0; n < named && n < storage.names.size(); ++n)
    storage.names[n] = static_cast<DISPID>(static_cast<std::int8_t>(in.Byte() % 8 - 2));
  for (std::size_t i = 0; i < count; ++i) MakeArg(in, storage, i);

  DISPPARAMS params{};
  params.cArgs = (flags & 4) != 0 ? count + 1000 : count;  // counts may exceed the arrays
  params.cNamedArgs = named;
  params.rgvarg = (flags & 1) != 0 ? nullptr : storage.args.data();
  params.rgdispidNamedArgs = (flags & 2) != 0 ? nullptr : storage.names.data();
  if (params.cNamedArgs > params.cArgs && (flags & 8) == 0) params.cNamedArgs = params.cArgs;

  ClassFactory<Shapes> factory;
  IDispatch* object = nullptr;
  if (factory.CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)) != S_OK)
    return 0;
  Variant result;
  std::uint32_t arg_err = 0;
  (void)object->Invoke(method, IID_NULL, 0, DISPATCH_METHOD, (flags & 16) != 0 ? nullptr : &params,
                       (flags & 32) != 0 ? nullptr : result.get(), nullptr, &arg_err);
  object->Release();
  return 0;
}
