// Our signature files against the openssl program: detached signatures cover exactly the bytes
// the format promises, attached ones carry exactly the promised content, Base64 files have the
// promised line layout, and signatures openssl made over the same bytes verify here. Attached
// contents crafted with openssl also prove the reader never writes outside its folder.
#include <openssl/evp.h>

#include <filesystem>

#include "tests/digital_sign/signing_fixture.h"

namespace vellum::signing_test {
namespace {

namespace fs = std::filesystem;

const std::string kNotValid = "Signature or Certificate is not valid. ";
const std::string kBadTrailer =
    "Your File is verified. But filename content is not saved in required format to create "
    "original file.";

// The file layout of a Base64 signature: 64 characters and CR LF per line, the last line (which
// may be shorter) ended the same way, and no armour.
void ExpectBase64Layout(const std::string& text) {
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find("-----"), std::string::npos) << "no PEM armour";
  EXPECT_EQ(text.substr(text.size() - 2), kCrLf) << "the last line ends in CR LF too";
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(kCrLf, start);
    ASSERT_NE(end, std::string::npos);
    const std::size_t length = end - start;
    if (end + 2 < text.size()) {
      EXPECT_EQ(length, 64u) << "line at " << start;
    } else {
      EXPECT_GT(length, 0u);
      EXPECT_LE(length, 64u);
    }
    EXPECT_EQ(
        text.substr(start, length)
            .find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
        std::string::npos);
    start = end + 2;
  }
}

class SigningInterop : public SigningTest {
 protected:
  void SetUp() override {
    SigningTest::SetUp();
    testing::WriteFile(W("signer.pem"), Pki().signer.Pem());
    testing::WriteFile(W("signer.key"), Pki().signer.KeyPem());
    testing::WriteFile(W("chain.pem"), Pki().intermediate.Pem());
  }

  // The DER message in a signature file of either encoding.
  static Bytes MessageDer(const std::string& signature, bool binary) {
    const Bytes file = testing::ReadFile(signature);
    return binary ? file : DecodeBase64(file);
  }

  // Signs `content_file` (in the work folder) with the test signer through openssl.
  int OpensslSign(const std::string& content_file, const std::string& out, bool attached,
                  const std::string& form = "DER", const std::string& md = "sha256") {
    return Openssl("cms -sign -binary -nosmimecap -md " + md +
                   " -signer signer.pem -inkey signer.key -certfile chain.pem -in " + content_file +
                   (attached ? " -nodetach" : "") + " -outform " + form + " -out " + out);
  }

  // All names under the work and temporary folders, for "nothing was written" checks.
  std::vector<std::string> Everything() const {
    std::vector<std::string> names;
    for (const std::string& root : {work_.path(), TempPath()})
      for (const auto& e : fs::recursive_directory_iterator(root)) names.push_back(e.path());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// ---- Detached: openssl checks what we signed ------------------------------------------------

TEST_F(SigningInterop, DetachedSignaturesCoverThePromisedBytes) {
  const Bytes text = "Hello\r\nGr\xFC\xDF\x65 \x80 5\r\n";  // ANSI, with a euro sign
  const std::string hash = CredentialsHash("ann.lee", "pw 1");
  struct Case {
    const char* why;
    bool binary, credentials;
    Bytes signed_bytes;
  } const cases[] = {
      {"text: the UTF-16LE units of the ANSI text", false, false, AnsiToUnits(text)},
      {"binary: the bytes and the reader's zero byte", true, false, text + '\0'},
      {"text with credentials: the hash's units first", false, true,
       AnsiToUnits(hash) + AnsiToUnits(text)},
      {"binary with credentials: the hash's units, then the bytes", true, true,
       AnsiToUnits(hash) + text + '\0'},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string folder = "d" + std::to_string(n++);
    const std::string input = Put(folder + "/data.txt", text);
    const std::string signature =
        Sign(input, true, c.binary, c.credentials ? "ann.lee" : "", c.credentials ? "pw 1" : "");
    ASSERT_FALSE(signature.empty());
    if (!c.binary) ExpectBase64Layout(testing::ReadFile(signature));
    Put(folder + "/sig.der", MessageDer(signature, c.binary));
    Put(folder + "/signed.bin", c.signed_bytes);
    Bytes changed = c.signed_bytes;
    changed.back() ^= 0x01;
    Put(folder + "/changed.bin", changed);
    const std::string verify = "cms -verify -binary -noverify -inform DER -in " + folder +
                               "/sig.der -out /dev/null -content " + folder;
    EXPECT_EQ(Openssl(verify + "/signed.bin"), 0);
    EXPECT_NE(Openssl(verify + "/changed.bin", true), 0) << "openssl really compared the content";
  }
  // A user id beyond ASCII is hashed as its UTF-16LE units too.
  const std::string input = Put("u/data.txt", text);
  const std::string signature =
      Sign(input, true, true, "J\xC3\xBCrgen \xE2\x82\xAC", "p\xC3\xA4ss");
  ASSERT_FALSE(signature.empty());
  Put("u/signed.bin", AnsiToUnits(CredentialsHash("J\xFCrgen \x80", "p\xE4ss")) + text + '\0');
  EXPECT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in u/data_DSignature.txt -out "
                    "/dev/null -content u/signed.bin"),
            0);

  // The same message with PEM armour added reads as PEM.
  const std::string b64 = testing::ReadFile(W("d0/data_DSignature.txt"));
  Put("armoured.pem", "-----BEGIN CMS-----\n" + b64 + "-----END CMS-----\n");
  EXPECT_EQ(Openssl("cms -verify -binary -noverify -inform PEM -in armoured.pem -out /dev/null "
                    "-content d0/signed.bin"),
            0);
}

// Each credentials hash code names the digest the hash is made with; a negative code is 0.
TEST_F(SigningInterop, HashCodesNameTheirDigests) {
  struct Case {
    std::int16_t code;
    const char* digest;
  } const cases[] = {
      {0, "SHA1"}, {-1, "SHA1"}, {3, "MD5"}, {4, "SHA256"}, {5, "SHA384"}, {6, "SHA512"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digest);
    const std::string folder = "h" + std::to_string(n++);
    const std::string input = Put(folder + "/data.bin", "hash me");
    SignCall sign(input);
    sign.binary = com::Variant::Bool(true);
    sign.user = com::Variant::Text("ann");
    sign.password = com::Variant::Text("pw");
    sign.hash_algorithm = com::Variant::Short(c.code);
    ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
    Put(folder + "/signed.bin",
        AnsiToUnits(CredentialsHash("ann", "pw", c.digest)) + Bytes("hash me\0", 8));
    EXPECT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in " + folder +
                      "/data_DSignature.txt -out /dev/null -content " + folder + "/signed.bin"),
              0);
  }
}

// What every message carries: SHA-256, a signing time, the signer and its issuing CA but not
// the root.
TEST_F(SigningInterop, MessagesCarryDigestSigningTimeAndChainWithoutRoot) {
  const std::string signature = Sign(Put("a.bin", "abc"), true, true);
  std::string printed;
  ASSERT_EQ(testing::RunCommand("openssl cms -cmsout -print -inform DER -in '" + signature + "'",
                                &printed),
            0);
  EXPECT_NE(printed.find("sha256"), std::string::npos);
  EXPECT_NE(printed.find("signingTime"), std::string::npos);
  std::size_t certificates = 0;
  for (std::size_t at = printed.find("d.certificate:"); at != std::string::npos;
       at = printed.find("d.certificate:", at + 1))
    ++certificates;
  EXPECT_EQ(certificates, 2u) << "signer and issuing CA";
}

// ---- Attached: openssl reads back the carried content ---------------------------------------

TEST_F(SigningInterop, AttachedSignaturesCarryThePromisedContent) {
  const Bytes text = "line one\r\nline two";
  const std::string hash = CredentialsHash("ann", "pw");
  struct Case {
    const char* why;
    std::string name;
    bool binary;
    std::string user, password;
    bool encrypt;
    Bytes content;
  } const cases[] = {
      {"text: data, name, two digits", "a.txt", false, "", "", false,
       AnsiToUnits(text + "a.txt05")},
      {"a ten-character name", "report.pdf", false, "", "", false,
       AnsiToUnits(text + "report.pdf10")},
      {"credentials without encryption: the hash in front", "a.txt", false, "ann", "pw", false,
       AnsiToUnits(hash + text + "a.txt05")},
      {"a user id without password is no credentials, so nothing is encrypted", "a.txt", false,
       "ann", "", true, AnsiToUnits(text + "a.txt05")},
      {"binary: the bytes, the zero byte, then the name's units", "b.bin", true, "", "", false,
       Bytes("\x01\x02\x03\x00", 4) + AnsiToUnits("b.bin05")},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string folder = "a" + std::to_string(n++);
    const Bytes data = c.binary ? Bytes("\x01\x02\x03", 3) : text;
    const std::string signature =
        Sign(Put(folder + "/" + c.name, data), false, c.binary, c.user, c.password, c.encrypt);
    ASSERT_FALSE(signature.empty());
    if (!c.binary) ExpectBase64Layout(testing::ReadFile(signature));
    Put(folder + "/sig.der", MessageDer(signature, c.binary));
    ASSERT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in " + folder + "/sig.der -out " +
                      folder + "/content.bin"),
              0);
    EXPECT_EQ(testing::ReadFile(W(folder + "/content.bin")), c.content);
  }
}

// The encrypted attached form is password-based CMS enveloped data around the signed message
// as the signature file would hold it (Base64 lines as UTF-16LE units, or the DER bytes), with
// the credentials hash as the password: openssl opens both layers, under every cipher, in both
// encodings (the binary file holds the Base64 lines as UTF-16LE units), for a content of one
// read piece and of many.
TEST_F(SigningInterop, EncryptedSignatureOpensWithTheHashAsPassword) {
  Bytes large;
  for (int i = 0; large.size() < 700000; ++i) large += "line " + std::to_string(i) + "\r\n";
  struct Case {
    std::int16_t code;
    bool binary;
    Bytes content;
  } const cases[] = {{3, false, "sealed\r\n"}, {0, false, "rc2\r\n"}, {2, true, "des"},
                     {4, true, "aes\r\n"},     {4, false, large},     {3, true, large}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string why = "code " + std::to_string(c.code) + " binary " +
                            std::to_string(c.binary) + " size " + std::to_string(c.content.size());
    SCOPED_TRACE(why);
    const std::string folder = "e" + std::to_string(n++);
    SignCall sign(Put(folder + "/a.txt", c.content));
    sign.detached = com::Variant::Bool(false);
    sign.binary = com::Variant::Bool(c.binary);
    sign.user = com::Variant::Text("ann");
    sign.password = com::Variant::Text("pw");
    sign.encrypt = com::Variant::Bool(true);
    sign.encryption_algorithm = com::Variant::Short(c.code);
    ASSERT_TRUE(CallSignFile(sign)) << sign.Message();
    const Bytes file = testing::ReadFile(W(folder + "/a" + sign.Extension()));
    std::string outer;
    if (c.binary) {
      for (std::size_t i = 0; i + 1 < file.size(); i += 2) {
        ASSERT_EQ(file[i + 1], '\0');
        outer += file[i];
      }
    } else {
      outer = file;
    }
    ExpectBase64Layout(outer);
    Put(folder + "/enveloped.der", DecodeBase64(outer));
    const std::string legacy = c.code <= 2 ? " -provider legacy -provider default" : "";
    ASSERT_EQ(Openssl("cms -decrypt -binary -inform DER -in " + folder +
                      "/enveloped.der -pwri_password " + CredentialsHash("ann", "pw") + legacy +
                      " -out " + folder + "/inner.bin"),
              0);
    const Bytes inner = testing::ReadFile(W(folder + "/inner.bin"));
    Bytes der = inner;
    if (!c.binary) {
      // The inner text is the signed message's Base64, as UTF-16LE units.
      std::string base64;
      for (std::size_t i = 0; i + 1 < inner.size(); i += 2) {
        ASSERT_EQ(inner[i + 1], '\0');
        base64 += inner[i];
      }
      ExpectBase64Layout(base64);
      der = DecodeBase64(base64);
    }
    Put(folder + "/signed.der", der);
    ASSERT_EQ(Openssl("cms -verify -binary -noverify -inform DER -in " + folder +
                      "/signed.der -out " + folder + "/content.bin"),
              0);
    const Bytes data = c.binary ? c.content + '\0' : AnsiToUnits(c.content);
    EXPECT_EQ(testing::ReadFile(W(folder + "/content.bin")), data + AnsiToUnits("a.txt05"))
        << "no hash inside an encrypted message";
  }
}

// ---- openssl's signatures verify here --------------------------------------------------------

TEST_F(SigningInterop, OpensslSignaturesVerifyHere) {
  const Bytes text = "signed elsewhere\r\n";
  Put("data.txt", text);
  Put("units.bin", AnsiToUnits(text));
  Put("bytes0.bin", text + '\0');
  ASSERT_EQ(OpensslSign("units.bin", "pem.sig", false, "PEM"), 0);
  ASSERT_EQ(OpensslSign("units.bin", "sha1.der", false, "DER", "sha1"), 0);
  ASSERT_EQ(OpensslSign("bytes0.bin", "der.sig", false), 0);
  ASSERT_EQ(OpensslSign("bytes0.bin", "sha512.sig", false, "DER", "sha512"), 0);
  // Base64 with LF line ends and no armour, as other tools write it.
  ASSERT_EQ(Openssl("base64 -in sha1.der -out lf.sig"), 0);
  struct Case {
    const char* why;
    std::string signature;
    bool binary;
  } const cases[] = {
      {"PEM armour in a text signature file", "pem.sig", false},
      {"SHA-1, Base64 with LF line ends", "lf.sig", false},
      {"DER in a binary signature file", "der.sig", true},
      {"SHA-512", "sha512.sig", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    VerifyCall verify(W(c.signature));
    verify.binary = com::Variant::Bool(c.binary);
    verify.original = com::Variant::Text(W("data.txt"));
    EXPECT_TRUE(CallVerifyFile(verify)) << verify.Message();
    EXPECT_EQ(verify.Details(), (std::vector<std::string>{ChainDetails(Pki().signer)}));
    VerifyCall nse(W(c.signature));
    nse.binary = com::Variant::Bool(c.binary);
    nse.original = com::Variant::Text(W("data.txt"));
    EXPECT_TRUE(CallVerifyNSEFile(nse)) << nse.Message();
  }
}

// Attached messages openssl made, in DER, PEM and streamed BER (lengths left open, content in
// parts), and password-encrypted ones around them, restore their content here; a wrong password
// fails at the decrypting stage.
TEST_F(SigningInterop, OpensslAttachedAndEncryptedMessagesRestoreHere) {
  const std::string hash = CredentialsHash("ann", "pw");
  for (const char* folder : {"t1", "t2", "t3", "b1", "b2", "b3"}) fs::create_directories(W(folder));
  Put("text.content", AnsiToUnits("from elsewhere\r\no.txt05"));
  Put("bin.content", Bytes("xyz\0", 4) + AnsiToUnits("b.bin05"));
  ASSERT_EQ(OpensslSign("text.content", "t1/sig.pem", true, "PEM"), 0);
  ASSERT_EQ(OpensslSign("bin.content", "b1/sig.der", true, "DER"), 0);
  ASSERT_EQ(
      Openssl("cms -sign -binary -nosmimecap -md sha256 -signer signer.pem -inkey signer.key "
              "-certfile chain.pem -in bin.content -nodetach -stream -outform DER -out b2/sig.der"),
      0);
  // The encrypted layer holds the signed message as a signature file would: Base64 text as
  // UTF-16LE units in text mode, the DER in binary mode.
  ASSERT_EQ(OpensslSign("text.content", "signed.der", true), 0);
  Put("inner.units", AnsiToUnits(EncodeBase64(testing::ReadFile(W("signed.der")))));
  for (const std::string stream : {"", " -stream"}) {
    const std::string folder = stream.empty() ? "t2" : "t3";
    ASSERT_EQ(Openssl("cms -encrypt -binary -aes256 -in inner.units -pwri_password " + hash +
                      stream + " -outform DER -out " + folder + "/env.der"),
              0);
    Put(folder + "/sig.txt", EncodeBase64(testing::ReadFile(W(folder + "/env.der"))));
  }
  ASSERT_EQ(Openssl("cms -encrypt -binary -des3 -in b1/sig.der -pwri_password " + hash +
                    " -outform DER -out b3/env.der"),
            0);
  Put("b3/sig.bin", AnsiToUnits(EncodeBase64(testing::ReadFile(W("b3/env.der")))));
  struct Case {
    const char* why;
    std::string signature;
    bool binary;
    bool encrypted;
    std::string restored;
    Bytes data;
  } const cases[] = {
      {"PEM, text", "t1/sig.pem", false, false, "t1/o.txt", "from elsewhere\r\n"},
      {"DER, binary", "b1/sig.der", true, false, "b1/b.bin", "xyz"},
      {"BER streamed by openssl, binary", "b2/sig.der", true, false, "b2/b.bin", "xyz"},
      {"encrypted, text", "t2/sig.txt", false, true, "t2/o.txt", "from elsewhere\r\n"},
      {"encrypted as it streamed (BER), text", "t3/sig.txt", false, true, "t3/o.txt",
       "from elsewhere\r\n"},
      {"encrypted with triple DES, binary", "b3/sig.bin", true, true, "b3/b.bin", "xyz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    VerifyCall verify(W(c.signature));
    verify.detached = com::Variant::Bool(false);
    verify.binary = com::Variant::Bool(c.binary);
    verify.original = com::Variant::Text("x");
    if (c.encrypted) {
      verify.user = com::Variant::Text("ann");
      verify.password = com::Variant::Text("pw");
      verify.decrypt = com::Variant::Bool(true);
    }
    EXPECT_TRUE(CallVerifyFile(verify)) << verify.Message();
    EXPECT_EQ(verify.Original(), W(c.restored));
    EXPECT_EQ(testing::ReadFile(W(c.restored)), c.data);
    if (!c.encrypted) continue;
    fs::remove(W(c.restored));
    VerifyCall wrong(W(c.signature));
    wrong.detached = com::Variant::Bool(false);
    wrong.binary = com::Variant::Bool(c.binary);
    wrong.original = com::Variant::Text("x");
    wrong.user = com::Variant::Text("ann");
    wrong.password = com::Variant::Text("other");
    wrong.decrypt = com::Variant::Bool(true);
    EXPECT_FALSE(CallVerifyFile(wrong));
    EXPECT_EQ(wrong.Message(), "Signature or Certificate is not valid .");
    EXPECT_FALSE(fs::exists(W(c.restored)));
  }
}

// ---- Crafted attached contents: the carried name decides where a file goes ------------------

class CarriedNames : public SigningInterop {
 protected:
  // An attached binary signature in work/sig/ whose content is "ABC", the reader's zero byte,
  // then `tail` as 16-bit units (a name and its digits, or anything else).
  std::string Craft(const std::string& id, const Bytes& tail_units) {
    Put("sig/" + id + ".content", Bytes("ABC\0", 4) + tail_units);
    EXPECT_EQ(OpensslSign("sig/" + id + ".content", "sig/" + id + ".der", true), 0);
    fs::remove(W("sig/" + id + ".content"));
    return W("sig/" + id + ".der");
  }

  bool VerifyAttached(const std::string& signature, const std::string& original,
                      std::string* message, std::string* written = nullptr) {
    VerifyCall verify(signature);
    verify.detached = com::Variant::Bool(false);
    verify.binary = com::Variant::Bool(true);
    verify.original = com::Variant::Text(original);
    const bool ok = CallVerifyFile(verify);
    *message = verify.Message();
    if (written != nullptr) *written = verify.Original();
    return ok;
  }
};

TEST_F(CarriedNames, APlainNameIsRestoredWhereExpected) {
  const std::string signature = Craft("good", AnsiToUnits("good.txt08"));
  std::string message, written;
  ASSERT_TRUE(VerifyAttached(signature, "x", &message, &written)) << message;
  EXPECT_EQ(written, W("sig/good.txt"));
  EXPECT_EQ(testing::ReadFile(W("sig/good.txt")), "ABC") << "the reader's zero byte is dropped";
  ASSERT_TRUE(VerifyAttached(signature, "", &message, &written)) << message;
  EXPECT_EQ(written, T("good.txt"));
  EXPECT_EQ(testing::ReadFile(T("good.txt")), "ABC");
}

TEST_F(CarriedNames, NamesThatLeaveTheFolderOrDoNotParseAreRefused) {
  const std::string absolute = "/vellum-signing-test-absolute.txt";
  struct Case {
    const char* why;
    Bytes tail;
  } const cases[] = {
      {"a parent-folder step", AnsiToUnits("../evil.txt11")},
      {"a deeper parent-folder step", AnsiToUnits("../../evil2.txt15")},
      {"a separator inside", AnsiToUnits("sub/evil.txt12")},
      {"an absolute path", AnsiToUnits(absolute + Digits(absolute.size()))},
      {"the parent folder itself", AnsiToUnits("..02")},
      {"the folder itself", AnsiToUnits(".01")},
      {"no name at all", AnsiToUnits("00")},
      {"a zero character cuts the name short",
       AnsiToUnits("a") + Bytes(2, '\0') + AnsiToUnits("b.txt07")},
      {"two letters instead of digits", AnsiToUnits("good.txtxy")},
      {"a length longer than the content", AnsiToUnits("good.txt99")},
      {"a negative length", AnsiToUnits("good.txt-1")},
      // Control characters: echoed raw, such a name could forge a verdict on a terminal.
      {"a line break", AnsiToUnits("is Verified.\nx.txt18")},
      {"an escape sequence", AnsiToUnits("\x1b[2Kok.txt10")},
      {"a carriage return and a tab", AnsiToUnits("a\rb\tc.txt09")},
      {"a delete character", AnsiToUnits("a\x7f.txt06")},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string signature = Craft("c" + std::to_string(n++), c.tail);
    const auto before = Everything();
    for (const char* original : {"x", ""}) {
      std::string message;
      EXPECT_FALSE(VerifyAttached(signature, original, &message));
      EXPECT_EQ(message, kBadTrailer);
      EXPECT_EQ(Everything(), before) << "nothing written, with original name '" << original << "'";
    }
    EXPECT_FALSE(fs::exists(absolute));
  }
}

// A link in the restored file's place is replaced by the file; what it pointed at is untouched.
TEST_F(CarriedNames, ALinkInTheRestoredPlaceIsNotFollowed) {
  const std::string signature = Craft("l", AnsiToUnits("good.txt08"));
  Put("victim.txt", "must stay");
  fs::create_symlink(W("victim.txt"), W("sig/good.txt"));
  std::string message;
  ASSERT_TRUE(VerifyAttached(signature, "x", &message)) << message;
  EXPECT_FALSE(fs::is_symlink(W("sig/good.txt")));
  EXPECT_EQ(testing::ReadFile(W("sig/good.txt")), "ABC");
  EXPECT_EQ(testing::ReadFile(W("victim.txt")), "must stay");
}

// A changed byte in an attached signature: nothing is restored.
TEST_F(CarriedNames, AChangedCarriedByteRestoresNothing) {
  const std::string signature = Craft("t", AnsiToUnits("good.txt08"));
  Bytes der = testing::ReadFile(signature);
  const std::size_t at = der.find(std::string("ABC\0", 4));
  ASSERT_NE(at, std::string::npos);
  der[at + 1] = 'X';
  testing::WriteFile(signature, der);
  const auto before = Everything();
  std::string message;
  EXPECT_FALSE(VerifyAttached(signature, "x", &message));
  EXPECT_EQ(message, kNotValid);
  EXPECT_EQ(Everything(), before);
}

}  // namespace
}  // namespace vellum::signing_test
