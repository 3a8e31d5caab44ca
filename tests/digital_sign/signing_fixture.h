// End-to-end checks of DigitalSign's signing and verifying methods: the objects are created
// in-process and called through the _DigitalSign vtable with the variants a client passes, on
// temporary folders with a store of generated certificates. The expected texts and files are
// worked out here from what the methods promise, not from the library's own helpers, so these
// tests stand as an independent check of the classes.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/com/client.h"
#include "library/com/variant.h"
#include "library/platform/shell_open.h"
#include "tests/support/test_pki.h"
#include "vellum/vellum.h"

namespace vellum::signing_test {

using Bytes = std::string;

inline const std::string kCrLf = "\r\n";
inline const std::string kSignerSubject = "CN=Ann Lee, O=Example Ltd, C=GB";
inline const std::string kIssuingSubject = "CN=Vellum Test Issuing CA, O=Vellum Test, C=GB";
inline const std::string kRootSubject = "CN=Vellum Test Root, O=Vellum Test, C=GB";

// ---- Plain helpers ---------------------------------------------------------------------------

// DD/MM/YYYY and DD/MM/YYYY HH:MM:SS (date alone at midnight), local time.
std::string LongDate(std::time_t when);
std::string GeneralDate(std::time_t when);
// The certificate's notAfter as a calendar time.
std::time_t NotAfter(const testing::TestCert& cert);
// Local midnight at the start of the day holding `when`.
std::time_t StartOfDay(std::time_t when);

// The UTF-16LE bytes of an ANSI (Windows-1252) text. Only the code points the tests use are
// mapped beyond Latin-1 (0x80, the euro sign), so the mapping stays independent of the
// library's own conversion.
Bytes AnsiToUnits(std::string_view ansi);
// The credentials hash as both sides compute it: uppercase hexadecimal of the digest of the
// UTF-16LE bytes of user id followed by password. `digest` is an OpenSSL name ("SHA1", ...).
std::string CredentialsHash(const std::string& user, const std::string& password,
                            const char* digest = "SHA1");
// Standard Base64 on one line (readers accept any line layout).
std::string EncodeBase64(const Bytes& bytes);
// Standard Base64 of any line layout back to bytes.
Bytes DecodeBase64(const std::string& text);
// The two-digit trailer of an attached content.
std::string Digits(std::size_t length);

// ---- Calls -----------------------------------------------------------------------------------

com::ComPtr<_DigitalSign> MakeDigitalSign();

// The fourteen arguments of SignFile and SignZipFile as a caller holds them. Defaults are the
// values a typical client passes: a detached Base64 signature from the default store, without
// credentials or filters.
struct SignCall {
  explicit SignCall(std::string input_path) : input(com::Variant::Text(input_path)) {}
  com::Variant input;
  com::Variant detached = com::Variant::Bool(true);
  com::Variant binary = com::Variant::Bool(false);
  com::Variant store = com::Variant::Text("");
  com::Variant extension = com::Variant::Text("");
  com::Variant message = com::Variant::Text("");
  com::Variant user = com::Variant::Text("");
  com::Variant password = com::Variant::Text("");
  com::Variant encrypt = com::Variant::Bool(false);
  com::Variant person = com::Variant::Text("");
  com::Variant mail = com::Variant::Text("");
  com::Variant company = com::Variant::Text("");
  com::Variant hash_algorithm = com::Variant::Short(0);
  com::Variant encryption_algorithm = com::Variant::Short(3);

  std::string Message() const { return Text(message); }
  std::string Extension() const { return Text(extension); }
  static std::string Text(const com::Variant& v);
};

// The arguments of VerifyFile and VerifyZipFile (VerifyNSEFile uses fingerprint, binary,
// original and message).
struct VerifyCall {
  explicit VerifyCall(std::string fingerprint_path)
      : fingerprint(com::Variant::Text(fingerprint_path)) {}
  com::Variant fingerprint;
  com::Variant detached = com::Variant::Bool(true);
  com::Variant binary = com::Variant::Bool(false);
  com::Variant details;
  com::Variant original = com::Variant::Text("");
  com::Variant message = com::Variant::Text("");
  com::Variant open = com::Variant::Bool(false);
  com::Variant user = com::Variant::Text("");
  com::Variant password = com::Variant::Text("");
  com::Variant decrypt = com::Variant::Bool(false);
  com::Variant hash_algorithm = com::Variant::Short(0);
  com::Variant encryption_algorithm = com::Variant::Short(3);
  com::Variant trim = com::Variant::Text("N");

  std::string Message() const { return SignCall::Text(message); }
  std::string Original() const { return SignCall::Text(original); }
  // The details array; an empty list when it is not an array of texts.
  std::vector<std::string> Details() const;
};

// Each call checks that the method itself answered S_OK (no failure crosses the vtable) and
// that the result is a Boolean; it returns that Boolean.
bool CallSignFile(SignCall& c);
bool CallSignZipFile(SignCall& c);
bool CallVerifyFile(VerifyCall& c);
bool CallVerifyZipFile(VerifyCall& c);
bool CallVerifyNSEFile(VerifyCall& c);

// ---- Fixture ---------------------------------------------------------------------------------

// What the fake certificate chooser saw.
struct ChooserLog {
  int calls = 0;
  std::string title;
  std::string prompt;
  std::vector<std::string> subjects;
  // The subject to pick (substring match); empty cancels.
  std::string pick;
  // When set (not -2), the index answered whatever was offered.
  int forced = -2;
};

// What the fake PIN entry was asked, and what it answers.
struct PinLog {
  std::vector<std::string> tokens;    // one entry per request
  std::optional<std::string> answer;  // nullopt cancels
};

// A store root with the test PKI (signer with key in "My", issuing CA in "CA", root in "Root"),
// a work folder, $TMPDIR pointed at a folder of the test, a fake chooser, PIN entry and message
// box, a shell opener that records instead of starting anything, and a local zone whose date is not
// UTC's, so any mix of local and UTC dates shows.
class SigningTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  static const testing::TestPki& Pki() { return *pki_; }

  // work/<name>, after writing `data` there (folders on the way are created).
  std::string Put(const std::string& name, const Bytes& data);
  std::string W(const std::string& name) const { return work_.File(name); }
  std::string T(const std::string& name) const { return temp_.File(name); }
  const std::string& TempPath() const { return temp_.path(); }
  // Names in work/<folder> ("" for work itself), sorted.
  std::vector<std::string> List(const std::string& folder = "") const;

  // Signs `input` with SignFile and returns the signature file's path (empty on failure).
  std::string Sign(const std::string& input, bool detached, bool binary = false,
                   const std::string& user = "", const std::string& password = "",
                   bool encrypt = false);

  // Runs openssl in the work folder; 0 on success. The log goes to stderr on an unexpected
  // failure (`expect_failure` false).
  int Openssl(const std::string& args, bool expect_failure = false);

  // The success text of the signing methods.
  static std::string SignedText(const std::string& signature_file, const std::string& store = "",
                                const std::string& subject = kSignerSubject);
  // The details element of a signer certified by the test PKI's issuing CA and root.
  static std::string ChainDetails(const testing::TestCert& signer,
                                  const std::string& subject = kSignerSubject);

  testing::TempFolder stores_;
  testing::TempFolder work_;
  testing::TempFolder temp_;
  ChooserLog chooser_;
  PinLog pin_;
  std::vector<std::string> boxes_;   // texts shown in the message box
  std::vector<std::string> opened_;  // paths handed to the shell
  int shell_answer_ = platform::kShellOpenStarted;

 private:
  static std::unique_ptr<testing::TestPki> pki_;
  std::unique_ptr<testing::ScopedStoreRoot> store_root_;
  std::unique_ptr<testing::ScopedEnv> tmpdir_;
  std::unique_ptr<testing::ScopedEnv> zone_;
};

}  // namespace vellum::signing_test
