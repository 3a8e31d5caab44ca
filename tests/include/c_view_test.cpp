// The C view of the public headers (types_c.h, interfaces_c.h) against the C++ view the server
// is built from: every size, offset, vtable slot and identifier a C caller relies on. A slot
// the C struct puts elsewhere would call the wrong method, so each is checked by name.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "tests/include/c_view.h"
#include "vellum/host.h"
#include "vellum/vellum.h"
#include "vellum/version.h"

namespace vellum {
namespace {

using namespace vellum::com;

// The vtable slot of a virtual method: under the Itanium C++ ABI a pointer to a virtual member
// function holds one plus the slot's byte offset in the vtable.
template <class Method>
std::size_t SlotOf(Method method) {
  std::uintptr_t raw = 0;
  static_assert(sizeof(method) >= sizeof(raw));
  std::memcpy(&raw, &method, sizeof(raw));
  return (raw - 1) / sizeof(void*);
}

std::map<std::string, std::size_t> CppView() {
  return {
      {"sizeof GUID", sizeof(GUID)},
      {"sizeof VARIANT", sizeof(VARIANT)},
      {"VARIANT::vt", offsetof(VARIANT, vt)},
      {"VARIANT::llVal", offsetof(VARIANT, llVal)},
      {"VARIANT::bstrVal", offsetof(VARIANT, bstrVal)},
      {"VARIANT::brecVal.pRecInfo", offsetof(VARIANT, brecVal.pRecInfo)},
      {"sizeof SAFEARRAY", sizeof(SAFEARRAY)},
      {"SAFEARRAY::pvData", offsetof(SAFEARRAY, pvData)},
      {"SAFEARRAY::rgsabound", offsetof(SAFEARRAY, rgsabound)},
      {"sizeof DISPPARAMS", sizeof(DISPPARAMS)},
      {"DISPPARAMS::cNamedArgs", offsetof(DISPPARAMS, cNamedArgs)},
      {"sizeof EXCEPINFO", sizeof(EXCEPINFO)},
      {"EXCEPINFO::pfnDeferredFillIn", offsetof(EXCEPINFO, pfnDeferredFillIn)},
      {"EXCEPINFO::scode", offsetof(EXCEPINFO, scode)},
      {"sizeof VellumHostHooks", sizeof(VellumHostHooks)},
      {"VellumHostHooks::ask_pin", offsetof(VellumHostHooks, ask_pin)},
      {"VellumHostHooks::progress", offsetof(VellumHostHooks, progress)},
      {"VellumHostHooks after progress", sizeof(void (*)())},
      {"IClassFactory::CreateInstance", SlotOf(&IClassFactory::CreateInstance)},
      {"IClassFactory::LockServer", SlotOf(&IClassFactory::LockServer)},
      {"_DigitalSign::Invoke", SlotOf(&_DigitalSign::Invoke)},
      {"_DigitalSign::SignFile", SlotOf(&_DigitalSign::SignFile)},
      {"_DigitalSign::SignZipFile", SlotOf(&_DigitalSign::SignZipFile)},
      {"_DigitalSign::StartDoc", SlotOf(&_DigitalSign::StartDoc)},
      {"_DigitalSign::VerifyFile", SlotOf(&_DigitalSign::VerifyFile)},
      {"_DigitalSign::VerifyNSEFile", SlotOf(&_DigitalSign::VerifyNSEFile)},
      {"_DigitalSign::VerifyZipFile", SlotOf(&_DigitalSign::VerifyZipFile)},
      {"_DigitalSign::WriteWholeFile", SlotOf(&_DigitalSign::WriteWholeFile)},
      {"_DigitalSign::ReadWholeFile", SlotOf(&_DigitalSign::ReadWholeFile)},
      {"_DigitalSignTrust::VerifyFileWithTrust", SlotOf(&_DigitalSignTrust::VerifyFileWithTrust)},
      {"_DigitalSignTrust::VerifyNSEFileWithTrust",
       SlotOf(&_DigitalSignTrust::VerifyNSEFileWithTrust)},
      {"_DigitalSignTrust::VerifyZipFileWithTrust",
       SlotOf(&_DigitalSignTrust::VerifyZipFileWithTrust)},
      {"_Encryption::EncryptMessage", SlotOf(&_Encryption::EncryptMessage)},
      {"_Encryption::DecryptMessage", SlotOf(&_Encryption::DecryptMessage)},
      {"_Zip::ZipFile", SlotOf(&_Zip::ZipFile)},
      {"_Zip::UnZipFile", SlotOf(&_Zip::UnZipFile)},
      {"VARIANT_TRUE", static_cast<std::uint16_t>(VARIANT_TRUE)},
      {"VT_BSTR", VT_BSTR},
      {"VT_BYREF", VT_BYREF},
      {"REGDB_E_CLASSNOTREG", static_cast<std::uint32_t>(REGDB_E_CLASSNOTREG)},
      {"VELLUM_DISPID_VERIFY_ZIP_FILE", static_cast<std::size_t>(dispid::kVerifyZipFile)},
      {"VELLUM_DISPID_VERIFY_ZIP_FILE_WITH_TRUST",
       static_cast<std::size_t>(dispid::kVerifyZipFileWithTrust)},
      {"VELLUM_DISPID_UNZIP_FILE", static_cast<std::size_t>(dispid::kUnZipFile)},
      {"VELLUM_VERSION_MAJOR", VELLUM_VERSION_MAJOR},
  };
}

TEST(CView, LayoutsAndSlotsMatchTheCppView) {
  const auto cpp = CppView();
  ASSERT_EQ(kVellumCViewRows, cpp.size()) << "both views list the same rows";
  for (std::size_t i = 0; i < kVellumCViewRows; ++i) {
    const auto found = cpp.find(kVellumCView[i].name);
    ASSERT_NE(found, cpp.end()) << kVellumCView[i].name;
    EXPECT_EQ(kVellumCView[i].value, found->second) << kVellumCView[i].name;
  }
}

TEST(CView, IdentifiersMatchTheCppView) {
  const std::map<std::string, GUID> cpp = {
      {"LIBID_Vellum", LIBID_Vellum},           {"CLSID_DigitalSign", CLSID_DigitalSign},
      {"CLSID_Encryption", CLSID_Encryption},   {"CLSID_Zip", CLSID_Zip},
      {"IID__DigitalSign", IID__DigitalSign},   {"IID__DigitalSignTrust", IID__DigitalSignTrust},
      {"IID__Encryption", IID__Encryption},     {"IID__Zip", IID__Zip},
      {"IID_IUnknown", IID_IUnknown},           {"IID_IDispatch", IID_IDispatch},
      {"IID_IClassFactory", IID_IClassFactory},
  };
  ASSERT_EQ(kVellumCIdRows, cpp.size());
  for (std::size_t i = 0; i < kVellumCIdRows; ++i) {
    const auto found = cpp.find(kVellumCIds[i].name);
    ASSERT_NE(found, cpp.end()) << kVellumCIds[i].name;
    EXPECT_EQ(std::memcmp(kVellumCIds[i].guid, &found->second, sizeof(GUID)), 0)
        << kVellumCIds[i].name;
  }
}

}  // namespace
}  // namespace vellum
