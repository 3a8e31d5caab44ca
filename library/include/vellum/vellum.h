// The Vellum type library: the three classes, their dual interfaces and fixed identifiers.
// Clients include this header and vellum/client.h (the helper that creates objects of the
// registered library); vellum.idl beside it describes the same interfaces for readers. Method
// order is the vtable order; do not reorder or insert.
//
// Compiled as C, this header gives interfaces_c.h instead: the same identifiers, and each
// interface as a struct of function pointers.
#pragma once

#ifndef __cplusplus
#include "vellum/interfaces_c.h"
#else

#include "vellum/types.h"

namespace vellum {

using com::BSTR;
using com::HRESULT;
using com::VARIANT;
using com::VARIANT_BOOL;

// Fixed once; registered clients bind to these. The interface names with their leading
// underscore are the type library's own, so clients see the class names.
// NOLINTBEGIN(bugprone-reserved-identifier)
inline constexpr com::GUID LIBID_Vellum = {
    0xAFEE15E7, 0xEE33, 0x4FEE, {0xAA, 0x1A, 0x0E, 0xC3, 0x4B, 0xBA, 0x99, 0xDF}};
inline constexpr com::CLSID CLSID_DigitalSign = {
    0xFFFD4692, 0x4029, 0x467A, {0x90, 0x5E, 0xB3, 0x7D, 0xC8, 0xAE, 0x3F, 0x0E}};
inline constexpr com::CLSID CLSID_Encryption = {
    0xFE138B91, 0xEEAD, 0x45FE, {0xAB, 0xFD, 0x3B, 0xB9, 0x83, 0x92, 0x21, 0xAA}};
inline constexpr com::CLSID CLSID_Zip = {
    0x53A241F8, 0xA0DF, 0x4955, {0xA4, 0xCC, 0x65, 0xED, 0x95, 0xED, 0xF2, 0xD2}};
inline constexpr com::IID IID__DigitalSign = {
    0xC31182DF, 0x2AB5, 0x4EC7, {0xB8, 0xBA, 0x0E, 0x5E, 0xE6, 0x6C, 0xB3, 0x05}};
inline constexpr com::IID IID__Encryption = {
    0xF6A98B1F, 0xD71C, 0x4465, {0xB5, 0xEC, 0xE6, 0xBF, 0x73, 0xFA, 0x2E, 0x40}};
inline constexpr com::IID IID__Zip = {
    0x5093A79B, 0x0C2F, 0x4A49, {0xBD, 0xDF, 0x7F, 0x82, 0x42, 0x9C, 0xCA, 0x40}};
// The second interface of DigitalSign: who signed, and whether that signer is trusted.
inline constexpr com::IID IID__DigitalSignTrust = {
    0x5FDB20AB, 0x0F56, 0x428B, {0x86, 0xEB, 0xCB, 0xB5, 0xEC, 0xE6, 0x95, 0x0E}};

// NOLINTEND(bugprone-reserved-identifier)

namespace dispid {
inline constexpr com::DISPID kSignFile = 0x60030000;
inline constexpr com::DISPID kSignZipFile = 0x60030001;
inline constexpr com::DISPID kStartDoc = 0x60030003;
inline constexpr com::DISPID kVerifyFile = 0x60030006;
inline constexpr com::DISPID kVerifyNSEFile = 0x60030007;
inline constexpr com::DISPID kVerifyZipFile = 0x60030008;
inline constexpr com::DISPID kEncryptMessage = 0x60030000;
inline constexpr com::DISPID kDecryptMessage = 0x60030001;
inline constexpr com::DISPID kZipFile = 0x60030000;
inline constexpr com::DISPID kUnZipFile = 0x60030001;
inline constexpr com::DISPID kVerifyFileWithTrust = 0x60040000;
inline constexpr com::DISPID kVerifyNSEFileWithTrust = 0x60040001;
inline constexpr com::DISPID kVerifyZipFileWithTrust = 0x60040002;
}  // namespace dispid

// NOLINTBEGIN(readability-identifier-naming,cppcoreguidelines-virtual-class-destructor,bugprone-reserved-identifier)
struct _DigitalSign : com::IDispatch {
  virtual HRESULT SignFile(VARIANT sInputFileName, VARIANT* bContentAndSignatureInSeparateFiles,
                           VARIANT* bBinaryEncoding, VARIANT* sStoreName,
                           VARIANT* sSignedFileExtension, VARIANT* ResultantSigningMessage,
                           VARIANT* sUseriD, VARIANT* sPassword, VARIANT* bEncryptFile,
                           VARIANT* sIssuedToPerson, VARIANT* sIssuedToMailId,
                           VARIANT* sIssuedToCompany, VARIANT* HashAlgorithm,
                           VARIANT* EncryptionAlgorithm, VARIANT* result) = 0;
  virtual HRESULT SignZipFile(VARIANT sInputFileName, VARIANT* bContentAndSignatureInSeparateFiles,
                              VARIANT* bBinaryEncoding, VARIANT* sStoreName,
                              VARIANT* sSignedFileExtension, VARIANT* ResultantSigningMessage,
                              VARIANT* sUseriD, VARIANT* sPassword, VARIANT* bEncryptFile,
                              VARIANT* sIssuedToPerson, VARIANT* sIssuedToMailId,
                              VARIANT* sIssuedToCompany, VARIANT* HashAlgorithm,
                              VARIANT* EncryptionAlgorithm, VARIANT* result) = 0;
  // sErrStartDoc may be null (omitted).
  virtual HRESULT StartDoc(BSTR* DocName, BSTR* sErrStartDoc, VARIANT_BOOL* result) = 0;
  virtual HRESULT VerifyFile(VARIANT* sFingerprintFName,
                             VARIANT* bContentAndSignatureInSeparateFiles, VARIANT* bBinaryEncoding,
                             VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName,
                             VARIANT* VerifyErr, VARIANT* bOpenFileAfterVerifyContentSign,
                             VARIANT* sUseriD, VARIANT* sPassword, VARIANT* bDecryptFile,
                             VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm, VARIANT* sTrim,
                             VARIANT_BOOL* result) = 0;
  virtual HRESULT VerifyNSEFile(VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
                                VARIANT* sOriginalFName, VARIANT* VerifyErr,
                                VARIANT_BOOL* result) = 0;
  virtual HRESULT VerifyZipFile(VARIANT* sFingerprintFName,
                                VARIANT* bContentAndSignatureInSeparateFiles,
                                VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails,
                                VARIANT* sOriginalFName, VARIANT* VerifyErr,
                                VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
                                VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm,
                                VARIANT* EncryptionAlgorithm, VARIANT_BOOL* result) = 0;
  // The two private operations sit after the public ones; they are not in the dispatch table.
  // A failure comes back as 0x800A0000 plus the run-time error number, or the component's
  // HRESULT.
  virtual HRESULT WriteWholeFile(BSTR* sFileName, BSTR* sData, VARIANT_BOOL bBinary,
                                 VARIANT_BOOL* result) = 0;
  virtual HRESULT ReadWholeFile(BSTR* sFileName, BSTR* sContent, VARIANT_BOOL bBinary,
                                VARIANT* vTrim, VARIANT_BOOL* result) = 0;
};

// Reached by QueryInterface from any interface of a DigitalSign object, early bound through
// this vtable or late bound through its own IDispatch (names and DISPIDs above). Each method
// takes the arguments of its namesake in _DigitalSign, does exactly what that method does
// (result, texts, details, restored file), and then evaluates every signer of a verification
// that succeeded against trust anchors and CRLs:
// - vTrustAnchors, vCrls: a text (one path) or an array of texts; omitted or empty for none.
//   Anchors are certificate files (PEM or DER) or folders of them, added to the user's "Root"
//   store folder and the system's certificates; CRLs are PEM or DER files, added to the *.crl
//   files of the "CA" and "Root" store folders. A path that cannot be read ends the call
//   before anything is verified: result False, VerifyErr naming the path.
// - sTrustReport receives a JSON text (RFC 8259), {"signers":[…]} with one object per signer
//   in the message's order (an empty array when the verification failed):
//     "subject", "fingerprint_sha256" ("AB:CD:…"), "signing_time" ("DD/MM/YYYY HH:MM:SS",
//     local, as claimed by the signer, or null), "signing_time_unix" (or null), "digest"
//     ("SHA-256"), "key" ("EC 256 bits (P-256)"), "trust" (one of "trusted", "untrusted",
//     "expired", "not-yet-valid", "revoked", "weak"), "reason" (one line), "anchor" (the
//     anchor's subject, or null), "chain" ([{"subject", "expires", "expires_unix"}], the
//     signer's certificate first), "timestamp" (null when the signer carries no RFC 3161
//     token, else {"time", "time_unix" (null when unreadable), "authority" (the subject of the
//     certificate that signed the token), "trust" ("trusted" or "untrusted"), "reason"}). With
//     a trusted timestamp the signer's expiry and revocation are judged at its time.
struct _DigitalSignTrust : com::IDispatch {
  virtual HRESULT VerifyFileWithTrust(
      VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
      VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName,
      VARIANT* VerifyErr, VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
      VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm,
      VARIANT* EncryptionAlgorithm, VARIANT* sTrim, VARIANT* vTrustAnchors, VARIANT* vCrls,
      VARIANT* sTrustReport, VARIANT_BOOL* result) = 0;
  virtual HRESULT VerifyNSEFileWithTrust(VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
                                         VARIANT* sOriginalFName, VARIANT* VerifyErr,
                                         VARIANT* vTrustAnchors, VARIANT* vCrls,
                                         VARIANT* sTrustReport, VARIANT_BOOL* result) = 0;
  virtual HRESULT VerifyZipFileWithTrust(
      VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
      VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName,
      VARIANT* VerifyErr, VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
      VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm,
      VARIANT* EncryptionAlgorithm, VARIANT* vTrustAnchors, VARIANT* vCrls, VARIANT* sTrustReport,
      VARIANT_BOOL* result) = 0;
};

struct _Encryption : com::IDispatch {
  // sResultMessage may be null (omitted); an omitted EncryptionAlgorithm is 0.
  virtual HRESULT EncryptMessage(BSTR sTobeEncrypted, BSTR sHidden, BSTR* sEncryptedMessage,
                                 BSTR* sResultMessage, std::int32_t EncryptionAlgorithm,
                                 VARIANT_BOOL* result) = 0;
  virtual HRESULT DecryptMessage(BSTR sHidden, BSTR* sEncryptedMessage, BSTR* sDecryptedMessage,
                                 BSTR* sResultMessage, std::int32_t EncryptionAlgorithm,
                                 VARIANT_BOOL* result) = 0;
};

struct _Zip : com::IDispatch {
  virtual HRESULT ZipFile(BSTR* sInputFileName, BSTR* outputfilename, BSTR* sPassword,
                          VARIANT_BOOL* result) = 0;
  virtual HRESULT UnZipFile(BSTR* sInputZipFileName, BSTR* OutputUnZipFileName, BSTR* sPassword,
                            VARIANT_BOOL* result) = 0;
};
// NOLINTEND(readability-identifier-naming,cppcoreguidelines-virtual-class-destructor,bugprone-reserved-identifier)

}  // namespace vellum

#endif  // __cplusplus
