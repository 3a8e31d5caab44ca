#include "library/digital_sign/digital_sign_trust.h"

#include <ctime>

#include "library/com/frame.h"
#include "library/com/variant.h"
#include "library/crypto/signed_data.h"
#include "library/crypto/trust.h"
#include "library/digital_sign/digital_sign.h"
#include "library/digital_sign/operations.h"
#include "library/digital_sign/trust_report.h"

namespace vellum {
namespace {

using com::ArgKind;
using com::InvokeArgs;
using com::Omitted;
using com::ParamInfo;

// The parameters of the namesake in _DigitalSign (one table keeps both in step), then the
// trust sources and the report.
std::vector<ParamInfo> WithTrust(com::DISPID namesake) {
  std::vector<ParamInfo> params;
  for (const auto& method : DigitalSign::Table())
    if (method.id == namesake) params = method.params;
  params.push_back({"vTrustAnchors", ArgKind::kVariantRef, Omitted::kMissing});
  params.push_back({"vCrls", ArgKind::kVariantRef, Omitted::kMissing});
  params.push_back({"sTrustReport", ArgKind::kVariantRef, Omitted::kMissing});
  return params;
}

// A text or an array of texts; empty texts, an omitted argument or an empty variant add none.
std::vector<std::string> Paths(const VARIANT* v) {
  std::vector<std::string> out;
  if (v == nullptr || com::IsMissing(*v)) return out;
  const VARIANT value = com::Peek(*v);
  if (value.vt == com::VT_EMPTY) return out;
  if ((value.vt & com::VT_ARRAY) != 0) {
    for (auto& path : com::ReadTextArray(value))
      if (!path.empty()) out.push_back(std::move(path));
    return out;
  }
  if (std::string path = com::ToUtf8(value); !path.empty()) out.push_back(std::move(path));
  return out;
}

crypto::TrustSources Sources(const VARIANT* vTrustAnchors, const VARIANT* vCrls) {
  return {Paths(vTrustAnchors), Paths(vCrls)};
}

// The report of the signers a verification handed back. It comes after the verdict, which
// stands whatever happens here: a failure of the evaluation itself goes into the report.
std::string Report(const crypto::TrustEvaluator& evaluator,
                   const std::vector<crypto::MessageSigner>& signers) {
  try {
    const std::time_t now = std::time(nullptr);
    std::vector<crypto::SignerTrust> answers;
    for (const auto& signer : signers) answers.push_back(evaluator.Evaluate(signer, now));
    return trust_report::Json(answers);
  } catch (const Error& e) {
    return trust_report::Empty(e.description());
  }
}

void SetResult(VARIANT_BOOL* result, bool value) {
  if (result != nullptr) *result = value ? com::VARIANT_TRUE : com::VARIANT_FALSE;
}

// The frame all three share: sources read (or the call refused) before anything is verified,
// then `verify` with a list to fill, then the report.
template <class Verify>
HRESULT WithTrustFrame(com::IUnknown* self, VARIANT* VerifyErr, VARIANT* vTrustAnchors,
                       VARIANT* vCrls, VARIANT* sTrustReport, VARIANT_BOOL* result,
                       Verify&& verify) {
  SetResult(result, false);
  if (sTrustReport != nullptr) com::StoreText(sTrustReport, trust_report::Empty());
  return Frame(
      self,
      [&] {
        const crypto::TrustEvaluator evaluator(Sources(vTrustAnchors, vCrls));
        std::vector<crypto::MessageSigner> signers;
        const bool ok = verify(signers);
        SetResult(result, ok);
        if (ok && sTrustReport != nullptr) com::StoreText(sTrustReport, Report(evaluator, signers));
      },
      [&](const std::string& text) {
        if (VerifyErr != nullptr) com::StoreText(VerifyErr, text);
      });
}

}  // namespace

const com::DispatchTable<_DigitalSignTrust>& DigitalSignTrust::Table() {
  static const com::DispatchTable<_DigitalSignTrust> table = {
      {"VerifyFileWithTrust", dispid::kVerifyFileWithTrust, WithTrust(dispid::kVerifyFile),
       [](_DigitalSignTrust* s, InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->VerifyFileWithTrust(a.Ref(0), a.Ref(1), a.Ref(2), a.Ref(3), a.Ref(4), a.Ref(5),
                                         a.Ref(6), a.Ref(7), a.Ref(8), a.Ref(9), a.Ref(10),
                                         a.Ref(11), a.Ref(12), a.Ref(13), a.Ref(14), a.Ref(15), b);
         });
       }},
      {"VerifyNSEFileWithTrust", dispid::kVerifyNSEFileWithTrust, WithTrust(dispid::kVerifyNSEFile),
       [](_DigitalSignTrust* s, InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->VerifyNSEFileWithTrust(a.Ref(0), a.Ref(1), a.Ref(2), a.Ref(3), a.Ref(4),
                                            a.Ref(5), a.Ref(6), b);
         });
       }},
      {"VerifyZipFileWithTrust", dispid::kVerifyZipFileWithTrust, WithTrust(dispid::kVerifyZipFile),
       [](_DigitalSignTrust* s, InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->VerifyZipFileWithTrust(
               a.Ref(0), a.Ref(1), a.Ref(2), a.Ref(3), a.Ref(4), a.Ref(5), a.Ref(6), a.Ref(7),
               a.Ref(8), a.Ref(9), a.Ref(10), a.Ref(11), a.Ref(12), a.Ref(13), a.Ref(14), b);
         });
       }},
  };
  return table;
}

HRESULT DigitalSignTrust::VerifyFileWithTrust(
    VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
    VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName,
    VARIANT* VerifyErr, VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
    VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm,
    VARIANT* sTrim, VARIANT* vTrustAnchors, VARIANT* vCrls, VARIANT* sTrustReport,
    VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  return WithTrustFrame(owner(), VerifyErr, vTrustAnchors, vCrls, sTrustReport, result,
                        [&](std::vector<crypto::MessageSigner>& signers) {
                          MissingSlots m;
                          VerifyArgs args{m(sFingerprintFName),
                                          m(bContentAndSignatureInSeparateFiles),
                                          m(bBinaryEncoding),
                                          m(sArrVerifyingCertificateDetails),
                                          m(sOriginalFName),
                                          m(VerifyErr),
                                          m(bOpenFileAfterVerifyContentSign),
                                          m(sUseriD),
                                          m(sPassword),
                                          m(bDecryptFile),
                                          m(HashAlgorithm),
                                          m(EncryptionAlgorithm),
                                          m(sTrim),
                                          &signers};
                          return VerifyOperation(sign_, args, VerifyMode::kFile);
                        });
}

HRESULT DigitalSignTrust::VerifyNSEFileWithTrust(VARIANT* sFingerprintFName,
                                                 VARIANT* bBinaryEncoding, VARIANT* sOriginalFName,
                                                 VARIANT* VerifyErr, VARIANT* vTrustAnchors,
                                                 VARIANT* vCrls, VARIANT* sTrustReport,
                                                 VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  return WithTrustFrame(owner(), VerifyErr, vTrustAnchors, vCrls, sTrustReport, result,
                        [&](std::vector<crypto::MessageSigner>& signers) {
                          MissingSlots m;
                          return VerifyNseOperation(m(sFingerprintFName), m(bBinaryEncoding),
                                                    m(sOriginalFName), m(VerifyErr), &signers);
                        });
}

HRESULT DigitalSignTrust::VerifyZipFileWithTrust(
    VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
    VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName,
    VARIANT* VerifyErr, VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
    VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm,
    VARIANT* vTrustAnchors, VARIANT* vCrls, VARIANT* sTrustReport, VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  return WithTrustFrame(owner(), VerifyErr, vTrustAnchors, vCrls, sTrustReport, result,
                        [&](std::vector<crypto::MessageSigner>& signers) {
                          MissingSlots m;
                          VerifyArgs args{m(sFingerprintFName),
                                          m(bContentAndSignatureInSeparateFiles),
                                          m(bBinaryEncoding),
                                          m(sArrVerifyingCertificateDetails),
                                          m(sOriginalFName),
                                          m(VerifyErr),
                                          m(bOpenFileAfterVerifyContentSign),
                                          m(sUseriD),
                                          m(sPassword),
                                          m(bDecryptFile),
                                          m(HashAlgorithm),
                                          m(EncryptionAlgorithm),
                                          nullptr,
                                          &signers};
                          return VerifyOperation(sign_, args, VerifyMode::kZip);
                        });
}

}  // namespace vellum
