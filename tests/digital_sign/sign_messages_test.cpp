// SignFile's outcomes, one group per table: what it writes and says when it succeeds, the
// refusals that bypass its trap, and the trap's texts by stage and by the sign of the error.
// Every failure also shows that no signature file was written and the input was left alone.
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;
using testing::CertOptions;
using testing::kDay;
using testing::MakeCert;
using testing::PutInStore;
using testing::StoreFormat;

const std::string kFileAccess =
    "File specified to sign can't accessed or any other file access problem occured" + kCrLf +
    "Desc.";
const std::string kNoCertificate = " No signing certificate / store can be found. ";
const std::string kCancelled =
    " Signing process cancelled because, Certificate selection dialog was canceled. ";

class SigningMessages : public SigningTest {
 protected:
  // A second signer with a key, certified by the same issuing CA.
  static const testing::TestCert& Bob() {
    static const testing::TestCert bob =
        MakeCert({"CN=Bob Mail, O=Other Org, C=FR, E=bob@example.com"}, &Pki().intermediate);
    return bob;
  }
  static constexpr const char* kBobSubject = "CN=Bob Mail, O=Other Org, C=FR, E=bob@example.com";
};

// ---- Which certificate signs -----------------------------------------------------------------

// Stores and filters that leave no usable certificate: the call stops before reading the file.
TEST_F(SigningMessages, NoUsableCertificateStopsWithTheStoreText) {
  PutInStore("NoKey", Pki().signer, StoreFormat::kPemNoKey);
  PutInStore("Expired", MakeCert({"CN=Old Signer, C=GB", -30 * kDay, -2 * kDay}));
  PutInStore("Future", MakeCert({"CN=Early Signer, C=GB", 2 * kDay, 30 * kDay}));
  PutInStore("Mail", Bob());
  struct Case {
    const char* why;
    std::string store, person, mail, company;
  } const cases[] = {
      {"a store folder that does not exist opens empty", "Nothing", "", "", ""},
      {"certificates without a private key", "NoKey", "", "", ""},
      {"a certificate that has run out", "Expired", "", "", ""},
      {"a certificate not valid yet", "Future", "", "", ""},
      {"no subject holds the person", "", "Nobody", "", ""},
      {"no subject holds the mail address", "", "", "ann@example.com", ""},
      {"no subject holds the company", "", "", "", "Other Org"},
      {"the filters are combined", "Mail", "Bob", "", "Example Ltd"},
  };
  const std::string input = Put("a.txt", "content");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    SignCall sign(input);
    sign.store = com::Variant::Text(c.store);
    sign.person = com::Variant::Text(c.person);
    sign.mail = com::Variant::Text(c.mail);
    sign.company = com::Variant::Text(c.company);
    EXPECT_FALSE(CallSignFile(sign));
    EXPECT_EQ(sign.Message(), kNoCertificate);
    EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(chooser_.calls, 0);
  }
}

// Filters narrow by substring of the subject, case-insensitively; an empty filter is no filter.
TEST_F(SigningMessages, FiltersPickTheOneMatchingCertificate) {
  PutInStore("Two", Pki().signer);
  PutInStore("Two", Bob());
  struct Case {
    const char* why;
    std::string person, mail, company, subject;
  } const cases[] = {
      {"person", "Ann Lee", "", "", kSignerSubject},
      {"person, other letter case", "bob mail", "", "", kBobSubject},
      {"mail alone, with the person empty", "", "bob@example.com", "", kBobSubject},
      {"company", "", "", "Example Ltd", kSignerSubject},
      {"all three", "Bob", "bob@", "Other", kBobSubject},
  };
  const std::string input = Put("a.txt", "content");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    SignCall sign(input);
    sign.store = com::Variant::Text("Two");
    sign.person = com::Variant::Text(c.person);
    sign.mail = com::Variant::Text(c.mail);
    sign.company = com::Variant::Text(c.company);
    ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
    EXPECT_EQ(sign.Message(), SignedText(W("a_DSignature.txt"), "Two", c.subject));
    EXPECT_EQ(chooser_.calls, 0);
  }
}

// More than one candidate: the chooser is asked with the fixed title and prompt; its choice
// signs, and cancelling writes nothing.
TEST_F(SigningMessages, ChooserDecidesBetweenSeveralCertificates) {
  PutInStore("My", Bob());
  const std::string input = Put("a.txt", "content");

  SignCall cancelled(input);
  EXPECT_FALSE(CallSignFile(cancelled));
  EXPECT_EQ(cancelled.Message(), kCancelled);
  EXPECT_EQ(chooser_.calls, 1);
  EXPECT_EQ(chooser_.title, "Sign ");
  EXPECT_EQ(chooser_.prompt, "Please select a certificate to sign " + input + ".");
  std::vector<std::string> offered = chooser_.subjects;
  std::sort(offered.begin(), offered.end());
  EXPECT_EQ(offered, (std::vector<std::string>{kSignerSubject, kBobSubject}));
  EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});

  // A host that answers with an index it was not offered has cancelled.
  for (int answer : {2, 7, -5}) {
    chooser_.forced = answer;
    SignCall out_of_range(input);
    EXPECT_FALSE(CallSignFile(out_of_range)) << answer;
    EXPECT_EQ(out_of_range.Message(), kCancelled) << answer;
  }
  EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});
  chooser_.forced = -2;

  chooser_.pick = "Bob";
  SignCall chosen(input);
  ASSERT_TRUE(CallSignFile(chosen)) << chosen.Message();
  EXPECT_EQ(chosen.Message(), SignedText(W("a_DSignature.txt"), "", kBobSubject));
  EXPECT_EQ(chooser_.calls, 5) << "nothing is cached between calls";
}

// ---- Names and the success text --------------------------------------------------------------

TEST_F(SigningMessages, SignatureNamesAndSuccessTexts) {
  struct Case {
    const char* why;
    std::string input, store, suffix;
    bool detached;
    std::string signature, suffix_after;
  } const cases[] = {
      {"detached default suffix", "n1/report.pdf", "", "", true, "n1/report_DSignature.txt",
       "_DSignature.txt"},
      {"attached default suffix", "n2/report.pdf", "", "", false, "n2/report_ContentSignature.txt",
       "_ContentSignature.txt"},
      {"a caller's suffix is used verbatim", "n3/report.pdf", "", "_Signature.pdf", true,
       "n3/report_Signature.pdf", "_Signature.pdf"},
      {"the desk's name for a detached signature", "n4/pay.txt", "", "_Signature.txt", true,
       "n4/pay_Signature.txt", "_Signature.txt"},
      {"a name without a dot is its own base", "n5/README", "", "", true,
       "n5/README_DSignature.txt", "_DSignature.txt"},
      {"the last dot of the whole path counts", "n6/In.old/pay", "", "", true,
       "n6/In_DSignature.txt", "_DSignature.txt"},
      {"a named store is quoted with a full stop", "n7/a.txt", "My", "", true,
       "n7/a_DSignature.txt", "_DSignature.txt"},
  };
  // Names relative to the work folder: the rule reads every dot of the name it is given.
  testing::ScopedCurrentFolder in_work(W(""));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Put(c.input, "data");
    SignCall sign(c.input);
    sign.detached = com::Variant::Bool(c.detached);
    sign.store = com::Variant::Text(c.store);
    sign.extension = com::Variant::Text(c.suffix);
    ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
    EXPECT_EQ(sign.Message(), SignedText(c.signature, c.store));
    EXPECT_EQ(sign.Extension(), c.suffix_after);
    EXPECT_TRUE(fs::is_regular_file(W(c.signature)));
  }
}

// A signature file already there is replaced whole, whatever its length.
TEST_F(SigningMessages, AnOlderLongerSignatureFileIsReplacedWhole) {
  const std::string input = Put("a.bin", "abc");
  const std::string signature = Put("a_DSignature.txt", std::string(100000, 'z'));
  for (bool binary : {true, false}) {
    SignCall sign(input);
    sign.binary = com::Variant::Bool(binary);
    ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
    const Bytes written = testing::ReadFile(signature);
    EXPECT_LT(written.size(), 4000u);
    VerifyCall verify(signature);
    verify.binary = com::Variant::Bool(binary);
    verify.original = com::Variant::Text(input);
    EXPECT_TRUE(CallVerifyNSEFile(verify)) << verify.Message();
    EXPECT_EQ(List(), (std::vector<std::string>{"a.bin", "a_DSignature.txt"}));
  }
}

// ---- Failures through the trap ---------------------------------------------------------------

// Positive numbers: the library's own steps. The stage picks the text.
TEST_F(SigningMessages, OwnStepFailuresByStage) {
  const std::string missing = W("missing.txt");
  SignCall absent(missing);
  EXPECT_FALSE(CallSignFile(absent));
  EXPECT_EQ(absent.Message(), kFileAccess + "File: " + missing + " does not Exist.");

  // A folder is not a file to sign.
  fs::create_directory(W("folder.txt"));
  SignCall folder(W("folder.txt"));
  EXPECT_FALSE(CallSignFile(folder));
  EXPECT_EQ(folder.Message(), kFileAccess + "File: " + W("folder.txt") + " does not Exist.");
  fs::remove(W("folder.txt"));

  // Stage 2: the signature file's folder is a regular file (the input itself, which has no
  // extension, so base and input are the same path). The name is relative to the work folder,
  // whose own name may hold a dot.
  Put("plain", "data");
  const std::string plain = "plain";
  testing::ScopedCurrentFolder in_work(W(""));
  SignCall unwritable(plain);
  unwritable.extension = com::Variant::Text("/sig.txt");
  EXPECT_FALSE(CallSignFile(unwritable));
  const std::string expected_start = "Digital Signature created can't be put into file : " + kCrLf +
                                     plain + "/sig.txt" + kCrLf +
                                     "check for access to create new textfile in folder, where "
                                     "sign present. " +
                                     kCrLf + "Desc.";
  EXPECT_EQ(unwritable.Message().substr(0, expected_start.size()), expected_start);
  EXPECT_GT(unwritable.Message().size(), expected_start.size()) << "the description follows";
  EXPECT_EQ(testing::ReadFile(plain), "data");

  // Any other stage: the caller's earlier message, a full stop and the description. Each case
  // leaves out, or gives as no number, an argument the call reads.
  struct Case {
    const char* why;
    std::function<void(SignCall&)> set;
  } const cases[] = {
      {"a filter left out while certificates remain",
       [](SignCall& c) { c.person = com::Variant::Missing(); }},
      {"the store name left out (always read)",
       [](SignCall& c) { c.store = com::Variant::Missing(); }},
      {"a hash code that is no number, with credentials",
       [](SignCall& c) {
         c.user = com::Variant::Text("ann");
         c.password = com::Variant::Text("pw");
         c.hash_algorithm = com::Variant::Text("sha");
       }},
      {"a cipher code that is no number, when encrypting",
       [](SignCall& c) {
         c.detached = com::Variant::Bool(false);
         c.user = com::Variant::Text("ann");
         c.password = com::Variant::Text("pw");
         c.encrypt = com::Variant::Bool(true);
         c.encryption_algorithm = com::Variant::Text("aes");
       }},
  };
  const std::string input = Put("a.txt", "data");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    SignCall sign(input);
    sign.message = com::Variant::Text("earlier");
    c.set(sign);
    EXPECT_FALSE(CallSignFile(sign));
    EXPECT_EQ(sign.Message(), "Last Success: earlier.Type mismatch");
  }
  EXPECT_EQ(List(), (std::vector<std::string>{"a.txt", "plain"}));
}

// Zero or negative numbers: a component failed. The stage picks the text.
TEST_F(SigningMessages, ComponentFailuresByStage) {
  const std::string input = Put("a.txt", "data");
  // Stage 4: a store that exists but cannot be read as a folder.
  testing::WriteFile(stores_.File("Broken"), "not a folder");
  SignCall broken(input);
  broken.store = com::Variant::Text("Broken");
  EXPECT_FALSE(CallSignFile(broken));
  EXPECT_EQ(broken.Message(),
            " Unable to access Personal Store (Current User) or it don't have valid certificate "
            "in it.");

  // Stage 0: a hash code the component cannot serve (1 is MD2).
  SignCall md2(input);
  md2.user = com::Variant::Text("ann");
  md2.password = com::Variant::Text("pw");
  md2.hash_algorithm = com::Variant::Short(1);
  EXPECT_FALSE(CallSignFile(md2));
  const std::string problem =
      " Problem incurred during 'Signing'" + kCrLf + "Description: " + kCrLf;
  EXPECT_EQ(md2.Message().substr(0, problem.size()), problem);
  EXPECT_GT(md2.Message().size(), problem.size());
  EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});

  // Stage 3: a certificate whose key can agree on keys but cannot sign (X25519).
  testing::WriteFile(W("ca.pem"), Pki().intermediate.Pem());
  testing::WriteFile(W("ca.key"), Pki().intermediate.KeyPem());
  const std::string dh = stores_.File("Dh");
  fs::create_directories(dh);
  ASSERT_EQ(Openssl("genpkey -algorithm X25519 -out '" + dh + "/dh.key'"), 0);
  ASSERT_EQ(Openssl("pkey -in '" + dh + "/dh.key' -pubout -out dh.pub"), 0);
  ASSERT_EQ(Openssl("x509 -new -force_pubkey dh.pub -subj '/CN=Key Agreement Only' -CA ca.pem "
                    "-CAkey ca.key -days 30 -out '" +
                    dh + "/dh.pem'"),
            0);
  SignCall cannot_sign(input);
  cannot_sign.store = com::Variant::Text("Dh");
  EXPECT_FALSE(CallSignFile(cannot_sign));
  EXPECT_EQ(cannot_sign.Message(), " Signing process failed." + kCrLf +
                                       "Private key along with certificate may be destroyed. ");
  EXPECT_FALSE(fs::exists(W("a_DSignature.txt")));
}

// Refusals outside the trap, and arguments that are read only where they matter.
TEST_F(SigningMessages, EncryptionRefusalAndArgumentsReadOnlyWhereNeeded) {
  const std::string input = Put("a.txt", "data");
  // RC4 has no password-recipient form: the encryption step fails and nothing is written.
  SignCall rc4(input);
  rc4.detached = com::Variant::Bool(false);
  rc4.user = com::Variant::Text("ann");
  rc4.password = com::Variant::Text("pw");
  rc4.encrypt = com::Variant::Bool(true);
  rc4.encryption_algorithm = com::Variant::Short(1);
  EXPECT_FALSE(CallSignFile(rc4));
  EXPECT_EQ(rc4.Message(), "Can't Encrypt the message.");
  EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});

  // Without credentials neither algorithm is read; detached signing never reads bEncryptFile;
  // with no certificate left the filters are never compared.
  SignCall bare(input);
  bare.hash_algorithm = com::Variant::Missing();
  bare.encryption_algorithm = com::Variant::Missing();
  bare.encrypt = com::Variant::Missing();
  EXPECT_TRUE(CallSignFile(bare)) << bare.Message();
  SignCall empty_store(input);
  empty_store.store = com::Variant::Text("Nothing");
  empty_store.person = com::Variant::Missing();
  EXPECT_FALSE(CallSignFile(empty_store));
  EXPECT_EQ(empty_store.Message(), kNoCertificate);
}

// A caller's suffix that names the input itself must not replace the file being signed.
TEST_F(SigningMessages, SignatureNamedLikeTheInputNeverReplacesIt) {
  for (bool detached : {true, false}) {
    SCOPED_TRACE(detached ? "detached" : "attached");
    const std::string input = Put("a.txt", "the only copy");
    SignCall sign(input);
    sign.detached = com::Variant::Bool(detached);
    sign.extension = com::Variant::Text(".txt");
    EXPECT_FALSE(CallSignFile(sign)) << sign.Message();
    EXPECT_EQ(testing::ReadFile(input), "the only copy");
    EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});
  }
}

// Names the attached trailer cannot carry are refused at the reading stage; detached signing
// of the same files works, since it carries no name.
TEST_F(SigningMessages, AttachedSigningRefusesNamesItCannotCarry) {
  const std::string hundred = std::string(96, 'h') + ".txt";
  const std::string long_input = Put(hundred, "long name");
  struct Case {
    const char* why;
    std::string input;
    std::string entry;  // what the folder holds besides the input after detached signing
  } const cases[] = {
      {"a name over 99 characters", long_input, std::string(96, 'h') + "_DSignature.txt"},
      {"a bare name without a folder", "bare.txt", "bare_DSignature.txt"},
  };
  Put("bare.txt", "bare");
  const fs::path previous = fs::current_path();
  fs::current_path(work_.path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const auto before = List();
    SignCall attached(c.input);
    attached.detached = com::Variant::Bool(false);
    EXPECT_FALSE(CallSignFile(attached));
    EXPECT_EQ(attached.Message().substr(0, kFileAccess.size()), kFileAccess);
    EXPECT_EQ(List(), before);

    SignCall detached(c.input);
    EXPECT_TRUE(CallSignFile(detached)) << detached.Message();
    EXPECT_TRUE(fs::exists(W(c.entry)));
  }
  fs::current_path(previous);
}

// A file that changes between the reading that is signed and the one that is carried (here a
// link to a kernel counter): either the call fails and writes nothing, or what it wrote verifies.
// Never a True result over a signature file that does not hold.
TEST_F(SigningMessages, AFileChangingWhileSignedNeverGivesABadSignature) {
  fs::create_symlink("/proc/uptime", W("up.txt"));
  for (int i = 0; i < 15; ++i) {
    SCOPED_TRACE(i);
    SignCall sign(W("up.txt"));
    sign.detached = com::Variant::Bool(false);
    if (!CallSignFile(sign)) {
      EXPECT_EQ(List(), std::vector<std::string>{"up.txt"}) << sign.Message();
      continue;
    }
    VerifyCall verify(W("up_ContentSignature.txt"));
    verify.detached = com::Variant::Bool(false);
    EXPECT_TRUE(CallVerifyFile(verify)) << verify.Message();
    fs::remove(W("up_ContentSignature.txt"));
    fs::remove(T("up.txt"));
  }
}

// Flags that are neither True nor False (a check box's 1): never a True result over a file
// that does not hold a verifiable signature.
TEST_F(SigningMessages, FlagsThatAreNeitherTrueNorFalse) {
  const std::string input = Put("a.txt", "data");
  for (int which = 0; which < 2; ++which) {
    SCOPED_TRACE(which == 0 ? "bBinaryEncoding = 1" : "bContentAndSignatureInSeparateFiles = 1");
    SignCall sign(input);
    (which == 0 ? sign.binary : sign.detached) = com::Variant::Short(1);
    const bool ok = CallSignFile(sign);
    if (!ok) {
      EXPECT_FALSE(sign.Message().empty());
      EXPECT_EQ(List(), std::vector<std::string>{"a.txt"});
      continue;
    }
    // Taken as True: the file written must verify as such.
    VerifyCall verify(W("a_DSignature.txt"));
    verify.binary = com::Variant::Bool(which == 0);
    verify.original = com::Variant::Text(input);
    EXPECT_TRUE(CallVerifyNSEFile(verify)) << verify.Message();
    fs::remove(W("a_DSignature.txt"));
  }
}

}  // namespace
}  // namespace vellum::signing_test
