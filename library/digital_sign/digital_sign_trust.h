// DigitalSign's second interface, _DigitalSignTrust: the verify methods again, each followed
// by the trust evaluation of the signers it verified (see vellum.h for the contract).
#pragma once

#include "library/com/object.h"
#include "vellum/vellum.h"

namespace vellum {

class DigitalSignTrust final : public com::Facet<DigitalSignTrust, _DigitalSignTrust> {
 public:
  // `owner` is the DigitalSign object that holds this facet; it opens verified files through
  // the owner's StartDoc, as the owner's own verify methods do.
  explicit DigitalSignTrust(_DigitalSign* owner) : Facet(owner), sign_(owner) {}
  ~DigitalSignTrust() = default;

  static const com::DispatchTable<_DigitalSignTrust>& Table();

  HRESULT VerifyFileWithTrust(VARIANT* sFingerprintFName,
                              VARIANT* bContentAndSignatureInSeparateFiles,
                              VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails,
                              VARIANT* sOriginalFName, VARIANT* VerifyErr,
                              VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
                              VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm,
                              VARIANT* EncryptionAlgorithm, VARIANT* sTrim, VARIANT* vTrustAnchors,
                              VARIANT* vCrls, VARIANT* sTrustReport, VARIANT_BOOL* result) override;
  HRESULT VerifyNSEFileWithTrust(VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
                                 VARIANT* sOriginalFName, VARIANT* VerifyErr,
                                 VARIANT* vTrustAnchors, VARIANT* vCrls, VARIANT* sTrustReport,
                                 VARIANT_BOOL* result) override;
  HRESULT VerifyZipFileWithTrust(VARIANT* sFingerprintFName,
                                 VARIANT* bContentAndSignatureInSeparateFiles,
                                 VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails,
                                 VARIANT* sOriginalFName, VARIANT* VerifyErr,
                                 VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
                                 VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm,
                                 VARIANT* EncryptionAlgorithm, VARIANT* vTrustAnchors,
                                 VARIANT* vCrls, VARIANT* sTrustReport,
                                 VARIANT_BOOL* result) override;

 private:
  _DigitalSign* sign_;
};

}  // namespace vellum
