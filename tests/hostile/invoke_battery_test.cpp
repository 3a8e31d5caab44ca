// Hostile callers of the binary interface: DISPPARAMS whose counts and arrays disagree, named
// arguments without their DISPIDs, by-reference variants pointing nowhere or at themselves.
// Invoke answers each with an automation error code before any method runs, and never reads
// or writes through a pointer the caller did not hand over.
#include <cstdint>
#include <string>
#include <vector>

#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/object.h"
#include "library/digital_sign/digital_sign.h"
#include "library/encryption/encryption.h"
#include "tests/hostile/hostile_fixture.h"

namespace vellum::hostile {
namespace {

using com::DISPPARAMS;
using com::Variant;
using com::VARIANT;

template <class Class, class Interface>
com::ComPtr<com::IDispatch> Make() {
  com::ClassFactory<Class> factory;
  com::ComPtr<com::IDispatch> object;
  EXPECT_EQ(factory.CreateInstance(nullptr, com::IID_IDispatch, object.out()), com::S_OK);
  return object;
}

struct Answer {
  com::HRESULT hr;
  std::uint32_t arg_err;
};

Answer Call(com::IDispatch* object, com::DISPID id, DISPPARAMS* params) {
  Variant result;
  std::uint32_t arg_err = 99;
  com::HRESULT hr = object->Invoke(id, com::IID_NULL, 0, com::DISPATCH_METHOD, params, result.get(),
                                   nullptr, &arg_err);
  return {hr, arg_err};
}

class InvokeBattery : public HostileTest {};

// The counts of DISPPARAMS against its arrays, on each class: nothing may be read from an
// array the caller did not pass, nor past the end of one it did.
TEST_F(InvokeBattery, CountsThatDisagreeWithTheArraysAreRefused) {
  Variant text = Variant::Text("x");
  VARIANT two[2] = {text.value(), text.value()};
  com::DISPID one_name[1] = {0};
  struct Case {
    const char* why;
    DISPPARAMS params;
    com::HRESULT expected;
  };
  const std::vector<Case> cases = {
      {"arguments counted, no array", {nullptr, nullptr, 2, 0}, com::E_INVALIDARG},
      {"named arguments counted, no DISPIDs", {two, nullptr, 2, 1}, com::E_INVALIDARG},
      {"more named than all arguments", {two, one_name, 1, 2}, com::DISP_E_BADPARAMCOUNT},
      {"more named than all, no array at all", {nullptr, nullptr, 0, 3}, com::DISP_E_BADPARAMCOUNT},
      {"far more arguments than parameters",
       {two, nullptr, 0x7fffffff, 0},
       com::DISP_E_BADPARAMCOUNT},
  };
  auto sign = Make<DigitalSign, _DigitalSign>();
  auto encryption = Make<Encryption, _Encryption>();
  for (const Case& c : cases) {
    DISPPARAMS params = c.params;
    EXPECT_EQ(Call(sign.get(), dispid::kStartDoc, &params).hr, c.expected) << c.why;
    EXPECT_EQ(Call(sign.get(), dispid::kVerifyFile, &params).hr, c.expected) << c.why;
    EXPECT_EQ(Call(encryption.get(), dispid::kEncryptMessage, &params).hr, c.expected) << c.why;
  }
}

// By-reference variants whose pointer is missing, and chains of references that never reach a
// value: a type mismatch, with the argument's position (counted as rgvarg counts) in arg_err.
TEST_F(InvokeBattery, ReferencesThatPointNowhereAreTypeMismatches) {
  Variant doc = Variant::Text(W("missing.txt"));
  VARIANT looped;
  looped.vt = com::VT_BYREF | com::VT_VARIANT;
  looped.pvarVal = &looped;
  VARIANT deep[8];
  for (int i = 0; i < 8; ++i) {
    deep[i].vt = com::VT_BYREF | com::VT_VARIANT;
    deep[i].pvarVal = i + 1 < 8 ? &deep[i + 1] : nullptr;
  }
  struct Case {
    const char* why;
    com::VARTYPE vt;
    VARIANT* points_at;  // what the byref pointer holds (null: nothing)
  };
  const std::vector<Case> cases = {
      {"VT_BYREF|VT_I4 with a null pointer", com::VT_BYREF | com::VT_I4, nullptr},
      {"VT_BYREF|VT_BSTR with a null pointer", com::VT_BYREF | com::VT_BSTR, nullptr},
      {"VT_BYREF|VT_BOOL with a null pointer", com::VT_BYREF | com::VT_BOOL, nullptr},
      {"VT_BYREF|VT_VARIANT with a null pointer", com::VT_BYREF | com::VT_VARIANT, nullptr},
      {"a reference to a variant referring to itself", com::VT_BYREF | com::VT_VARIANT, &looped},
      {"a chain of references ending nowhere", com::VT_BYREF | com::VT_VARIANT, &deep[0]},
  };
  auto sign = Make<DigitalSign, _DigitalSign>();
  for (const Case& c : cases) {
    VARIANT bad;
    com::VariantInit(&bad);
    bad.vt = c.vt;
    bad.pvarVal = c.points_at;
    // StartDoc(DocName, sErrStartDoc): the bad one is the message, rgvarg[0].
    VARIANT args[2] = {bad, doc.value()};
    DISPPARAMS params{args, nullptr, 2, 0};
    Answer answer = Call(sign.get(), dispid::kStartDoc, &params);
    EXPECT_EQ(answer.hr, com::DISP_E_TYPEMISMATCH) << c.why;
    EXPECT_EQ(answer.arg_err, 0u) << c.why;
    // The same as a named argument.
    com::DISPID names[1] = {1};
    VARIANT named[2] = {bad, doc.value()};
    DISPPARAMS by_name{named, names, 2, 1};
    EXPECT_EQ(Call(sign.get(), dispid::kStartDoc, &by_name).hr, com::DISP_E_TYPEMISMATCH) << c.why;
  }
}

// Well-formed shapes still work after the checks: a typed reference receives its result.
TEST_F(InvokeBattery, WellFormedReferencesStillReceiveTheirResults) {
  auto sign = Make<DigitalSign, _DigitalSign>();
  Variant doc = Variant::Text(W("missing.txt"));
  com::BSTR message = com::SysAllocStringByteLen(nullptr, 0);
  VARIANT by_ref;
  com::VariantInit(&by_ref);
  by_ref.vt = com::VT_BYREF | com::VT_BSTR;
  by_ref.pbstrVal = &message;
  VARIANT args[2] = {by_ref, doc.value()};
  DISPPARAMS params{args, nullptr, 2, 0};
  EXPECT_EQ(Call(sign.get(), dispid::kStartDoc, &params).hr, com::S_OK);
  EXPECT_EQ(com::BstrToUtf8(message), "File not found");
  com::SysFreeString(message);
}

}  // namespace
}  // namespace vellum::hostile
