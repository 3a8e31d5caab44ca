// The Encryption class through its vtable and through Invoke: texts (non-ASCII, odd byte
// lengths) survive a round trip, and an omitted algorithm or message argument is accepted.
#include <gtest/gtest.h>

#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/encryption/encryption.h"

namespace vellum {
namespace {

com::ComPtr<_Encryption> MakeEncryption() {
  com::ClassFactory<Encryption> factory;
  com::ComPtr<_Encryption> object;
  EXPECT_EQ(factory.CreateInstance(nullptr, IID__Encryption, object.out()), com::S_OK);
  return object;
}

TEST(EncryptionClass, RoundTripThroughTheVtable) {
  auto enc = MakeEncryption();
  for (const std::string& plain : {std::string("Grüße, €100"), std::string("x\x01y", 3)}) {
    com::Bstr text = com::Bstr::FromBytes(Utf8ToUtf16le(plain) + "\x07");  // odd byte length
    com::Bstr password("s3cret");
    com::Bstr encrypted(""), message(""), decrypted("");
    VARIANT_BOOL ok = com::VARIANT_FALSE;
    ASSERT_EQ(enc->EncryptMessage(text.get(), password.get(), encrypted.Address(),
                                  message.Address(), 4, &ok),
              com::S_OK);
    ASSERT_EQ(ok, com::VARIANT_TRUE) << message.Utf8();
    EXPECT_NE(encrypted.Bytes(), text.Bytes());
    ASSERT_EQ(enc->DecryptMessage(password.get(), encrypted.Address(), decrypted.Address(),
                                  message.Address(), 4, &ok),
              com::S_OK);
    ASSERT_EQ(ok, com::VARIANT_TRUE) << message.Utf8();
    EXPECT_EQ(decrypted.Bytes(), text.Bytes());

    com::Bstr wrong("not it");
    com::Bstr untouched("keep");
    ASSERT_EQ(enc->DecryptMessage(wrong.get(), encrypted.Address(), untouched.Address(),
                                  message.Address(), 4, &ok),
              com::S_OK);
    EXPECT_EQ(ok, com::VARIANT_FALSE);
    EXPECT_FALSE(message.Utf8().empty());
  }
}

TEST(EncryptionClass, InvokeWithOmittedOptionalArguments) {
  auto enc = MakeEncryption();
  com::Variant plain = com::Variant::Text("hello");
  com::Variant password = com::Variant::Text("pw");
  com::Variant out = com::Variant::Text("");
  com::Variant out_ref = com::Variant::RefTo(out.get());
  VARIANT args[3] = {out_ref.value(), password.value(), plain.value()};
  com::DISPPARAMS params{args, nullptr, 3, 0};
  com::Variant result;
  ASSERT_EQ(enc->Invoke(dispid::kEncryptMessage, com::IID_NULL, 0, com::DISPATCH_METHOD, &params,
                        result.get(), nullptr, nullptr),
            com::S_OK);
  EXPECT_EQ(result.type(), com::VT_BOOL);
  EXPECT_EQ(result.value().boolVal, com::VARIANT_TRUE);
  EXPECT_FALSE(out.Utf8().empty());  // written back into the caller's variable
}

}  // namespace
}  // namespace vellum
