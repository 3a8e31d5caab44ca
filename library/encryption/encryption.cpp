#include "library/encryption/encryption.h"

#include "library/com/bstr.h"
#include "library/com/frame.h"
#include "library/encryption/encryption_logic.h"
#include "library/platform/secret.h"

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

HRESULT Encryption::EncryptMessage(BSTR sTobeEncrypted, BSTR sHidden, BSTR* sEncryptedMessage,
                                   BSTR* sResultMessage, std::int32_t EncryptionAlgorithm,
                                   VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  if (result != nullptr) *result = com::VARIANT_FALSE;
  auto fail = [&](const std::string& text) { com::StoreBstrUtf8(sResultMessage, text); };
  return Frame(
      this,
      [&] {
        platform::SecretText password{Bytes(com::BstrBytes(sHidden))};
        Bytes encrypted(
            com::BstrBytes(sEncryptedMessage != nullptr ? *sEncryptedMessage : nullptr));
        std::string message =
            com::BstrToUtf8(sResultMessage != nullptr ? *sResultMessage : nullptr);
        const bool done =
            vellum::EncryptMessage(Bytes(com::BstrBytes(sTobeEncrypted)), password.get(), encrypted,
                                   message, EncryptionAlgorithm);
        com::StoreBstr(sEncryptedMessage, encrypted);
        com::StoreBstrUtf8(sResultMessage, message);
        if (result != nullptr) *result = done ? com::VARIANT_TRUE : com::VARIANT_FALSE;
      },
      fail);
}

HRESULT Encryption::DecryptMessage(BSTR sHidden, BSTR* sEncryptedMessage, BSTR* sDecryptedMessage,
                                   BSTR* sResultMessage, std::int32_t EncryptionAlgorithm,
                                   VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  if (result != nullptr) *result = com::VARIANT_FALSE;
  auto fail = [&](const std::string& text) { com::StoreBstrUtf8(sResultMessage, text); };
  return Frame(
      this,
      [&] {
        platform::SecretText password{Bytes(com::BstrBytes(sHidden))};
        const Bytes encrypted(
            com::BstrBytes(sEncryptedMessage != nullptr ? *sEncryptedMessage : nullptr));
        Bytes decrypted(
            com::BstrBytes(sDecryptedMessage != nullptr ? *sDecryptedMessage : nullptr));
        std::string message =
            com::BstrToUtf8(sResultMessage != nullptr ? *sResultMessage : nullptr);
        const bool done = vellum::DecryptMessage(password.get(), encrypted, decrypted, message,
                                                 EncryptionAlgorithm);
        com::StoreBstr(sDecryptedMessage, decrypted);
        com::StoreBstrUtf8(sResultMessage, message);
        if (result != nullptr) *result = done ? com::VARIANT_TRUE : com::VARIANT_FALSE;
      },
      fail);
}

}  // namespace vellum
