// Who signed, on the command line: the five lines per signer, --require-trust and its exit
// code 3, anchors and CRLs from the stores and the options, --json read back by a JSON parser
// (Python's, outside the library), broken and weak algorithms, escaped subjects.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "cli/run.h"
#include "cli/safe_text.h"
#include "cli/trust_output.h"
#include "library/com/json.h"
#include "tests/cli/run_in_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum::cli {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempFolder;
using testing::WriteFile;

constexpr const char* kAnn = "CN=Ann Lee, O=Example Ltd, C=GB";
const std::string kRoot = "CN=Vellum Test Root, O=Vellum Test, C=GB";

// The five lines of one signer, the fingerprint and time as patterns.
std::string SignerBlock(int n, const std::string& subject, const std::string& key,
                        const std::string& trust) {
  return "Signer " + std::to_string(n) + ": " + subject +
         "\n  SHA-256 fingerprint: ([0-9A-F]{2}:){31}[0-9A-F]{2}"
         "\n  Signing time: \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d \\(as claimed by the "
         "signer\\)"
         "\n  Digest: SHA-256, key: " +
         key + "\n  Trust: " + trust + "\n";
}

std::string RegexQuote(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

class TrustCliTest : public ::testing::Test {
 protected:
  TrustCliTest()
      : registry_("VELLUM_REGISTRY", tmp_.File("registry.ini")),
        stores_("VELLUM_STORE_DIR", tmp_.File("stores")),
        temp_dir_("TMPDIR", tmp_.File("tmp")) {}

  void SetUp() override {
    fs::create_directories(tmp_.File("tmp"));
    fs::create_directories(tmp_.File("in"));
    ASSERT_EQ(RunCli({"register", VELLUM_TEST_LIBRARY}).code, kOk);
    WriteFile(In("doc.txt"), "Pay Ann.\r\n");
  }

  std::string In(const std::string& name) const { return tmp_.File("in/" + name); }

  // Signs doc.txt detached with the certificate in "My"; returns the signature file.
  std::string SignDoc() {
    Result s = RunCli({"sign", In("doc.txt")});
    EXPECT_EQ(s.code, kOk) << s.out << s.err;
    return In("doc_DSignature.txt");
  }
  Result VerifyDoc(const std::string& signature, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"verify", signature, "--original", In("doc.txt")};
    args.insert(args.end(), more.begin(), more.end());
    return RunCli(args);
  }

  // A PKI whose signer is in "My", the intermediate in "CA"; the root anchored when asked.
  testing::TestPki InstallPki(bool anchor_root) {
    auto pki = testing::TestPki::Make(kAnn, testing::KeyKind::kRsa2048);
    testing::PutInStore("My", pki.signer);
    testing::PutInStore("CA", pki.intermediate, testing::StoreFormat::kPemNoKey);
    if (anchor_root) testing::PutInStore("Root", pki.root, testing::StoreFormat::kPemNoKey);
    return pki;
  }

  // Python's JSON parser reading `json`, printing what `expression` (over d) gives.
  std::string Python(const std::string& json, const std::string& expression) {
    WriteFile(tmp_.File("out.json"), json);
    WriteFile(tmp_.File("check.py"),
              "import json, sys\nd = json.load(open(sys.argv[1]))\nprint(" + expression + ")\n");
    std::string printed;
    EXPECT_EQ(
        testing::RunCommand(
            "python3 '" + tmp_.File("check.py") + "' '" + tmp_.File("out.json") + "'", &printed),
        0)
        << json;
    return printed;
  }

  TempFolder tmp_;
  ScopedEnv registry_;
  ScopedEnv stores_;
  ScopedEnv temp_dir_;
};

// A self-signed certificate anyone could make: the signature holds, the signer is untrusted;
// in the Root store the same signer is trusted.
TEST_F(TrustCliTest, SelfSignedIsUntrustedUntilAnchored) {
  ASSERT_EQ(RunCli({"store", "new-certificate", "--subject", kAnn}).code, kOk);
  const std::string signature = SignDoc();

  Result plain = VerifyDoc(signature);
  EXPECT_EQ(plain.code, kOk) << plain.err;
  EXPECT_TRUE(std::regex_search(
      plain.out, std::regex("\n" + RegexQuote(kAnn) + "\n" +
                            SignerBlock(1, RegexQuote(kAnn), "RSA 3072 bits",
                                        "untrusted \\(self-signed, and in no set of trust "
                                        "anchors\\)") +
                            "$")))
      << plain.out;
  EXPECT_EQ(plain.out.rfind("File: " + In("doc.txt") + "\nis Verified. \n", 0), 0U);

  Result required = VerifyDoc(signature, {"--require-trust"});
  EXPECT_EQ(required.code, kNotTrusted);
  EXPECT_EQ(required.out, plain.out) << "the same report, another exit code";
  EXPECT_TRUE(Contains(required.err, "signer 1 is not trusted")) << required.err;

  // The same signer in the Root store.
  std::string my_cert;
  for (const auto& e : fs::directory_iterator(tmp_.File("stores/My")))
    if (e.path().extension() == ".pem") my_cert = e.path().string();
  ASSERT_EQ(RunCli({"store", "import", my_cert, "--store", "Root"}).code, kOk);
  Result anchored = VerifyDoc(signature, {"--require-trust"});
  EXPECT_EQ(anchored.code, kOk) << anchored.out << anchored.err;
  EXPECT_TRUE(Contains(anchored.out, "  Trust: trusted (" + std::string(kAnn) + ")\n"))
      << anchored.out;

  // The fingerprint is the certificate's, as openssl prints it.
  std::string printed;
  ASSERT_EQ(testing::RunCommand("openssl x509 -noout -fingerprint -sha256 -in '" + my_cert + "'",
                                &printed),
            0);
  EXPECT_TRUE(Contains(anchored.out, "  SHA-256 fingerprint: " + printed.substr(19))) << printed;
}

TEST_F(TrustCliTest, AnchorsAndCrlsFromOptionsAndStores) {
  auto pki = InstallPki(false);
  const std::string signature = SignDoc();
  WriteFile(tmp_.File("root.pem"), pki.root.Pem());
  WriteFile(tmp_.File("signer.crl"), testing::MakeCrl(pki.intermediate, {pki.signer}, false));
  struct Case {
    const char* why;
    std::vector<std::string> options;
    int code;
    std::string trust_line;
  };
  const std::vector<Case> cases = {
      {"no anchor", {"--require-trust"}, kNotTrusted, "  Trust: untrusted (no chain to a trust "},
      {"the root named",
       {"--require-trust", "--trust-anchors", tmp_.File("root.pem")},
       kOk,
       "  Trust: trusted (" + kRoot + ")\n"},
      {"the root's folder named",
       {"--trust-anchors", tmp_.path()},
       kOk,
       "  Trust: trusted (" + kRoot + ")\n"},
      {"and a CRL listing the signer",
       {"--require-trust", "--trust-anchors", tmp_.File("root.pem"), "--crl",
        tmp_.File("signer.crl")},
       kNotTrusted,
       "  Trust: revoked (" + std::string(kAnn) + " is revoked since "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Result r = VerifyDoc(signature, c.options);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, c.trust_line)) << r.out;
  }

  // A CRL in the CA store folder revokes as well.
  testing::PutInStore("Root", pki.root, testing::StoreFormat::kPemNoKey);
  WriteFile(tmp_.File("stores/CA/issuing.crl"), testing::MakeCrl(pki.intermediate, {pki.signer}));
  Result revoked = VerifyDoc(signature, {"--require-trust"});
  EXPECT_EQ(revoked.code, kNotTrusted);
  EXPECT_TRUE(Contains(revoked.out, "  Trust: revoked (")) << revoked.out;
}

TEST_F(TrustCliTest, UsageErrors) {
  ASSERT_EQ(RunCli({"store", "new-certificate", "--subject", kAnn}).code, kOk);
  const std::string signature = SignDoc();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--trust-anchors", tmp_.File("missing.pem")}, "does not exist"},
      {{"--crl", tmp_.File("missing.crl")}, "does not exist"},
      {{"--allow-weak"}, "--allow-weak goes with --require-trust"},
      {{"--trust-anchors"}, "--trust-anchors"},
  };
  for (const auto& [options, message] : cases) {
    Result r = VerifyDoc(signature, options);
    EXPECT_EQ(r.code, kUsage) << message;
    EXPECT_TRUE(Contains(r.err, message)) << r.err;
    EXPECT_EQ(r.out, "") << "nothing verified";
  }
}

TEST_F(TrustCliTest, JsonParsesAndCarriesTheFingerprints) {
  auto pki = InstallPki(true);
  const std::string signature = SignDoc();
  Result r = VerifyDoc(signature, {"--json"});
  ASSERT_EQ(r.code, kOk) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one object on one line";
  EXPECT_EQ(Python(r.out, "d['method'], d['result'], d['exit_code'], d['restored']"),
            "VerifyFile True 0 None\n");
  EXPECT_EQ(
      Python(r.out, "d['message'].startswith('File: " + In("doc.txt") + "\\nis Verified. \\n')"),
      "True\n");
  const std::string fingerprint = Python(r.out, "d['signers'][0]['fingerprint_sha256']");
  EXPECT_TRUE(std::regex_match(fingerprint, std::regex("([0-9A-F]{2}:){31}[0-9A-F]{2}\n")))
      << fingerprint;
  // The text form carries the same fingerprint.
  EXPECT_TRUE(Contains(VerifyDoc(signature).out, "  SHA-256 fingerprint: " + fingerprint));
  EXPECT_EQ(Python(r.out,
                   "d['signers'][0]['trust'], d['signers'][0]['anchor'], "
                   "[c['subject'] for c in d['signers'][0]['chain']]"),
            "trusted " + kRoot + " ['" + kAnn +
                "', 'CN=Vellum Test Issuing CA, O=Vellum Test, C=GB', '" + kRoot + "']\n");
  EXPECT_EQ(Python(r.out, "len(d['details']), d['signers'][0]['key'], d['signers'][0]['digest']"),
            "1 RSA 2048 bits SHA-256\n");

  // The same object from our own reader.
  const auto parsed = com::json::Value::Parse(r.out);
  EXPECT_EQ(parsed["signers"].AsArray().at(0)["subject"].AsText(), kAnn);

  // verify-nse, a failure, and the packed road, all as JSON.
  Result nse =
      RunCli({"verify-nse", signature, "--original", In("doc.txt"), "--json", "--require-trust"});
  EXPECT_EQ(nse.code, kOk) << nse.err;
  EXPECT_EQ(Python(nse.out, "d['method'], len(d['signers']), d['details']"),
            "VerifyNSEFile 1 []\n");
  WriteFile(In("doc.txt"), "changed\r\n");
  Result failed = VerifyDoc(signature, {"--json", "--require-trust"});
  EXPECT_EQ(failed.code, kFailed);
  EXPECT_EQ(Python(failed.out, "d['result'], d['exit_code'], d['signers'], d['message']"),
            "False 1 [] Signature or Certificate is not valid. \n");
}

TEST_F(TrustCliTest, PackedAndAttachedReportTheRestoredFile) {
  InstallPki(true);
  ::setenv("VELLUM_PASSWORD", "zip pw", 1);
  ASSERT_EQ(
      RunCli({"sign", In("doc.txt"), "--zip", "--attached", "--user", "ann", "--encrypt"}).code,
      kOk);
  fs::remove(In("doc.txt"));
  // The command removes VELLUM_PASSWORD from its environment once read.
  ::setenv("VELLUM_PASSWORD", "zip pw", 1);
  Result r = RunCli({"verify", In("doc_ContentSignature.trel"), "--zip", "--attached", "--user",
                     "ann", "--json", "--require-trust"});
  ::unsetenv("VELLUM_PASSWORD");
  ASSERT_EQ(r.code, kOk) << r.out << r.err;
  EXPECT_EQ(Python(r.out, "d['method'], d['restored'], d['signers'][0]['trust']"),
            "VerifyZipFile " + In("doc.txt") + " trusted\n");
  EXPECT_EQ(ReadFile(In("doc.txt")), "Pay Ann.\r\n");
}

// A signature over MD5 made by the openssl program does not hold; one over SHA-1 holds and is
// weak, which --allow-weak lets pass.
TEST_F(TrustCliTest, BrokenAndWeakAlgorithmsFromOpenssl) {
  auto pki = InstallPki(true);
  WriteFile(tmp_.File("signer.pem"), pki.signer.Pem());
  WriteFile(tmp_.File("signer.key"), pki.signer.KeyPem());
  WriteFile(tmp_.File("chain.pem"), pki.intermediate.Pem());
  auto openssl_sign = [&](const std::string& md, const std::string& out) {
    return testing::RunCommand("cd '" + tmp_.path() + "' && openssl cms -sign -binary -md " + md +
                               " -signer signer.pem -inkey signer.key -certfile chain.pem -in '" +
                               In("doc.txt") + "' -outform DER -out " + out + " 2>&1");
  };
  // The command reads a binary original with the reader's trailing zero byte; openssl signs
  // the same bytes.
  WriteFile(In("doc0.txt"), ReadFile(In("doc.txt")) + '\0');
  WriteFile(In("doc.txt.bak"), ReadFile(In("doc.txt")));
  WriteFile(In("doc.txt"), ReadFile(In("doc0.txt")));
  ASSERT_EQ(openssl_sign("md5", "md5.der"), 0);
  ASSERT_EQ(openssl_sign("sha1", "sha1.der"), 0);
  WriteFile(In("doc.txt"), ReadFile(In("doc.txt.bak")));

  Result md5 = VerifyDoc(tmp_.File("md5.der"), {"--binary"});
  EXPECT_EQ(md5.code, kFailed);
  EXPECT_EQ(md5.out, "Signature or Certificate is not valid. \n");

  Result sha1 = VerifyDoc(tmp_.File("sha1.der"), {"--binary"});
  EXPECT_EQ(sha1.code, kOk) << sha1.out << sha1.err;
  EXPECT_TRUE(Contains(sha1.out, "  Digest: SHA-1, key: RSA 2048 bits\n")) << sha1.out;
  EXPECT_TRUE(Contains(sha1.out, "  Trust: weak (SHA-1 digest, under " + kRoot + ")\n"))
      << sha1.out;
  EXPECT_EQ(VerifyDoc(tmp_.File("sha1.der"), {"--binary", "--require-trust"}).code, kNotTrusted);
  EXPECT_EQ(VerifyDoc(tmp_.File("sha1.der"), {"--binary", "--require-trust", "--allow-weak"}).code,
            kOk);
}

// A subject holding terminal escapes is printed with them escaped, in every line that shows it.
TEST_F(TrustCliTest, ControlCharactersInSubjectsAreEscaped) {
  const std::string evil = "CN=Big\x1b[2J\x1b]0;owned\x07 Bank\\";
  auto cert = testing::MakeCert({evil});
  testing::PutInStore("My", cert, testing::StoreFormat::kPemWithKeyFile, "evil");
  const std::string signature = SignDoc();
  Result r = VerifyDoc(signature);
  ASSERT_EQ(r.code, kOk) << r.out << r.err;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "no raw escape reaches the terminal";
  EXPECT_EQ(r.out.find('\x07'), std::string::npos);
  EXPECT_TRUE(Contains(r.out, "Signer 1: CN=Big\\e[2J\\e]0;owned\\x07 Bank\\\\\n")) << r.out;
  // JSON keeps the subject exact, escaped by JSON's own rules.
  Result j = VerifyDoc(signature, {"--json"});
  EXPECT_EQ(j.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(com::json::Value::Parse(j.out)["signers"].AsArray().at(0)["subject"].AsText(), evil);
}

TEST(EscapeControlsTest, EscapesControlsAndBackslashOnly) {
  EXPECT_EQ(EscapeControls("CN=Ann Lee, O=\xC3\x96 Ltd"), "CN=Ann Lee, O=\xC3\x96 Ltd");
  EXPECT_EQ(EscapeControls(std::string("a\0b\n\r\t\x7f\\", 8)), "a\\x00b\\n\\r\\t\\x7F\\\\");
}

}  // namespace
}  // namespace vellum::cli
