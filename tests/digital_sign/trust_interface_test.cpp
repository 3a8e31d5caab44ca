// DigitalSign's second interface, _DigitalSignTrust: reached by QueryInterface, called early
// bound through its vtable and late bound through its own IDispatch. Each method must do what
// its namesake in _DigitalSign does (result, message, details, restored file) and add the
// trust report, a JSON text read back here with a JSON reader.
#include <filesystem>

#include "library/com/json.h"
#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;
using com::Variant;
using com::json::Value;

com::ComPtr<_DigitalSignTrust> TrustOf(const com::ComPtr<_DigitalSign>& sign) {
  com::ComPtr<_DigitalSignTrust> trust;
  EXPECT_EQ(sign->QueryInterface(IID__DigitalSignTrust, reinterpret_cast<void**>(trust.out())),
            com::S_OK);
  return trust;
}

// The trust arguments beside a VerifyCall.
struct TrustArgs {
  Variant anchors = Variant::Missing();
  Variant crls = Variant::Missing();
  Variant report = Variant::Text("");
  Value Report() const { return Value::Parse(SignCall::Text(report)); }
};

bool CallVerifyFileWithTrust(VerifyCall& c, TrustArgs& t) {
  auto trust = TrustOf(MakeDigitalSign());
  VARIANT_BOOL result = com::VARIANT_FALSE;
  EXPECT_EQ(trust->VerifyFileWithTrust(
                c.fingerprint.get(), c.detached.get(), c.binary.get(), c.details.get(),
                c.original.get(), c.message.get(), c.open.get(), c.user.get(), c.password.get(),
                c.decrypt.get(), c.hash_algorithm.get(), c.encryption_algorithm.get(), c.trim.get(),
                t.anchors.get(), t.crls.get(), t.report.get(), &result),
            com::S_OK);
  return result == com::VARIANT_TRUE;
}

bool CallVerifyZipFileWithTrust(VerifyCall& c, TrustArgs& t) {
  auto trust = TrustOf(MakeDigitalSign());
  VARIANT_BOOL result = com::VARIANT_FALSE;
  EXPECT_EQ(trust->VerifyZipFileWithTrust(
                c.fingerprint.get(), c.detached.get(), c.binary.get(), c.details.get(),
                c.original.get(), c.message.get(), c.open.get(), c.user.get(), c.password.get(),
                c.decrypt.get(), c.hash_algorithm.get(), c.encryption_algorithm.get(),
                t.anchors.get(), t.crls.get(), t.report.get(), &result),
            com::S_OK);
  return result == com::VARIANT_TRUE;
}

bool CallVerifyNSEFileWithTrust(VerifyCall& c, TrustArgs& t) {
  auto trust = TrustOf(MakeDigitalSign());
  VARIANT_BOOL result = com::VARIANT_FALSE;
  EXPECT_EQ(trust->VerifyNSEFileWithTrust(c.fingerprint.get(), c.binary.get(), c.original.get(),
                                          c.message.get(), t.anchors.get(), t.crls.get(),
                                          t.report.get(), &result),
            com::S_OK);
  return result == com::VARIANT_TRUE;
}

class TrustInterface : public SigningTest {
 protected:
  // A detached signature of work/doc.txt by the test signer.
  std::string SignDetached() {
    const std::string doc = Put("doc.txt", "who signed this?\r\n");
    return Sign(doc, true);
  }
  VerifyCall DetachedCall(const std::string& signature) {
    VerifyCall c(signature);
    c.original = Variant::Text(W("doc.txt"));
    return c;
  }
  // The one signer of a report, after checking the report has exactly one.
  static const Value& OnlySigner(const Value& report) {
    EXPECT_EQ(report["signers"].AsArray().size(), 1U);
    return report["signers"].AsArray().at(0);
  }
};

TEST_F(TrustInterface, QueryInterfaceKeepsOneIdentity) {
  auto sign = MakeDigitalSign();
  auto trust = TrustOf(sign);
  ASSERT_TRUE(trust);
  com::ComPtr<com::IUnknown> from_sign, from_trust;
  ASSERT_EQ(sign->QueryInterface(com::IID_IUnknown, reinterpret_cast<void**>(from_sign.out())),
            com::S_OK);
  ASSERT_EQ(trust->QueryInterface(com::IID_IUnknown, reinterpret_cast<void**>(from_trust.out())),
            com::S_OK);
  EXPECT_EQ(from_sign.get(), from_trust.get()) << "one object, one IUnknown";
  com::ComPtr<_DigitalSign> back;
  ASSERT_EQ(trust->QueryInterface(IID__DigitalSign, reinterpret_cast<void**>(back.out())),
            com::S_OK);
  EXPECT_EQ(back.get(), sign.get());
  // The facet counts on the object: a reference through it keeps the whole object alive.
  const auto before = sign->AddRef();
  EXPECT_EQ(trust->AddRef(), before + 1);
  trust->Release();
  sign->Release();
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(sign->QueryInterface(IID__Zip, &none), com::E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
}

TEST_F(TrustInterface, DetachedDoesWhatVerifyFileDoesAndReportsTheSigner) {
  const std::string signature = SignDetached();
  VerifyCall plain = DetachedCall(signature);
  ASSERT_TRUE(CallVerifyFile(plain)) << plain.Message();
  VerifyCall with = DetachedCall(signature);
  TrustArgs t;
  ASSERT_TRUE(CallVerifyFileWithTrust(with, t)) << with.Message();
  EXPECT_EQ(with.Message(), plain.Message());
  EXPECT_EQ(with.Details(), plain.Details());

  const Value report = t.Report();
  const Value& s = OnlySigner(report);
  EXPECT_EQ(s["subject"].AsText(), kSignerSubject);
  EXPECT_EQ(s["trust"].AsText(), "trusted");
  EXPECT_EQ(s["anchor"].AsText(), kRootSubject);
  EXPECT_EQ(s["reason"].AsText(), kRootSubject);
  EXPECT_EQ(s["fingerprint_sha256"].AsText().size(), 32U * 3 - 1);
  EXPECT_EQ(s["digest"].AsText(), "SHA-256");
  EXPECT_EQ(s["key"].AsText(), "EC 256 bits (P-256)");
  EXPECT_FALSE(s["signing_time"].IsNull());
  const std::time_t claimed = std::stoll(s["signing_time_unix"].AsText());
  EXPECT_LE(std::abs(claimed - std::time(nullptr)), 120) << "signed moments ago";
  EXPECT_EQ(s["signing_time"].AsText(), GeneralDate(claimed));
  const auto& chain = s["chain"].AsArray();
  ASSERT_EQ(chain.size(), 3U);
  EXPECT_EQ(chain[0]["subject"].AsText(), kSignerSubject);
  EXPECT_EQ(chain[1]["subject"].AsText(), kIssuingSubject);
  EXPECT_EQ(chain[2]["subject"].AsText(), kRootSubject);
  EXPECT_EQ(chain[0]["expires"].AsText(), GeneralDate(NotAfter(Pki().signer)));
}

TEST_F(TrustInterface, AnchorsAndCrlsTheCallerNames) {
  const std::string signature = SignDetached();
  fs::remove_all(stores_.File("Root"));
  testing::WriteFile(W("root.pem"), Pki().root.Pem());
  testing::WriteFile(W("signer.crl"), testing::MakeCrl(Pki().intermediate, {Pki().signer}));
  struct Case {
    const char* why;
    Variant anchors;
    Variant crls;
    const char* trust;
  };
  const Case cases[] = {
      {"no Root folder, nothing named", Variant::Missing(), Variant::Missing(), "untrusted"},
      {"an empty text names nothing", Variant::Text(""), Variant::Text(""), "untrusted"},
      {"the root named as a text", Variant::Text(W("root.pem")), Variant::Missing(), "trusted"},
      {"the root named in an array", Variant::Array({W("root.pem")}), Variant(), "trusted"},
      {"and a CRL listing the signer", Variant::Text(W("root.pem")),
       Variant::Array({W("signer.crl")}), "revoked"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    VerifyCall call = DetachedCall(signature);
    TrustArgs t{c.anchors, c.crls};
    ASSERT_TRUE(CallVerifyFileWithTrust(call, t)) << call.Message();
    EXPECT_EQ(OnlySigner(t.Report())["trust"].AsText(), c.trust);
  }
}

TEST_F(TrustInterface, AFailedVerificationReportsNoSigner) {
  const std::string signature = SignDetached();
  Put("doc.txt", "changed\r\n");
  VerifyCall plain = DetachedCall(signature);
  ASSERT_FALSE(CallVerifyFile(plain));
  VerifyCall with = DetachedCall(signature);
  TrustArgs t;
  ASSERT_FALSE(CallVerifyFileWithTrust(with, t));
  EXPECT_EQ(with.Message(), plain.Message());
  EXPECT_TRUE(t.Report()["signers"].AsArray().empty());
}

// A source that cannot be read stops the call before the signature is read: nothing restored.
TEST_F(TrustInterface, UnreadableAnchorEndsTheCallBeforeVerifying) {
  const std::string signature = Sign(Put("in/att.txt", "attached\r\n"), false);
  fs::remove(W("in/att.txt"));
  VerifyCall call(signature);
  call.detached = Variant::Bool(false);
  call.original = Variant::Text(signature);
  TrustArgs t{Variant::Text(W("missing.pem"))};
  EXPECT_FALSE(CallVerifyFileWithTrust(call, t));
  EXPECT_NE(call.Message().find(W("missing.pem")), std::string::npos) << call.Message();
  EXPECT_FALSE(fs::exists(W("in/att.txt"))) << "nothing restored";
  EXPECT_TRUE(t.Report()["signers"].AsArray().empty());
}

TEST_F(TrustInterface, AttachedRestoresAsVerifyFileDoes) {
  const std::string signature = Sign(Put("in/att.txt", "attached\r\n"), false);
  fs::remove(W("in/att.txt"));
  VerifyCall call(signature);
  call.detached = Variant::Bool(false);
  call.original = Variant::Text(signature);
  TrustArgs t;
  ASSERT_TRUE(CallVerifyFileWithTrust(call, t)) << call.Message();
  EXPECT_EQ(call.Original(), W("in/att.txt"));
  EXPECT_EQ(testing::ReadFile(W("in/att.txt")), "attached\r\n");
  EXPECT_EQ(OnlySigner(t.Report())["trust"].AsText(), "trusted");
}

TEST_F(TrustInterface, NseAndZipMethods) {
  const std::string signature = SignDetached();
  VerifyCall nse = DetachedCall(signature);
  TrustArgs t;
  ASSERT_TRUE(CallVerifyNSEFileWithTrust(nse, t)) << nse.Message();
  EXPECT_EQ(OnlySigner(t.Report())["subject"].AsText(), kSignerSubject);

  SignCall zip(Put("z/packed.txt", "packed\r\n"));
  zip.user = Variant::Text("user");
  zip.password = Variant::Text("secret");
  zip.detached = Variant::Bool(false);
  zip.encrypt = Variant::Bool(true);  // SignZipFile packs when asked to protect the signature
  ASSERT_TRUE(CallSignZipFile(zip)) << zip.Message();
  fs::remove(W("z/packed.txt"));
  const std::string packed = W("z/packed_ContentSignature.trel");
  ASSERT_TRUE(fs::exists(packed));
  VerifyCall unzip(packed);
  unzip.detached = Variant::Bool(false);
  unzip.original = Variant::Text(packed);
  unzip.user = Variant::Text("user");
  unzip.password = Variant::Text("secret");
  TrustArgs z;
  ASSERT_TRUE(CallVerifyZipFileWithTrust(unzip, z)) << unzip.Message();
  EXPECT_EQ(OnlySigner(z.Report())["trust"].AsText(), "trusted");
}

// Late binding: the facet's own IDispatch knows its three names; the default one does not.
TEST_F(TrustInterface, LateBoundThroughItsOwnDispatch) {
  const std::string signature = SignDetached();
  auto sign = MakeDigitalSign();
  auto trust = TrustOf(sign);
  com::Bstr method("VerifyNSEFileWithTrust"), report_name("sTrustReport");
  com::OLECHAR* names[] = {method.get(), report_name.get()};
  com::DISPID ids[2] = {0, 0};
  ASSERT_EQ(trust->GetIDsOfNames(com::IID_NULL, names, 2, 0, ids), com::S_OK);
  EXPECT_EQ(ids[0], dispid::kVerifyNSEFileWithTrust);
  EXPECT_EQ(ids[1], 6);
  com::DISPID unknown = 0;
  EXPECT_EQ(sign->GetIDsOfNames(com::IID_NULL, names, 1, 0, &unknown), com::DISP_E_UNKNOWNNAME);

  Variant fingerprint = Variant::Text(signature), binary = Variant::Bool(false);
  Variant original = Variant::Text(W("doc.txt")), message = Variant::Text("");
  Variant report = Variant::Text("");
  // Positional arguments last to first, the report named.
  std::vector<VARIANT> args = {
      Variant::RefTo(report.get()).value(), Variant::RefTo(message.get()).value(),
      Variant::RefTo(original.get()).value(), Variant::RefTo(binary.get()).value(),
      Variant::RefTo(fingerprint.get()).value()};
  com::DISPID named[] = {ids[1]};
  com::DISPPARAMS params{args.data(), named, static_cast<std::uint32_t>(args.size()), 1};
  Variant result;
  ASSERT_EQ(trust->Invoke(ids[0], com::IID_NULL, 0, com::DISPATCH_METHOD, &params, result.get(),
                          nullptr, nullptr),
            com::S_OK);
  ASSERT_EQ(result.type(), com::VT_BOOL);
  EXPECT_EQ(result.value().boolVal, com::VARIANT_TRUE) << SignCall::Text(message);
  const Value parsed = Value::Parse(SignCall::Text(report));
  EXPECT_EQ(OnlySigner(parsed)["trust"].AsText(), "trusted");
}

// ---- Signatures made by the openssl program --------------------------------------------------

class TrustInterop : public TrustInterface {
 protected:
  // A detached DER signature of work/doc.txt by a new signer under the test PKI's issuing CA,
  // made with `openssl cms -sign -md md`.
  std::string OpensslSigned(const std::string& name, testing::KeyKind key, const std::string& md) {
    auto signer = testing::MakeCert(
        {"CN=Legacy " + name, -testing::kDay, 30 * testing::kDay, false, key}, &Pki().intermediate);
    testing::WriteFile(W(name + ".pem"), signer.Pem());
    testing::WriteFile(W(name + ".key"), signer.KeyPem());
    testing::WriteFile(W("chain.pem"), Pki().intermediate.Pem());
    // A binary read of the original adds one zero byte: that is what the library checks.
    Put("doc0.bin", testing::ReadFile(W("doc.txt")) + '\0');
    const std::string out = W(name + ".sig");
    EXPECT_EQ(Openssl("cms -sign -binary -nosmimecap -md " + md + " -signer " + name +
                      ".pem -inkey " + name +
                      ".key -certfile chain.pem -in doc0.bin -outform DER "
                      "-out " +
                      name + ".sig"),
              0);
    return out;
  }
};

TEST_F(TrustInterop, LegacySignaturesVerifyAndAreWeak) {
  Put("doc.txt", "who signed this?\r\n");
  struct Case {
    const char* name;
    testing::KeyKind key;
    const char* md;
    const char* reason;
  } const cases[] = {
      {"rsa1024", testing::KeyKind::kRsa1024, "sha256", "RSA key of 1024 bits"},
      {"sha1", testing::KeyKind::kRsa2048, "sha1", "SHA-1 digest"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VerifyCall call = DetachedCall(OpensslSigned(c.name, c.key, c.md));
    call.binary = Variant::Bool(true);
    TrustArgs t;
    ASSERT_TRUE(CallVerifyFileWithTrust(call, t)) << call.Message();
    const Value report = t.Report();
    const Value& s = OnlySigner(report);
    EXPECT_EQ(s["trust"].AsText(), "weak");
    EXPECT_NE(s["reason"].AsText().find(c.reason), std::string::npos) << s["reason"].AsText();
  }
}

TEST_F(TrustInterop, BrokenSignaturesFailEveryVerifyMethod) {
  Put("doc.txt", "who signed this?\r\n");
  const std::string md5 = OpensslSigned("md5", testing::KeyKind::kRsa2048, "md5");
  const std::string tiny = OpensslSigned("rsa512", testing::KeyKind::kRsa512, "sha256");
  for (const std::string& signature : {md5, tiny}) {
    SCOPED_TRACE(signature);
    VerifyCall file = DetachedCall(signature);
    file.binary = Variant::Bool(true);
    EXPECT_FALSE(CallVerifyFile(file));
    EXPECT_EQ(file.Message(), "Signature or Certificate is not valid. ");
    VerifyCall nse = DetachedCall(signature);
    nse.binary = Variant::Bool(true);
    EXPECT_FALSE(CallVerifyNSEFile(nse));
    EXPECT_EQ(nse.Message(), "Signature or Certificate is not valid. ");
    VerifyCall with = DetachedCall(signature);
    with.binary = Variant::Bool(true);
    TrustArgs t;
    EXPECT_FALSE(CallVerifyFileWithTrust(with, t));
    EXPECT_EQ(with.Message(), "Signature or Certificate is not valid. ");
  }
}

}  // namespace
}  // namespace vellum::signing_test
