// The server module seen from a client that knows only CLSIDs and IIDs: registration,
// creation through the registry, early and late binding giving the same results, the unload
// rule and the apartment rule.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <thread>

#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/platform/files.h"
#include "vellum/vellum.h"

namespace vellum::com {
namespace {

using ServerFn = HRESULT (*)();

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vellum-server-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("VELLUM_REGISTRY", (dir_ + "/registry.ini").c_str(), 1);
    module_ = ::dlopen(VELLUM_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module_, nullptr) << ::dlerror();
    auto reg = reinterpret_cast<ServerFn>(::dlsym(module_, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
  }
  void TearDown() override {
    if (module_ != nullptr) ::dlclose(module_);
    ::unsetenv("VELLUM_REGISTRY");
    std::filesystem::remove_all(dir_);
  }
  HRESULT CanUnloadNow() {
    return reinterpret_cast<ServerFn>(::dlsym(module_, "DllCanUnloadNow"))();
  }
  std::string dir_;
  void* module_ = nullptr;
};

// Calls StartDoc by name through IDispatch, the way a late-bound client does.
std::pair<bool, std::string> StartDocByName(IDispatch* object, const std::string& doc) {
  Bstr name("StartDoc");
  OLECHAR* names[] = {name.get()};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, dispid::kStartDoc);
  Variant doc_var = Variant::Text(doc);
  Variant message = Variant::Text("");
  Variant message_ref = Variant::RefTo(message.get());
  VARIANT args[2] = {message_ref.value(), doc_var.value()};  // reverse order
  DISPPARAMS params{args, nullptr, 2, 0};
  Variant result;
  EXPECT_EQ(
      object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr),
      S_OK);
  return {result.type() == VT_BOOL && result.value().boolVal == VARIANT_TRUE, message.Utf8()};
}

TEST_F(ServerTest, EarlyAndLateBindingAgree) {
  ComPtr<_DigitalSign> sign;
  ASSERT_EQ(CoCreateInstance(CLSID_DigitalSign, nullptr, CLSCTX_INPROC_SERVER, IID__DigitalSign,
                             sign.out()),
            S_OK);
  for (const std::string& doc : {dir_ + "/missing.txt", std::string(), dir_ + "/no/such/x.txt"}) {
    Bstr name(doc);
    Bstr message("");
    VARIANT_BOOL opened = VARIANT_TRUE;
    ASSERT_EQ(sign->StartDoc(name.Address(), message.Address(), &opened), S_OK);
    auto [late_ok, late_message] = StartDocByName(sign.get(), doc);
    EXPECT_EQ(opened == VARIANT_TRUE, late_ok) << doc;
    EXPECT_EQ(message.Utf8(), late_message) << doc;
    EXPECT_FALSE(late_ok);
  }
  Bstr missing(dir_ + "/missing.txt");
  Bstr message("");
  VARIANT_BOOL opened = VARIANT_TRUE;
  ASSERT_EQ(sign->StartDoc(missing.Address(), message.Address(), &opened), S_OK);
  EXPECT_EQ(message.Utf8(), "File not found");
  // The message parameter is optional.
  ASSERT_EQ(sign->StartDoc(missing.Address(), nullptr, &opened), S_OK);
  EXPECT_EQ(opened, VARIANT_FALSE);
}

TEST_F(ServerTest, CreatesEachClassByProgIdAndRefusesUnknownOnes) {
  for (const char* prog_id : {"Vellum.DigitalSign", "Vellum.Encryption", "Vellum.Zip"}) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(prog_id, &clsid), S_OK) << prog_id;
    ComPtr<IDispatch> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.out()),
              S_OK)
        << prog_id;
  }
  ComPtr<IUnknown> object;
  const CLSID unknown = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.out()),
            REGDB_E_CLASSNOTREG);
  ComPtr<_Zip> wrong;
  EXPECT_EQ(
      CoCreateInstance(CLSID_DigitalSign, nullptr, CLSCTX_INPROC_SERVER, IID__Zip, wrong.out()),
      E_NOINTERFACE);
}

TEST_F(ServerTest, UnknownNamesAndBadArgumentsAreRefusedByInvoke) {
  ComPtr<IDispatch> sign;
  ASSERT_EQ(
      CoCreateInstance(CLSID_DigitalSign, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, sign.out()),
      S_OK);
  Bstr bogus("NoSuchMethod");
  OLECHAR* names[] = {bogus.get()};
  DISPID id = 0;
  EXPECT_EQ(sign->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  // Names are case-insensitive; parameter names map to their positions.
  Bstr method("verifyfile"), param("sTrim");
  OLECHAR* with_param[] = {method.get(), param.get()};
  DISPID ids[2] = {};
  EXPECT_EQ(sign->GetIDsOfNames(IID_NULL, with_param, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], dispid::kVerifyFile);
  EXPECT_EQ(ids[1], 12);

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant result;
  EXPECT_EQ(sign->Invoke(dispid::kStartDoc, IID_NULL, 0, DISPATCH_METHOD, &none, result.get(),
                         nullptr, nullptr),
            DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(
      sign->Invoke(0x7777, IID_NULL, 0, DISPATCH_METHOD, &none, result.get(), nullptr, nullptr),
      DISP_E_MEMBERNOTFOUND);
  Variant missing = Variant::Missing();
  VARIANT arg[1] = {missing.value()};
  DISPPARAMS type_mismatch{arg, nullptr, 1, 0};
  std::uint32_t arg_err = 99;
  EXPECT_EQ(sign->Invoke(dispid::kStartDoc, IID_NULL, 0, DISPATCH_METHOD, &type_mismatch,
                         result.get(), nullptr, &arg_err),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err, 0u);
}

TEST_F(ServerTest, CanUnloadOnlyWithoutObjectsAndLocks) {
  EXPECT_EQ(CanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_Zip, CLSCTX_INPROC_SERVER, IID_IClassFactory, factory.out()),
            S_OK);
  ComPtr<IUnknown> a, b;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, a.out()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, b.out()), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  a.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  b.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
  ASSERT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  ASSERT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ServerTest, CallsFromAnotherThreadAreRefused) {
  ComPtr<_DigitalSign> sign;
  ASSERT_EQ(CoCreateInstance(CLSID_DigitalSign, nullptr, CLSCTX_INPROC_SERVER, IID__DigitalSign,
                             sign.out()),
            S_OK);
  HRESULT direct = S_OK, late = S_OK;
  std::thread other([&] {
    Bstr doc("/nonexistent");
    VARIANT_BOOL ok = VARIANT_FALSE;
    direct = sign->StartDoc(doc.Address(), nullptr, &ok);
    Bstr name("StartDoc");
    OLECHAR* names[] = {name.get()};
    DISPID id = 0;
    late = sign->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  });
  other.join();
  EXPECT_EQ(direct, RPC_E_WRONG_THREAD);
  EXPECT_EQ(late, RPC_E_WRONG_THREAD);
}

TEST_F(ServerTest, ObjectsKeepNoStateBetweenCalls) {
  // Two objects one after the other answer as one object used twice.
  std::string first, second;
  for (std::string* out : {&first, &second}) {
    ComPtr<_DigitalSign> sign;
    ASSERT_EQ(CoCreateInstance(CLSID_DigitalSign, nullptr, CLSCTX_INPROC_SERVER, IID__DigitalSign,
                               sign.out()),
              S_OK);
    Bstr doc(dir_ + "/gone.pdf");
    Bstr message("");
    VARIANT_BOOL ok = VARIANT_TRUE;
    ASSERT_EQ(sign->StartDoc(doc.Address(), message.Address(), &ok), S_OK);
    *out = message.Utf8();
  }
  EXPECT_EQ(first, second);
}

}  // namespace
}  // namespace vellum::com

namespace vellum::com {
namespace {

// The trust interface through the registered module: created by its own IID, counted with the
// object, refused from another thread like the default interface.
TEST_F(ServerTest, TrustInterfaceIsASecondInterfaceOfDigitalSign) {
  ComPtr<_DigitalSignTrust> trust;
  ASSERT_EQ(CoCreateInstance(CLSID_DigitalSign, nullptr, CLSCTX_INPROC_SERVER,
                             IID__DigitalSignTrust, trust.out()),
            S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the facet holds the object";
  ComPtr<_DigitalSign> sign;
  ASSERT_EQ(trust->QueryInterface(IID__DigitalSign, sign.out()), S_OK);
  // Each IDispatch answers for its own names only.
  Bstr verify("VerifyFileWithTrust"), start("StartDoc");
  OLECHAR* trust_name[] = {verify.get()};
  OLECHAR* sign_name[] = {start.get()};
  DISPID id = 0;
  EXPECT_EQ(trust->GetIDsOfNames(IID_NULL, trust_name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, dispid::kVerifyFileWithTrust);
  EXPECT_EQ(trust->GetIDsOfNames(IID_NULL, sign_name, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(sign->GetIDsOfNames(IID_NULL, trust_name, 1, 0, &id), DISP_E_UNKNOWNNAME);

  Variant report = Variant::Text("");
  HRESULT direct = S_OK, late = S_OK;
  std::thread other([&] {
    VARIANT_BOOL ok = VARIANT_FALSE;
    direct = trust->VerifyNSEFileWithTrust(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           report.get(), &ok);
    late = trust->GetIDsOfNames(IID_NULL, trust_name, 1, 0, &id);
  });
  other.join();
  EXPECT_EQ(direct, RPC_E_WRONG_THREAD);
  EXPECT_EQ(late, RPC_E_WRONG_THREAD);
  EXPECT_EQ(report.Utf8(), "") << "nothing touched from the wrong thread";

  // Omitted arguments read as missing: the call fails with the method's own text.
  Variant message = Variant::Text("");
  VARIANT_BOOL ok = VARIANT_TRUE;
  ASSERT_EQ(trust->VerifyNSEFileWithTrust(nullptr, nullptr, nullptr, message.get(), nullptr,
                                          nullptr, report.get(), &ok),
            S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_FALSE(message.Utf8().empty());
  EXPECT_EQ(report.Utf8(), "{\"signers\":[]}");
  trust.Reset();
  sign.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace vellum::com
