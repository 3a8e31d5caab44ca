// The methods called by name through IDispatch, as a late-bound client does: arguments in
// reverse order, by-reference variants pointing at the caller's own variables, trailing
// optional arguments left out, and named arguments. The texts land in the caller's variables.
#include <filesystem>

#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

using com::Variant;

class SigningByName : public SigningTest {
 protected:
  // Looks up `method` and calls it with `positional` (in the declared order) and the named
  // arguments `named` (parameter name and value); returns the call's result.
  Variant Call(const std::string& method, std::vector<VARIANT> positional,
               const std::vector<std::pair<std::string, VARIANT>>& named = {}) {
    auto sign = MakeDigitalSign();
    std::vector<com::Bstr> names;
    names.emplace_back(method);
    for (const auto& n : named) names.emplace_back(n.first);
    std::vector<com::OLECHAR*> raw;
    for (auto& n : names) raw.push_back(n.get());
    std::vector<com::DISPID> ids(raw.size(), 0);
    EXPECT_EQ(sign->GetIDsOfNames(com::IID_NULL, raw.data(), static_cast<std::uint32_t>(raw.size()),
                                  0, ids.data()),
              com::S_OK);
    // Named arguments first, then the positional ones last to first.
    std::vector<VARIANT> args;
    for (const auto& n : named) args.push_back(n.second);
    for (auto it = positional.rbegin(); it != positional.rend(); ++it) args.push_back(*it);
    com::DISPPARAMS params{args.data(), named.empty() ? nullptr : ids.data() + 1,
                           static_cast<std::uint32_t>(args.size()),
                           static_cast<std::uint32_t>(named.size())};
    Variant result;
    EXPECT_EQ(sign->Invoke(ids[0], com::IID_NULL, 0, com::DISPATCH_METHOD, &params, result.get(),
                           nullptr, nullptr),
              com::S_OK);
    return result;
  }

  static bool IsTrue(const Variant& v) {
    return v.type() == com::VT_BOOL && v.value().boolVal == com::VARIANT_TRUE;
  }
  static bool IsFalse(const Variant& v) {
    return v.type() == com::VT_BOOL && v.value().boolVal == com::VARIANT_FALSE;
  }
};

TEST_F(SigningByName, SignAndVerifyAttachedWriteBackIntoTheCallersVariables) {
  const std::string input = Put("in/a.txt", "by name\r\n");
  Variant name = Variant::Text(input);
  Variant detached = Variant::Bool(false), binary = Variant::Bool(false);
  Variant store = Variant::Text(""), suffix = Variant::Text(""), message = Variant::Text("");
  Variant user = Variant::Text(""), password = Variant::Text(""), encrypt = Variant::Bool(false);
  Variant person = Variant::Text(""), mail = Variant::Text(""), company = Variant::Text("");
  // HashAlgorithm and EncryptionAlgorithm are left out: without credentials they are not read.
  const Variant signed_ok =
      Call("SignFile", {name.value(), Variant::RefTo(detached.get()).value(),
                        Variant::RefTo(binary.get()).value(), Variant::RefTo(store.get()).value(),
                        Variant::RefTo(suffix.get()).value(), Variant::RefTo(message.get()).value(),
                        Variant::RefTo(user.get()).value(), Variant::RefTo(password.get()).value(),
                        Variant::RefTo(encrypt.get()).value(), Variant::RefTo(person.get()).value(),
                        Variant::RefTo(mail.get()).value(), Variant::RefTo(company.get()).value()});
  EXPECT_TRUE(IsTrue(signed_ok));
  const std::string signature = W("in/a_ContentSignature.txt");
  EXPECT_EQ(SignCall::Text(message), SignedText(signature));
  EXPECT_EQ(SignCall::Text(suffix), "_ContentSignature.txt");

  Variant fingerprint = Variant::Text(signature);
  Variant details, original = Variant::Text("x"), verify_err = Variant::Text("");
  Variant open = Variant::Bool(false);
  // bDecryptFile, the algorithms and sTrim are left out.
  const Variant verified = Call(
      "VerifyFile", {Variant::RefTo(fingerprint.get()).value(),
                     Variant::RefTo(detached.get()).value(), Variant::RefTo(binary.get()).value(),
                     Variant::RefTo(details.get()).value(), Variant::RefTo(original.get()).value(),
                     Variant::RefTo(verify_err.get()).value(), Variant::RefTo(open.get()).value(),
                     Variant::RefTo(user.get()).value(), Variant::RefTo(password.get()).value()});
  EXPECT_TRUE(IsTrue(verified));
  EXPECT_EQ(SignCall::Text(original), W("in/a.txt"));
  EXPECT_EQ(SignCall::Text(verify_err),
            "File: " + signature + kCrLf + "is Verified. " + kCrLf + "Certificate Valit till '" +
                LongDate(NotAfter(Pki().signer)) + "'" + kCrLf +
                " And Original content written to file: " + W("in/a.txt"));
  EXPECT_EQ(com::ReadTextArray(details.value()),
            std::vector<std::string>{ChainDetails(Pki().signer)});
  EXPECT_EQ(testing::ReadFile(W("in/a.txt")), "by name\r\n");
}

TEST_F(SigningByName, NamedArgumentsAndFailureTexts) {
  const std::string input = Put("a.bin", "bytes");
  ASSERT_FALSE(Sign(input, true, true).empty());
  Variant fingerprint = Variant::Text(W("a_DSignature.txt"));
  Variant binary = Variant::Bool(true);
  Variant original = Variant::Text("  " + input);
  Variant verify_err = Variant::Text("");
  const Variant ok =
      Call("VerifyNSEFile",
           {Variant::RefTo(fingerprint.get()).value(), Variant::RefTo(binary.get()).value()},
           {{"VerifyErr", Variant::RefTo(verify_err.get()).value()},
            {"sOriginalFName", Variant::RefTo(original.get()).value()}});
  EXPECT_TRUE(IsTrue(ok));
  EXPECT_EQ(SignCall::Text(verify_err), "File: " + input + kCrLf + "is Verified. ");
  EXPECT_EQ(SignCall::Text(original), input) << "written back trimmed";

  // A failure is a False result with the text, never a failed call.
  Variant missing = Variant::Text(W("missing.txt"));
  Variant message = Variant::Text("");
  Variant detached = Variant::Bool(true), text = Variant::Bool(false);
  const Variant failed =
      Call("SignFile", {missing.value(), Variant::RefTo(detached.get()).value(),
                        Variant::RefTo(text.get()).value(), Variant::Text("").value(),
                        Variant::Text("").value(), Variant::RefTo(message.get()).value()});
  EXPECT_TRUE(IsFalse(failed));
  // With sUseriD left out the comparison with the empty text is the first step that fails.
  EXPECT_EQ(SignCall::Text(message), "Last Success: .Type mismatch");
  EXPECT_EQ(List(), (std::vector<std::string>{"a.bin", "a_DSignature.txt"}));
}

// The packed road by name: EncryptionAlgorithm is left out on both sides.
TEST_F(SigningByName, PackedRoadByName) {
  const std::string input = Put("in/a.txt", "packed by name");
  Variant name = Variant::Text(input);
  Variant detached = Variant::Bool(false), binary = Variant::Bool(true);
  Variant store = Variant::Text(""), suffix = Variant::Text(""), message = Variant::Text("");
  Variant user = Variant::Text("ann"), password = Variant::Text("pw"),
          encrypt = Variant::Bool(true);
  Variant none = Variant::Text(""), code = Variant::Short(4);
  const Variant packed = Call(
      "SignZipFile",
      {name.value(), Variant::RefTo(detached.get()).value(), Variant::RefTo(binary.get()).value(),
       Variant::RefTo(store.get()).value(), Variant::RefTo(suffix.get()).value(),
       Variant::RefTo(message.get()).value(), Variant::RefTo(user.get()).value(),
       Variant::RefTo(password.get()).value(), Variant::RefTo(encrypt.get()).value(),
       Variant::RefTo(none.get()).value(), Variant::RefTo(none.get()).value(),
       Variant::RefTo(none.get()).value(), Variant::RefTo(code.get()).value()});
  EXPECT_TRUE(IsTrue(packed)) << SignCall::Text(message);
  EXPECT_EQ(SignCall::Text(message), SignedText(W("in/a_ContentSignature.txt")));
  ASSERT_TRUE(std::filesystem::exists(W("in/a_ContentSignature.trel")));
  std::filesystem::remove(input);

  Variant archive = Variant::Text(W("in/a_ContentSignature.trel"));
  Variant details, original = Variant::Text("x"), verify_err = Variant::Text("");
  Variant open = Variant::Bool(false), decrypt = Variant::Bool(true);
  const Variant verified =
      Call("VerifyZipFile",
           {Variant::RefTo(archive.get()).value(), Variant::RefTo(detached.get()).value(),
            Variant::RefTo(binary.get()).value(), Variant::RefTo(details.get()).value(),
            Variant::RefTo(original.get()).value(), Variant::RefTo(verify_err.get()).value(),
            Variant::RefTo(open.get()).value(), Variant::RefTo(user.get()).value(),
            Variant::RefTo(password.get()).value(), Variant::RefTo(decrypt.get()).value(),
            Variant::RefTo(code.get()).value()});
  EXPECT_TRUE(IsTrue(verified)) << SignCall::Text(verify_err);
  EXPECT_EQ(SignCall::Text(original), input);
  EXPECT_EQ(testing::ReadFile(input), "packed by name");
  EXPECT_EQ(com::ReadTextArray(details.value()),
            std::vector<std::string>{ChainDetails(Pki().signer)});
}

}  // namespace
}  // namespace vellum::signing_test
