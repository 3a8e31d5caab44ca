// Timestamps on the command line, against an authority the tests start (openssl ts -reply
// behind tsa_server.py): sign with and without one (--tsa, VELLUM_TSA_URL, the registry
// setting), an authority that fails (nothing written, the reason in the signing text),
// `vellum timestamp` on existing signatures, the Timestamp line and --json of verify, and a
// signer whose certificate expired after it signed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/run.h"
#include "cli/trust_output.h"
#include "tests/cli/run_in_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"
#include "tests/support/test_tsa.h"

namespace vellum::cli {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempFolder;
using testing::WriteFile;

constexpr const char* kAnn = "CN=Ann Lee, O=Example Ltd, C=GB";
const std::string kAuthority = "CN=Vellum Test Time Stamping, O=Vellum Test, C=GB";
const std::regex kTrustedStampLine(
    "\n  Timestamp: \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d by CN=Vellum Test Time Stamping, "
    "O=Vellum Test, C=GB \\(trusted\\)\n");
const std::string kSigningFailed =
    " Signing process failed.\nPrivate key along with certificate may be destroyed. \nDesc.";

class TimestampCliTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    folder_ = new TempFolder();                       // NOLINT: suite-wide
    tsa_ = new testing::TestTsa(folder_->path(), 3);  // NOLINT
  }
  static void TearDownTestSuite() {
    delete tsa_;     // NOLINT(cppcoreguidelines-owning-memory)
    delete folder_;  // NOLINT(cppcoreguidelines-owning-memory)
  }

 protected:
  TimestampCliTest()
      : registry_("VELLUM_REGISTRY", tmp_.File("registry.ini")),
        stores_("VELLUM_STORE_DIR", tmp_.File("stores")),
        temp_dir_("TMPDIR", tmp_.File("tmp")),
        url_("VELLUM_TSA_URL", std::nullopt),
        timeout_("VELLUM_TSA_TIMEOUT", std::nullopt),
        no_proxy_("no_proxy", "127.0.0.1") {}

  void SetUp() override {
    fs::create_directories(tmp_.File("tmp"));
    fs::create_directories(tmp_.File("in"));
    ASSERT_EQ(RunCli({"register", VELLUM_TEST_LIBRARY}).code, kOk);
    WriteFile(In("doc.txt"), "Pay Ann.\r\n");
    pki_ = testing::TestPki::Make(kAnn);
    testing::PutInStore("CA", pki_.intermediate, testing::StoreFormat::kPemNoKey);
    testing::PutInStore("Root", pki_.root, testing::StoreFormat::kPemNoKey);
  }

  std::string In(const std::string& name) const { return tmp_.File("in/" + name); }
  static std::string Url(const char* mode) { return tsa_->Url(mode); }
  static const std::string& TsaRoot() { return tsa_->root_file(); }

  Result Sign(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"sign", In("doc.txt")};
    args.insert(args.end(), more.begin(), more.end());
    return RunCli(args);
  }
  Result VerifyDetached(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"verify",      In("doc_DSignature.txt"), "--original",
                                     In("doc.txt"), "--trust-anchors",        TsaRoot()};
    args.insert(args.end(), more.begin(), more.end());
    return RunCli(args);
  }

  TempFolder tmp_;
  ScopedEnv registry_;
  ScopedEnv stores_;
  ScopedEnv temp_dir_;
  ScopedEnv url_;
  ScopedEnv timeout_;
  ScopedEnv no_proxy_;
  testing::TestPki pki_;
  static TempFolder* folder_;
  static testing::TestTsa* tsa_;
};

TempFolder* TimestampCliTest::folder_ = nullptr;
testing::TestTsa* TimestampCliTest::tsa_ = nullptr;

// Where the authority comes from: the option, the environment, the user's registry; none.
TEST_F(TimestampCliTest, SigningAsksTheConfiguredAuthority) {
  testing::PutInStore("My", pki_.signer);
  struct Case {
    const char* why;
    std::function<std::vector<std::string>()> setup;  // returns the options of sign
    bool stamped;
  };
  std::optional<ScopedEnv> env;
  const std::vector<Case> cases = {
      {"no authority", [] { return std::vector<std::string>{}; }, false},
      {"--tsa",
       [] {
         return std::vector<std::string>{"--tsa", Url("ok")};
       },
       true},
      {"VELLUM_TSA_URL",
       [&env] {
         env.emplace("VELLUM_TSA_URL", Url("ok"));
         return std::vector<std::string>{};
       },
       true},
      {"the registry's Url",
       [&] {
         env.reset();
         WriteFile(tmp_.File("registry.ini"),
                   ReadFile(tmp_.File("registry.ini")) +
                       "[Software\\Vellum\\Timestamp]\nUrl=" + Url("ok") + "\n");
         return std::vector<std::string>{};
       },
       true},
      {"VELLUM_TSA_URL empty over the registry",
       [&env] {
         env.emplace("VELLUM_TSA_URL", "");
         return std::vector<std::string>{};
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Result s = Sign(c.setup());
    ASSERT_EQ(s.code, kOk) << s.out << s.err;
    Result v = VerifyDetached();
    EXPECT_EQ(v.code, kOk) << v.out << v.err;
    EXPECT_EQ(std::regex_search(v.out, kTrustedStampLine), c.stamped) << v.out;
    EXPECT_EQ(Contains(v.out, "Timestamp:"), c.stamped) << v.out;
    // The Timestamp line comes under the signer, after the claimed signing time.
    if (c.stamped) {
      EXPECT_TRUE(
          std::regex_search(v.out, std::regex("\\(as claimed by the signer\\)\n  Timestamp: ")))
          << v.out;
    }
  }
}

TEST_F(TimestampCliTest, VerifyReportsTheTimestampAsTextAndJson) {
  testing::PutInStore("My", pki_.signer);
  ASSERT_EQ(Sign({"--tsa", Url("ok"), "--attached", "--binary"}).code, kOk);
  const std::string signature = In("doc_ContentSignature.txt");
  Result anchored = RunCli(
      {"verify", signature, "--attached", "--binary", "--trust-anchors", TsaRoot(), "--to-temp"});
  EXPECT_EQ(anchored.code, kOk) << anchored.out << anchored.err;
  EXPECT_TRUE(std::regex_search(anchored.out, kTrustedStampLine)) << anchored.out;

  // Without the authority's root among the anchors the token proves nothing; the signer's own
  // answer stays.
  Result unanchored = RunCli({"verify", signature, "--attached", "--binary", "--to-temp"});
  EXPECT_EQ(unanchored.code, kOk);
  EXPECT_TRUE(Contains(unanchored.out, " by " + kAuthority + " (untrusted)\n")) << unanchored.out;
  EXPECT_TRUE(Contains(unanchored.out, "  Trust: trusted (CN=Vellum Test Root")) << unanchored.out;

  Result json = RunCli({"verify", signature, "--attached", "--binary", "--to-temp", "--json"});
  ASSERT_EQ(json.code, kOk);
  WriteFile(tmp_.File("out.json"), json.out);
  WriteFile(tmp_.File("check.py"),
            "import json, sys\nt = json.load(open(sys.argv[1]))['signers'][0]['timestamp']\n"
            "print(t['authority'], t['trust'], t['reason'], type(t['time_unix']).__name__, "
            "len(t['time']), sep='|')\n");
  std::string printed;
  ASSERT_EQ(
      testing::RunCommand("python3 '" + tmp_.File("check.py") + "' '" + tmp_.File("out.json") + "'",
                          &printed),
      0)
      << json.out;
  EXPECT_EQ(printed.substr(0, printed.find('|', kAuthority.size() + 1)), kAuthority + "|untrusted");
  EXPECT_TRUE(Contains(printed, "|int|19\n")) << printed;
}

// Every signing method asks, and every verify method reports: SignFile and SignZipFile,
// VerifyFile, VerifyNSEFile and VerifyZipFile.
TEST_F(TimestampCliTest, EverySigningAndVerifyingPath) {
  testing::PutInStore("My", pki_.signer);
  WriteFile(tmp_.File("pw"), "secret");
  struct Case {
    const char* why;
    std::vector<std::string> sign;
    std::vector<std::string> verify;
  };
  const std::vector<Case> cases = {
      {"verify-nse of a detached signature",
       {},
       {"verify-nse", In("doc_DSignature.txt"), "--original", In("doc.txt")}},
      {"a packed signature",
       {"--zip", "--attached", "--user", "ann", "--password-file", tmp_.File("pw"), "--encrypt"},
       {"verify", In("doc_ContentSignature.trel"), "--zip", "--attached", "--to-temp", "--user",
        "ann", "--password-file", tmp_.File("pw")}},
      {"an attached encrypted signature",
       {"--attached", "--user", "ann", "--password-file", tmp_.File("pw"), "--encrypt"},
       {"verify", In("doc_ContentSignature.txt"), "--attached", "--to-temp", "--user", "ann",
        "--password-file", tmp_.File("pw"), "--decrypt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> sign = c.sign;
    sign.insert(sign.end(), {"--tsa", Url("ok")});
    Result s = Sign(sign);
    ASSERT_EQ(s.code, kOk) << s.out << s.err;
    std::vector<std::string> verify = c.verify;
    verify.insert(verify.end(), {"--trust-anchors", TsaRoot()});
    Result v = RunCli(verify);
    EXPECT_EQ(v.code, kOk) << v.out << v.err;
    EXPECT_TRUE(std::regex_search(v.out, kTrustedStampLine)) << v.out;
  }
}

// An authority that fails stops the signing with the signing text and the reason; nothing is
// written.
TEST_F(TimestampCliTest, AFailingAuthorityWritesNothing) {
  testing::PutInStore("My", pki_.signer);
  ScopedEnv quick("VELLUM_TSA_TIMEOUT", "1");
  struct Case {
    const char* mode;
    std::vector<std::string> options;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"http-error", {}, "answered HTTP status 500"},
      {"rejection", {"--attached"}, "refused the request (rejection: no policy)"},
      {"slow", {}, "did not answer within 1 seconds"},
      {"large", {"--attached", "--binary"}, "larger than 256 KiB"},
      {"other-imprint", {}, "over another signature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    std::vector<std::string> options = c.options;
    options.insert(options.end(), {"--tsa", Url(c.mode)});
    Result s = Sign(options);
    EXPECT_EQ(s.code, kFailed);
    EXPECT_TRUE(Contains(s.out, kSigningFailed)) << s.out;
    EXPECT_TRUE(Contains(s.out, c.reason)) << s.out;
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(tmp_.File("in")))
      files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"doc.txt"});
  }
  Result bad = Sign({"--tsa", "ftp://127.0.0.1/"});
  EXPECT_EQ(bad.code, kUsage);
  EXPECT_TRUE(Contains(bad.err, "--tsa needs an http:// or https:// URL")) << bad.err;
}

TEST_F(TimestampCliTest, TimestampCommandAddsToExistingSignatures) {
  testing::PutInStore("My", pki_.signer);
  struct Case {
    const char* why;
    std::vector<std::string> sign_options;
    std::string file;
    std::vector<std::string> verify;  // after the file
  };
  const std::vector<Case> cases = {
      {"detached Base64", {}, "doc_DSignature.txt", {"--original", In("doc.txt")}},
      {"attached DER",
       {"--attached", "--binary"},
       "doc_ContentSignature.txt",
       {"--attached", "--binary", "--to-temp"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_EQ(Sign(c.sign_options).code, kOk);
    const std::string signature = In(c.file);
    const bool binary = c.sign_options.size() > 1;
    std::vector<std::string> stamp = {"timestamp", signature, "--tsa", Url("ok")};
    if (binary) stamp.push_back("--binary");

    // A failing authority leaves the file as it was.
    const std::string unstamped = ReadFile(signature);
    std::vector<std::string> failing = {"timestamp", signature, "--tsa", Url("http-error")};
    if (binary) failing.push_back("--binary");
    Result failed = RunCli(failing);
    EXPECT_EQ(failed.code, kFailed);
    EXPECT_TRUE(Contains(failed.err, "answered HTTP status 500")) << failed.err;
    EXPECT_EQ(ReadFile(signature), unstamped);

    Result stamped = RunCli(stamp);
    EXPECT_EQ(stamped.code, kOk) << stamped.err;
    EXPECT_EQ(stamped.out, "Timestamped 1 signer of " + signature + " by " + Url("ok") + ".\n");
    EXPECT_EQ(ReadFile(signature).front(), binary ? '\x30' : 'M');

    std::vector<std::string> verify = {"verify", signature, "--trust-anchors", TsaRoot()};
    verify.insert(verify.end(), c.verify.begin(), c.verify.end());
    Result v = RunCli(verify);
    EXPECT_EQ(v.code, kOk) << v.out << v.err;
    EXPECT_TRUE(std::regex_search(v.out, kTrustedStampLine)) << v.out;

    // Once is enough: a second run changes nothing.
    const std::string once = ReadFile(signature);
    Result again = RunCli(stamp);
    EXPECT_EQ(again.code, kOk);
    EXPECT_TRUE(Contains(again.out, "has a timestamp already")) << again.out;
    EXPECT_EQ(ReadFile(signature), once);

    // The wrong form for the file is refused, the file untouched.
    std::vector<std::string> wrong = {"timestamp", signature, "--tsa", Url("ok")};
    if (!binary) wrong.push_back("--binary");
    EXPECT_EQ(RunCli(wrong).code, kFailed);
    EXPECT_EQ(ReadFile(signature), once);
  }

  // What no signed message is, and a missing authority.
  WriteFile(In("not-a-signature.txt"), "TWFu\r\n");
  Result none = RunCli({"timestamp", In("not-a-signature.txt"), "--tsa", Url("ok")});
  EXPECT_EQ(none.code, kFailed);
  EXPECT_TRUE(Contains(none.err, "holds no signed message")) << none.err;
  Result no_authority = RunCli({"timestamp", In("doc_DSignature.txt")});
  EXPECT_EQ(no_authority.code, kUsage);
  EXPECT_TRUE(Contains(no_authority.err, "no time-stamping authority")) << no_authority.err;
  Result missing = RunCli({"timestamp", In("missing.txt"), "--tsa", Url("ok")});
  EXPECT_EQ(missing.code, kFailed);
}

// A certificate that expires seconds after it signed, timestamped while it was valid: verified
// past its expiry, the signer is still trusted, because of the timestamp.
TEST_F(TimestampCliTest, ExpiredSignerWithATrustedTimestampIsTrusted) {
  testing::CertOptions brief;
  brief.subject = "CN=Brief Signer, O=Example Ltd, C=GB";
  brief.key = testing::KeyKind::kRsa2048;
  brief.not_after_offset = 3;
  const testing::TestCert signer = testing::MakeCert(brief, &pki_.intermediate);
  const std::time_t expiry = std::time(nullptr) + 3;
  testing::PutInStore("My", signer);
  ASSERT_EQ(Sign({"--tsa", Url("ok")}).code, kOk);
  ASSERT_EQ(Sign({"--suffix", "_plain.txt"}).code, kOk);
  while (std::time(nullptr) <= expiry + 1)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

  Result v = VerifyDetached({"--require-trust"});
  EXPECT_EQ(v.code, kOk) << v.out << v.err;
  EXPECT_TRUE(Contains(v.out,
                       "  Trust: trusted (valid at the timestamp, under CN=Vellum Test "
                       "Root"))
      << v.out;
  EXPECT_TRUE(std::regex_search(v.out, kTrustedStampLine)) << v.out;

  // The same signer without a timestamp has expired.
  Result plain = RunCli({"verify", In("doc_plain.txt"), "--original", In("doc.txt"),
                         "--trust-anchors", TsaRoot(), "--require-trust"});
  EXPECT_EQ(plain.code, kNotTrusted) << plain.out;
  EXPECT_TRUE(Contains(plain.out, "  Trust: expired (CN=Brief Signer")) << plain.out;
}

}  // namespace
}  // namespace vellum::cli
