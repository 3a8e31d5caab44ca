// Encryption: encrypts and decrypts a text under a password. Objects keep no state.
#pragma once

#include "library/com/object.h"
#include "vellum/vellum.h"

namespace vellum {

class Encryption final : public com::ComObject<Encryption, _Encryption> {
 public:
  static const com::IID& Iid() { return IID__Encryption; }
  static const com::DispatchTable<_Encryption>& Table();

  HRESULT EncryptMessage(BSTR sTobeEncrypted, BSTR sHidden, BSTR* sEncryptedMessage,
                         BSTR* sResultMessage, std::int32_t EncryptionAlgorithm,
                         VARIANT_BOOL* result) override;
  HRESULT DecryptMessage(BSTR sHidden, BSTR* sEncryptedMessage, BSTR* sDecryptedMessage,
                         BSTR* sResultMessage, std::int32_t EncryptionAlgorithm,
                         VARIANT_BOOL* result) override;
};

}  // namespace vellum
