#include "library/Encryption.h"

#include "library/com/bstr.h"
#include "library/frame.h"

namespace vellum {
namespace {
using com::ArgKind;
using com::Omitted;
}  // namespace

const com::DispatchTable<_Encryption>& Encryption::Table() {
  static const com::DispatchTable<_Encryption> table = {
      {"EncryptMessage",
       dispid::kEncryptMessage,
       {{"sTobeEncrypted", ArgKind::kBstrValue, Omitted::kRequired},
        {"sHidden", ArgKind::kBstrValue, Omitted::kRequired},
        {"sEncryptedMessage", ArgKind::kBstrRef, Omitted::kRequired},
        {"sResultMessage", ArgKind::kBstrRef, Omitted::kEmptyText},
        {"EncryptionAlgorithm", ArgKind::kLong, Omitted::kZero}},
       [](_Encryption* s, com::InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->EncryptMessage(a.BstrValue(0), a.BstrValue(1), a.BstrRef(2), a.BstrRef(3),
                                    a.Long(4), b);
         });
       }},
      {"DecryptMessage",
       dispid::kDecryptMessage,
       {{"sHidden", ArgKind::kBstrValue, Omitted::kRequired},
        {"sEncryptedMessage", ArgKind::kBstrRef, Omitted::kRequired},
        {"sDecryptedMessage", ArgKind::kBstrRef, Omitted::kRequired},
        {"sResultMessage", ArgKind::kBstrRef, Omitted::kEmptyText},
        {"EncryptionAlgorithm", ArgKind::kLong, Omitted::kZero}},
       [](_Encryption* s, com::InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->DecryptMessage(a.BstrValue(0), a.BstrRef(1), a.BstrRef(2), a.BstrRef(3),
                                    a.Long(4), b);
         });
       }},
  };
  return table;
}

HRESULT Encryption::EncryptMessage(BSTR, BSTR, BSTR*, BSTR* sResultMessage, std::int32_t,
                                   VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  if (result != nullptr) *result = com::VARIANT_FALSE;
  auto fail = [&](const std::string& text) { com::StoreBstrUtf8(sResultMessage, text); };
  return Frame(
      this, [&] { fail("EncryptMessage is not built yet."); }, fail);
}

HRESULT Encryption::DecryptMessage(BSTR, BSTR*, BSTR*, BSTR* sResultMessage, std::int32_t,
                                   VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  if (result != nullptr) *result = com::VARIANT_FALSE;
  auto fail = [&](const std::string& text) { com::StoreBstrUtf8(sResultMessage, text); };
  return Frame(
      this, [&] { fail("DecryptMessage is not built yet."); }, fail);
}

}  // namespace vellum
