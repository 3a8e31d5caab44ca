/* The Vellum type library for C callers: the identifiers and the three classes' interfaces as
 * structs of function pointers, in vtable order (vellum.h gives C++ callers the same). Call a
 * method as sign->lpVtbl->SignFile(sign, ...). What each method does, and the trust report's
 * JSON, are described with the C++ declarations in vellum.h and in vellum.idl.
 *
 * Included by vellum.h when compiled as C. */
#ifndef VELLUM_INTERFACES_C_H
#define VELLUM_INTERFACES_C_H

#include "vellum/types_c.h"

/* Fixed once; registered clients bind to these. */
static const GUID LIBID_Vellum = {
    0xAFEE15E7, 0xEE33, 0x4FEE, {0xAA, 0x1A, 0x0E, 0xC3, 0x4B, 0xBA, 0x99, 0xDF}};
static const CLSID CLSID_DigitalSign = {
    0xFFFD4692, 0x4029, 0x467A, {0x90, 0x5E, 0xB3, 0x7D, 0xC8, 0xAE, 0x3F, 0x0E}};
static const CLSID CLSID_Encryption = {
    0xFE138B91, 0xEEAD, 0x45FE, {0xAB, 0xFD, 0x3B, 0xB9, 0x83, 0x92, 0x21, 0xAA}};
static const CLSID CLSID_Zip = {
    0x53A241F8, 0xA0DF, 0x4955, {0xA4, 0xCC, 0x65, 0xED, 0x95, 0xED, 0xF2, 0xD2}};
static const IID IID__DigitalSign = {
    0xC31182DF, 0x2AB5, 0x4EC7, {0xB8, 0xBA, 0x0E, 0x5E, 0xE6, 0x6C, 0xB3, 0x05}};
static const IID IID__Encryption = {
    0xF6A98B1F, 0xD71C, 0x4465, {0xB5, 0xEC, 0xE6, 0xBF, 0x73, 0xFA, 0x2E, 0x40}};
static const IID IID__Zip = {
    0x5093A79B, 0x0C2F, 0x4A49, {0xBD, 0xDF, 0x7F, 0x82, 0x42, 0x9C, 0xCA, 0x40}};
static const IID IID__DigitalSignTrust = {
    0x5FDB20AB, 0x0F56, 0x428B, {0x86, 0xEB, 0xCB, 0xB5, 0xEC, 0xE6, 0x95, 0x0E}};

/* Late binding: the members' DISPIDs, as GetIDsOfNames answers them. */
#define VELLUM_DISPID_SIGN_FILE 0x60030000
#define VELLUM_DISPID_SIGN_ZIP_FILE 0x60030001
#define VELLUM_DISPID_START_DOC 0x60030003
#define VELLUM_DISPID_VERIFY_FILE 0x60030006
#define VELLUM_DISPID_VERIFY_NSE_FILE 0x60030007
#define VELLUM_DISPID_VERIFY_ZIP_FILE 0x60030008
#define VELLUM_DISPID_ENCRYPT_MESSAGE 0x60030000
#define VELLUM_DISPID_DECRYPT_MESSAGE 0x60030001
#define VELLUM_DISPID_ZIP_FILE 0x60030000
#define VELLUM_DISPID_UNZIP_FILE 0x60030001
#define VELLUM_DISPID_VERIFY_FILE_WITH_TRUST 0x60040000
#define VELLUM_DISPID_VERIFY_NSE_FILE_WITH_TRUST 0x60040001
#define VELLUM_DISPID_VERIFY_ZIP_FILE_WITH_TRUST 0x60040002

typedef struct _DigitalSign _DigitalSign;
typedef struct _DigitalSignVtbl {
  VELLUM_IDISPATCH_SLOTS(_DigitalSign);
  HRESULT(*SignFile)
  (_DigitalSign* This, VARIANT sInputFileName, VARIANT* bContentAndSignatureInSeparateFiles,
   VARIANT* bBinaryEncoding, VARIANT* sStoreName, VARIANT* sSignedFileExtension,
   VARIANT* ResultantSigningMessage, VARIANT* sUseriD, VARIANT* sPassword, VARIANT* bEncryptFile,
   VARIANT* sIssuedToPerson, VARIANT* sIssuedToMailId, VARIANT* sIssuedToCompany,
   VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm, VARIANT* result);
  HRESULT(*SignZipFile)
  (_DigitalSign* This, VARIANT sInputFileName, VARIANT* bContentAndSignatureInSeparateFiles,
   VARIANT* bBinaryEncoding, VARIANT* sStoreName, VARIANT* sSignedFileExtension,
   VARIANT* ResultantSigningMessage, VARIANT* sUseriD, VARIANT* sPassword, VARIANT* bEncryptFile,
   VARIANT* sIssuedToPerson, VARIANT* sIssuedToMailId, VARIANT* sIssuedToCompany,
   VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm, VARIANT* result);
  /* sErrStartDoc may be NULL (omitted). */
  HRESULT (*StartDoc)(_DigitalSign* This, BSTR* DocName, BSTR* sErrStartDoc, VARIANT_BOOL* result);
  HRESULT(*VerifyFile)
  (_DigitalSign* This, VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
   VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName,
   VARIANT* VerifyErr, VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
   VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm,
   VARIANT* sTrim, VARIANT_BOOL* result);
  HRESULT(*VerifyNSEFile)
  (_DigitalSign* This, VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
   VARIANT* sOriginalFName, VARIANT* VerifyErr, VARIANT_BOOL* result);
  HRESULT(*VerifyZipFile)
  (_DigitalSign* This, VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
   VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName,
   VARIANT* VerifyErr, VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
   VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm,
   VARIANT_BOOL* result);
  HRESULT(*WriteWholeFile)
  (_DigitalSign* This, BSTR* sFileName, BSTR* sData, VARIANT_BOOL bBinary, VARIANT_BOOL* result);
  HRESULT(*ReadWholeFile)
  (_DigitalSign* This, BSTR* sFileName, BSTR* sContent, VARIANT_BOOL bBinary, VARIANT* vTrim,
   VARIANT_BOOL* result);
} _DigitalSignVtbl;
struct _DigitalSign {
  const _DigitalSignVtbl* lpVtbl;
};

typedef struct _DigitalSignTrust _DigitalSignTrust;
typedef struct _DigitalSignTrustVtbl {
  VELLUM_IDISPATCH_SLOTS(_DigitalSignTrust);
  HRESULT(*VerifyFileWithTrust)
  (_DigitalSignTrust* This, VARIANT* sFingerprintFName,
   VARIANT* bContentAndSignatureInSeparateFiles, VARIANT* bBinaryEncoding,
   VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName, VARIANT* VerifyErr,
   VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD, VARIANT* sPassword,
   VARIANT* bDecryptFile, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm, VARIANT* sTrim,
   VARIANT* vTrustAnchors, VARIANT* vCrls, VARIANT* sTrustReport, VARIANT_BOOL* result);
  HRESULT(*VerifyNSEFileWithTrust)
  (_DigitalSignTrust* This, VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
   VARIANT* sOriginalFName, VARIANT* VerifyErr, VARIANT* vTrustAnchors, VARIANT* vCrls,
   VARIANT* sTrustReport, VARIANT_BOOL* result);
  HRESULT(*VerifyZipFileWithTrust)
  (_DigitalSignTrust* This, VARIANT* sFingerprintFName,
   VARIANT* bContentAndSignatureInSeparateFiles, VARIANT* bBinaryEncoding,
   VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName, VARIANT* VerifyErr,
   VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD, VARIANT* sPassword,
   VARIANT* bDecryptFile, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm,
   VARIANT* vTrustAnchors, VARIANT* vCrls, VARIANT* sTrustReport, VARIANT_BOOL* result);
} _DigitalSignTrustVtbl;
struct _DigitalSignTrust {
  const _DigitalSignTrustVtbl* lpVtbl;
};

typedef struct _Encryption _Encryption;
typedef struct _EncryptionVtbl {
  VELLUM_IDISPATCH_SLOTS(_Encryption);
  /* sResultMessage may be NULL (omitted); an omitted EncryptionAlgorithm is 0. */
  HRESULT(*EncryptMessage)
  (_Encryption* This, BSTR sTobeEncrypted, BSTR sHidden, BSTR* sEncryptedMessage,
   BSTR* sResultMessage, int32_t EncryptionAlgorithm, VARIANT_BOOL* result);
  HRESULT(*DecryptMessage)
  (_Encryption* This, BSTR sHidden, BSTR* sEncryptedMessage, BSTR* sDecryptedMessage,
   BSTR* sResultMessage, int32_t EncryptionAlgorithm, VARIANT_BOOL* result);
} _EncryptionVtbl;
struct _Encryption {
  const _EncryptionVtbl* lpVtbl;
};

typedef struct _Zip _Zip;
typedef struct _ZipVtbl {
  VELLUM_IDISPATCH_SLOTS(_Zip);
  HRESULT(*ZipFile)
  (_Zip* This, BSTR* sInputFileName, BSTR* outputfilename, BSTR* sPassword, VARIANT_BOOL* result);
  HRESULT(*UnZipFile)
  (_Zip* This, BSTR* sInputZipFileName, BSTR* OutputUnZipFileName, BSTR* sPassword,
   VARIANT_BOOL* result);
} _ZipVtbl;
struct _Zip {
  const _ZipVtbl* lpVtbl;
};

#endif
