// DigitalSign: signs files, verifies signed files and opens documents. Objects keep no state
// between calls; every call creates what it needs and releases it before it returns.
#pragma once

#include "library/com/object.h"
#include "library/digital_sign/digital_sign_trust.h"
#include "vellum/vellum.h"

namespace vellum {

class DigitalSign final : public com::ComObject<DigitalSign, _DigitalSign> {
 public:
  static const com::IID& Iid() { return IID__DigitalSign; }
  static const com::DispatchTable<_DigitalSign>& Table();
  // The second interface, _DigitalSignTrust.
  void* OtherInterface(const com::IID& riid) {
    return riid == IID__DigitalSignTrust ? static_cast<_DigitalSignTrust*>(&trust_) : nullptr;
  }

  HRESULT SignFile(VARIANT sInputFileName, VARIANT* bContentAndSignatureInSeparateFiles,
                   VARIANT* bBinaryEncoding, VARIANT* sStoreName, VARIANT* sSignedFileExtension,
                   VARIANT* ResultantSigningMessage, VARIANT* sUseriD, VARIANT* sPassword,
                   VARIANT* bEncryptFile, VARIANT* sIssuedToPerson, VARIANT* sIssuedToMailId,
                   VARIANT* sIssuedToCompany, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm,
                   VARIANT* result) override;
  HRESULT SignZipFile(VARIANT sInputFileName, VARIANT* bContentAndSignatureInSeparateFiles,
                      VARIANT* bBinaryEncoding, VARIANT* sStoreName, VARIANT* sSignedFileExtension,
                      VARIANT* ResultantSigningMessage, VARIANT* sUseriD, VARIANT* sPassword,
                      VARIANT* bEncryptFile, VARIANT* sIssuedToPerson, VARIANT* sIssuedToMailId,
                      VARIANT* sIssuedToCompany, VARIANT* HashAlgorithm,
                      VARIANT* EncryptionAlgorithm, VARIANT* result) override;
  HRESULT StartDoc(BSTR* DocName, BSTR* sErrStartDoc, VARIANT_BOOL* result) override;
  HRESULT VerifyFile(VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
                     VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails,
                     VARIANT* sOriginalFName, VARIANT* VerifyErr,
                     VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD, VARIANT* sPassword,
                     VARIANT* bDecryptFile, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm,
                     VARIANT* sTrim, VARIANT_BOOL* result) override;
  HRESULT VerifyNSEFile(VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
                        VARIANT* sOriginalFName, VARIANT* VerifyErr, VARIANT_BOOL* result) override;
  HRESULT VerifyZipFile(VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
                        VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails,
                        VARIANT* sOriginalFName, VARIANT* VerifyErr,
                        VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
                        VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm,
                        VARIANT* EncryptionAlgorithm, VARIANT_BOOL* result) override;
  HRESULT WriteWholeFile(BSTR* sFileName, BSTR* sData, VARIANT_BOOL bBinary,
                         VARIANT_BOOL* result) override;
  HRESULT ReadWholeFile(BSTR* sFileName, BSTR* sContent, VARIANT_BOOL bBinary, VARIANT* vTrim,
                        VARIANT_BOOL* result) override;

 private:
  DigitalSignTrust trust_{this};
};

}  // namespace vellum
