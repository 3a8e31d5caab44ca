#include "library/digital_sign/digital_sign.h"

#include "library/com/bstr.h"
#include "library/com/frame.h"
#include "library/com/variant.h"
#include "library/digital_sign/operations.h"
#include "library/digital_sign/whole_file.h"
#include "library/platform/shell_open.h"

namespace vellum {
namespace {

using com::ArgKind;
using com::InvokeArgs;
using com::Omitted;
using com::ParamInfo;

constexpr ParamInfo kRequiredRef(const char* name) {
  return {name, ArgKind::kVariantRef, Omitted::kRequired};
}
constexpr ParamInfo kOptionalRef(const char* name) {
  return {name, ArgKind::kVariantRef, Omitted::kMissing};
}

const std::vector<ParamInfo> kSignParams = {
    {"sInputFileName", ArgKind::kVariantValue, Omitted::kRequired},
    kRequiredRef("bContentAndSignatureInSeparateFiles"),
    kRequiredRef("bBinaryEncoding"),
    kOptionalRef("sStoreName"),
    {"sSignedFileExtension", ArgKind::kVariantRef, Omitted::kEmptyText},
    kOptionalRef("ResultantSigningMessage"),
    kOptionalRef("sUseriD"),
    kOptionalRef("sPassword"),
    kOptionalRef("bEncryptFile"),
    kOptionalRef("sIssuedToPerson"),
    kOptionalRef("sIssuedToMailId"),
    kOptionalRef("sIssuedToCompany"),
    kOptionalRef("HashAlgorithm"),
    kOptionalRef("EncryptionAlgorithm"),
};

std::vector<ParamInfo> VerifyParams(bool with_trim) {
  std::vector<ParamInfo> params = {
      kRequiredRef("sFingerprintFName"),
      kRequiredRef("bContentAndSignatureInSeparateFiles"),
      kRequiredRef("bBinaryEncoding"),
      kRequiredRef("sArrVerifyingCertificateDetails"),
      kOptionalRef("sOriginalFName"),
      kOptionalRef("VerifyErr"),
      kOptionalRef("bOpenFileAfterVerifyContentSign"),
      kOptionalRef("sUseriD"),
      kOptionalRef("sPassword"),
      kOptionalRef("bDecryptFile"),
      kOptionalRef("HashAlgorithm"),
      kOptionalRef("EncryptionAlgorithm"),
  };
  if (with_trim) params.push_back(kOptionalRef("sTrim"));
  return params;
}

void SetVariantResult(VARIANT* result, bool value) {
  if (result == nullptr) return;
  com::VariantInit(result);
  result->vt = com::VT_BOOL;
  result->boolVal = value ? com::VARIANT_TRUE : com::VARIANT_FALSE;
}

void SetBoolResult(VARIANT_BOOL* result, bool value) {
  if (result != nullptr) *result = value ? com::VARIANT_TRUE : com::VARIANT_FALSE;
}

// The reasons the desktop shell gives for its codes up to 32.
std::string StartDocReason(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Path not found";
    case 5:
      return "Access denied";
    case 8:
      return "Out of memory";
    case 11:
      return "Invalid EXE file or error in EXE image";
    case 26:
      return "A sharing violation occurred";
    case 27:
      return "Incomplete or invalid file association";
    case 28:
      return "DDE Time out";
    case 29:
      return "DDE transaction failed";
    case 30:
      return "DDE busy";
    case 31:
      return "No association for file extension";
    case 32:
      return "Verified file opening component not found. ";
    default:
      return "Unknown error";
  }
}

}  // namespace

const com::DispatchTable<_DigitalSign>& DigitalSign::Table() {
  static const com::DispatchTable<_DigitalSign> table = {
      {"SignFile", dispid::kSignFile, kSignParams,
       [](_DigitalSign* s, InvokeArgs& a, VARIANT* r) {
         return s->SignFile(a.Value(0), a.Ref(1), a.Ref(2), a.Ref(3), a.Ref(4), a.Ref(5), a.Ref(6),
                            a.Ref(7), a.Ref(8), a.Ref(9), a.Ref(10), a.Ref(11), a.Ref(12),
                            a.Ref(13), r);
       }},
      {"SignZipFile", dispid::kSignZipFile, kSignParams,
       [](_DigitalSign* s, InvokeArgs& a, VARIANT* r) {
         return s->SignZipFile(a.Value(0), a.Ref(1), a.Ref(2), a.Ref(3), a.Ref(4), a.Ref(5),
                               a.Ref(6), a.Ref(7), a.Ref(8), a.Ref(9), a.Ref(10), a.Ref(11),
                               a.Ref(12), a.Ref(13), r);
       }},
      {"StartDoc",
       dispid::kStartDoc,
       {{"DocName", ArgKind::kBstrRef, Omitted::kRequired},
        {"sErrStartDoc", ArgKind::kBstrRef, Omitted::kEmptyText}},
       [](_DigitalSign* s, InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(
             r, [&](VARIANT_BOOL* b) { return s->StartDoc(a.BstrRef(0), a.BstrRef(1), b); });
       }},
      {"VerifyFile", dispid::kVerifyFile, VerifyParams(true),
       [](_DigitalSign* s, InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->VerifyFile(a.Ref(0), a.Ref(1), a.Ref(2), a.Ref(3), a.Ref(4), a.Ref(5),
                                a.Ref(6), a.Ref(7), a.Ref(8), a.Ref(9), a.Ref(10), a.Ref(11),
                                a.Ref(12), b);
         });
       }},
      {"VerifyNSEFile",
       dispid::kVerifyNSEFile,
       {kRequiredRef("sFingerprintFName"), kRequiredRef("bBinaryEncoding"),
        kOptionalRef("sOriginalFName"), kOptionalRef("VerifyErr")},
       [](_DigitalSign* s, InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->VerifyNSEFile(a.Ref(0), a.Ref(1), a.Ref(2), a.Ref(3), b);
         });
       }},
      {"VerifyZipFile", dispid::kVerifyZipFile, VerifyParams(false),
       [](_DigitalSign* s, InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->VerifyZipFile(a.Ref(0), a.Ref(1), a.Ref(2), a.Ref(3), a.Ref(4), a.Ref(5),
                                   a.Ref(6), a.Ref(7), a.Ref(8), a.Ref(9), a.Ref(10), a.Ref(11), b);
         });
       }},
  };
  return table;
}

namespace {

// The body SignFile and SignZipFile share. An omitted extension reads as the empty text.
HRESULT Sign(com::IUnknown* self, SignMode mode, SignArgs args, VARIANT* result) {
  SetVariantResult(result, false);
  VARIANT* const message = args.ResultantSigningMessage;
  return Frame(
      self,
      [&] {
        MissingSlots m;
        for (VARIANT** arg :
             {&args.bContentAndSignatureInSeparateFiles, &args.bBinaryEncoding, &args.sStoreName,
              &args.ResultantSigningMessage, &args.sUseriD, &args.sPassword, &args.bEncryptFile,
              &args.sIssuedToPerson, &args.sIssuedToMailId, &args.sIssuedToCompany,
              &args.HashAlgorithm, &args.EncryptionAlgorithm})
          *arg = m(*arg);
        com::Variant empty_suffix = com::Variant::Text("");
        if (args.sSignedFileExtension == nullptr) args.sSignedFileExtension = empty_suffix.get();
        SetVariantResult(result, SignOperation(args, mode));
      },
      [message](const std::string& text) { com::StoreText(message, text); });
}

// The body VerifyFile, VerifyZipFile and VerifyNSEFile share; each mode reads only its own
// arguments.
HRESULT Verify(_DigitalSign* self, VerifyMode mode, VerifyArgs args, VARIANT_BOOL* result) {
  SetBoolResult(result, false);
  VARIANT* const message = args.VerifyErr;
  return Frame(
      self,
      [&] {
        MissingSlots m;
        for (VARIANT** arg :
             {&args.sFingerprintFName, &args.bContentAndSignatureInSeparateFiles,
              &args.bBinaryEncoding, &args.sArrVerifyingCertificateDetails, &args.sOriginalFName,
              &args.VerifyErr, &args.bOpenFileAfterVerifyContentSign, &args.sUseriD,
              &args.sPassword, &args.bDecryptFile, &args.HashAlgorithm, &args.EncryptionAlgorithm,
              &args.sTrim})
          *arg = m(*arg);
        SetBoolResult(result, VerifyOperation(self, args, mode));
      },
      [message](const std::string& text) { com::StoreText(message, text); });
}

}  // namespace

HRESULT DigitalSign::SignFile(VARIANT sInputFileName, VARIANT* bContentAndSignatureInSeparateFiles,
                              VARIANT* bBinaryEncoding, VARIANT* sStoreName,
                              VARIANT* sSignedFileExtension, VARIANT* ResultantSigningMessage,
                              VARIANT* sUseriD, VARIANT* sPassword, VARIANT* bEncryptFile,
                              VARIANT* sIssuedToPerson, VARIANT* sIssuedToMailId,
                              VARIANT* sIssuedToCompany, VARIANT* HashAlgorithm,
                              VARIANT* EncryptionAlgorithm, VARIANT* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  return Sign(
      this, SignMode::kFile,
      {sInputFileName, bContentAndSignatureInSeparateFiles, bBinaryEncoding, sStoreName,
       sSignedFileExtension, ResultantSigningMessage, sUseriD, sPassword, bEncryptFile,
       sIssuedToPerson, sIssuedToMailId, sIssuedToCompany, HashAlgorithm, EncryptionAlgorithm},
      result);
}

HRESULT DigitalSign::SignZipFile(VARIANT sInputFileName,
                                 VARIANT* bContentAndSignatureInSeparateFiles,
                                 VARIANT* bBinaryEncoding, VARIANT* sStoreName,
                                 VARIANT* sSignedFileExtension, VARIANT* ResultantSigningMessage,
                                 VARIANT* sUseriD, VARIANT* sPassword, VARIANT* bEncryptFile,
                                 VARIANT* sIssuedToPerson, VARIANT* sIssuedToMailId,
                                 VARIANT* sIssuedToCompany, VARIANT* HashAlgorithm,
                                 VARIANT* EncryptionAlgorithm, VARIANT* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  return Sign(
      this, SignMode::kZip,
      {sInputFileName, bContentAndSignatureInSeparateFiles, bBinaryEncoding, sStoreName,
       sSignedFileExtension, ResultantSigningMessage, sUseriD, sPassword, bEncryptFile,
       sIssuedToPerson, sIssuedToMailId, sIssuedToCompany, HashAlgorithm, EncryptionAlgorithm},
      result);
}

HRESULT DigitalSign::StartDoc(BSTR* DocName, BSTR* sErrStartDoc, VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  SetBoolResult(result, false);
  auto report = [&](const std::string& text) { com::StoreBstrUtf8(sErrStartDoc, text); };
  return Frame(
      this,
      [&] {
        // Paths are handed over in the file system's own encoding (UTF-8), not converted to
        // the ANSI code page: a name outside that page would otherwise open another file.
        const std::string name = com::BstrToUtf8(DocName != nullptr ? *DocName : nullptr);
        const int code = platform::ShellOpen(name);
        if (code <= 32) {
          report(StartDocReason(code));
          return;
        }
        report(" Opened file: " + name);
        SetBoolResult(result, true);
      },
      report);
}

HRESULT DigitalSign::VerifyFile(VARIANT* sFingerprintFName,
                                VARIANT* bContentAndSignatureInSeparateFiles,
                                VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails,
                                VARIANT* sOriginalFName, VARIANT* VerifyErr,
                                VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
                                VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm,
                                VARIANT* EncryptionAlgorithm, VARIANT* sTrim,
                                VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  return Verify(
      this, VerifyMode::kFile,
      {sFingerprintFName, bContentAndSignatureInSeparateFiles, bBinaryEncoding,
       sArrVerifyingCertificateDetails, sOriginalFName, VerifyErr, bOpenFileAfterVerifyContentSign,
       sUseriD, sPassword, bDecryptFile, HashAlgorithm, EncryptionAlgorithm, sTrim},
      result);
}

HRESULT DigitalSign::VerifyNSEFile(VARIANT* sFingerprintFName, VARIANT* bBinaryEncoding,
                                   VARIANT* sOriginalFName, VARIANT* VerifyErr,
                                   VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  return Verify(this, VerifyMode::kNse,
                {sFingerprintFName, nullptr, bBinaryEncoding, nullptr, sOriginalFName, VerifyErr,
                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
                result);
}

HRESULT DigitalSign::VerifyZipFile(
    VARIANT* sFingerprintFName, VARIANT* bContentAndSignatureInSeparateFiles,
    VARIANT* bBinaryEncoding, VARIANT* sArrVerifyingCertificateDetails, VARIANT* sOriginalFName,
    VARIANT* VerifyErr, VARIANT* bOpenFileAfterVerifyContentSign, VARIANT* sUseriD,
    VARIANT* sPassword, VARIANT* bDecryptFile, VARIANT* HashAlgorithm, VARIANT* EncryptionAlgorithm,
    VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  return Verify(
      this, VerifyMode::kZip,
      {sFingerprintFName, bContentAndSignatureInSeparateFiles, bBinaryEncoding,
       sArrVerifyingCertificateDetails, sOriginalFName, VerifyErr, bOpenFileAfterVerifyContentSign,
       sUseriD, sPassword, bDecryptFile, HashAlgorithm, EncryptionAlgorithm, nullptr},
      result);
}

HRESULT DigitalSign::WriteWholeFile(BSTR* sFileName, BSTR* sData, VARIANT_BOOL bBinary,
                                    VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  SetBoolResult(result, false);
  try {
    vellum::WriteWholeFile(com::BstrToUtf8(sFileName != nullptr ? *sFileName : nullptr),
                           Bytes(com::BstrBytes(sData != nullptr ? *sData : nullptr)),
                           bBinary != 0);
    SetBoolResult(result, true);
    return com::S_OK;
  } catch (const Error& e) {
    return HresultOf(e);
  } catch (...) {
    return com::E_OUTOFMEMORY;
  }
}

HRESULT DigitalSign::ReadWholeFile(BSTR* sFileName, BSTR* sContent, VARIANT_BOOL bBinary,
                                   VARIANT* vTrim, VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  SetBoolResult(result, false);
  try {
    const bool trim = vTrim != nullptr && com::EqualsText(*vTrim, "Y");
    Bytes content = vellum::ReadWholeFile(
        com::BstrToUtf8(sFileName != nullptr ? *sFileName : nullptr), bBinary != 0, trim);
    com::StoreBstr(sContent, content);
    SetBoolResult(result, true);
    return com::S_OK;
  } catch (const Error& e) {
    return HresultOf(e);
  } catch (...) {
    return com::E_OUTOFMEMORY;
  }
}

}  // namespace vellum
