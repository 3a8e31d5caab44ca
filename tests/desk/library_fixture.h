// The real library for the desk's end-to-end tests: libvellum registered in a registry file of
// the test's own, a signer certificate in a store folder, files signed through the registered
// DigitalSign, and a recorder around the desk's DigitalSign objects that counts the calls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "desk/digital_sign.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum::desk::testing {

// `text` with "*" appended up to `length` characters, as the desk pads ids and passwords.
std::string Padded(const std::string& text, std::size_t length);

struct SignRequest {
  std::string input;
  bool detached = true;
  bool binary = false;
  std::string user;  // already padded as the desk will pad it
  std::string password;
  bool encrypt = false;
  std::string suffix;   // empty: the library's default
  bool packed = false;  // SignZipFile instead of SignFile
};

class RegisteredLibrary {
 public:
  RegisteredLibrary();
  ~RegisteredLibrary();
  RegisteredLibrary(const RegisteredLibrary&) = delete;
  RegisteredLibrary& operator=(const RegisteredLibrary&) = delete;

  // Whether the library was loaded and registered.
  bool ok() const { return registered_; }
  // A fresh folder for the files of one test, and a path in it.
  const std::string& folder() const { return files_.path(); }
  std::string File(const std::string& name) const { return files_.File(name); }
  // Where content restored without an output folder lands (the library's temporary folder).
  std::string TempFile(const std::string& name) const { return temp_.File(name); }
  // Signs through the registered DigitalSign; returns the library's message, empty when the
  // signing failed (the test then fails).
  std::string Sign(const SignRequest& request);
  const std::string& signer_subject() const { return signer_subject_; }
  // Puts the signer's issuing CA in the "CA" store and its root in "Root": the signer is then
  // trusted.
  void AnchorRoot();

 private:
  vellum::testing::TempFolder root_;
  vellum::testing::TempFolder files_;
  vellum::testing::TempFolder temp_;
  std::unique_ptr<vellum::testing::ScopedEnv> registry_;
  std::unique_ptr<vellum::testing::ScopedEnv> stores_;
  std::unique_ptr<vellum::testing::ScopedEnv> tmpdir_;
  void* module_ = nullptr;
  bool registered_ = false;
  std::string signer_subject_;
  std::shared_ptr<vellum::testing::TestPki> pki_;
};

// Passes every call on to the real object and notes its method and arguments.
struct RecordedCall {
  QString method;
  VerifyArguments in;
};

class RecordingFactory {
 public:
  explicit RecordingFactory(DigitalSignFactory real) : real_(std::move(real)) {}
  DigitalSignFactory Factory();
  std::vector<RecordedCall> calls;

 private:
  DigitalSignFactory real_;
};

}  // namespace vellum::desk::testing
