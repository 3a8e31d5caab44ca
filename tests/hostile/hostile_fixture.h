// The hostile-input battery and the fault tests: DigitalSign, Encryption and Zip called
// in-process through their vtables, as a client calls them, on temporary folders with a store
// of generated certificates. Every case checks the method's exact text and then the files:
// nothing written outside its folder, no existing file changed, no temporary file left.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "library/com/variant.h"
#include "tests/support/host_hooks.h"
#include "tests/support/test_pki.h"
#include "vellum/vellum.h"

namespace vellum::hostile {

using Bytes = std::string;

inline const std::string kCrLf = "\r\n";
inline const std::string kNotValid = "Signature or Certificate is not valid. ";
inline const std::string kCantUnzip = "Can't Unzip the file.";

// The UTF-16LE units of an ASCII text.
Bytes Units(const std::string& ascii);

// The arguments of VerifyFile, VerifyZipFile and VerifyNSEFile as a caller holds them.
struct VerifyCall {
  explicit VerifyCall(const std::string& signature, bool detached = false, bool binary = false);
  com::Variant fingerprint;
  com::Variant detached;
  com::Variant binary;
  com::Variant details;
  com::Variant original = com::Variant::Text("x");  // attached: restore beside the signature
  com::Variant message = com::Variant::Text("");
  com::Variant open = com::Variant::Bool(false);
  com::Variant user = com::Variant::Text("");
  com::Variant password = com::Variant::Text("");
  com::Variant decrypt = com::Variant::Bool(false);
  com::Variant hash_algorithm = com::Variant::Short(0);
  com::Variant encryption_algorithm = com::Variant::Short(4);
  com::Variant trim = com::Variant::Text("N");

  void Credentials(const std::string& u, const std::string& p, bool decrypt_file);
  // Each checks that the method answered S_OK with a proper Boolean, and returns it.
  bool File();
  bool Zip();
  bool Nse();
  std::string Message() const { return message.Utf8(); }
  std::string Original() const { return original.Utf8(); }
};

// Every regular file under a folder with its content, by path relative to the folder.
using Snapshot = std::map<std::string, Bytes>;
Snapshot Take(const std::string& folder);

// What the work and temporary folders of a test hold.
struct Everything {
  Snapshot work, temp;
  friend bool operator==(const Everything&, const Everything&) = default;
};

class HostileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  static const testing::TestPki& Pki() { return *pki_; }

  // work/<name> after writing `data` there (folders on the way are created).
  std::string Put(const std::string& name, const Bytes& data);
  std::string W(const std::string& name) const { return work_.File(name); }
  const std::string& Work() const { return work_.path(); }
  const std::string& Temp() const { return temp_.path(); }

  // Calls SignFile (or SignZipFile with `zip`); returns its result and its message.
  bool CallSign(const std::string& input, bool detached, bool binary, std::string* message,
                const std::string& user = "", const std::string& password = "",
                bool encrypt = false, bool zip = false);
  // Signs with SignFile and returns the signature file's path; fails the test otherwise.
  std::string Sign(const std::string& input, bool detached, bool binary,
                   const std::string& user = "", const std::string& password = "",
                   bool encrypt = false);
  // Signs attached with SignZipFile under user "ann" and `password`; returns the .trel path.
  std::string SignZip(const std::string& input, bool binary, const std::string& password);

  // What work and temp hold, for "nothing written, nothing damaged" checks.
  Everything All() const { return {Take(work_.path()), Take(temp_.path())}; }

  // The texts the Zip class showed in its message box since the last call.
  std::vector<std::string> TakeBoxes();

  testing::TempFolder stores_;
  testing::TempFolder work_;
  testing::TempFolder temp_;

 private:
  static std::unique_ptr<testing::TestPki> pki_;
  std::unique_ptr<testing::ScopedStoreRoot> store_root_;
  std::unique_ptr<testing::ScopedEnv> tmpdir_;
  std::unique_ptr<testing::ScopedHostHooks> hooks_;
  std::size_t boxes_seen_ = 0;
};

// A readable dump of what changed between two snapshots, for failure messages.
std::string Difference(const Everything& before, const Everything& after);

}  // namespace vellum::hostile
