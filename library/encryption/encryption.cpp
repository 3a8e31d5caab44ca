#include "library/encryption/encryption.h"

#include <new>
#include <string_view>

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

namespace {

// The new result text of a call, made by the method in place (see ResultBuffer) and handed to
// the caller's variable only when the method succeeded. A decrypted text is wiped if it is
// dropped.
class PendingText {
 public:
  ResultBuffer Buffer() {
    return [this](std::size_t bytes) {
      text_.get() =
          com::Bstr::Attach(com::SysAllocStringByteLen(nullptr, static_cast<std::uint32_t>(bytes)));
      if (text_->get() == nullptr) throw std::bad_alloc();
      return reinterpret_cast<char*>(text_->get());
    };
  }
  // Replaces what `slot` holds with the new text, if one was made.
  void StoreIn(BSTR* slot) {
    if (slot == nullptr || text_->get() == nullptr) return;
    com::SysFreeString(*slot);
    *slot = text_->Detach();
  }

 private:
  platform::Secret<com::Bstr> text_;
};

std::string_view TextIn(const BSTR* slot) {
  return com::BstrBytes(slot != nullptr ? *slot : nullptr);
}

}  // namespace

// The texts are handed to the logic where they lie (the caller's BSTRs) and the result made
// in a BSTR of its final size: a large text is never copied on its way through.
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
        std::string message =
            com::BstrToUtf8(sResultMessage != nullptr ? *sResultMessage : nullptr);
        PendingText encrypted;
        const bool done =
            vellum::EncryptMessageInto(com::BstrBytes(sTobeEncrypted), password.get(),
                                       encrypted.Buffer(), message, EncryptionAlgorithm);
        if (done) encrypted.StoreIn(sEncryptedMessage);
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
        std::string message =
            com::BstrToUtf8(sResultMessage != nullptr ? *sResultMessage : nullptr);
        // Both variables may be one: the text is read whole before the result replaces it.
        PendingText decrypted;
        const bool done =
            vellum::DecryptMessageInto(password.get(), TextIn(sEncryptedMessage),
                                       decrypted.Buffer(), message, EncryptionAlgorithm);
        if (done) decrypted.StoreIn(sDecryptedMessage);
        com::StoreBstrUtf8(sResultMessage, message);
        if (result != nullptr) *result = done ? com::VARIANT_TRUE : com::VARIANT_FALSE;
      },
      fail);
}

}  // namespace vellum
