// A software token for the tests: a SoftHSM2 token made in a temporary folder, with its own
// configuration (SOFTHSM2_CONF) and the SoftHSM2 module chosen through VELLUM_PKCS11_MODULE,
// both set for the life of the object. Keys and certificates go on it with the opensc tool
// pkcs11-tool, as an administrator would put them on a card:
//
//   softhsm2-util --init-token --free --label LABEL --so-pin SO --pin PIN
//   pkcs11-tool --module M --token-label LABEL --login --pin PIN
//       --write-object key.der --type privkey --id ID --label NAME  (the key, PKCS#8 DER)
//   pkcs11-tool ... --write-object cert.der --type cert --id ID --label NAME
//
// The packages softhsm2 and opensc provide the programs (scripts/install-deps installs them).
#pragma once

#include <memory>
#include <string>

#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum::testing {

class SoftToken {
 public:
  static constexpr const char* kUserPin = "246810";
  static constexpr const char* kSoPin = "13579111";

  // Creates the token folder and configuration and initialises one token labelled `label`.
  // Throws std::runtime_error when a program is missing or fails.
  explicit SoftToken(const std::string& label = "Office Card");
  ~SoftToken();

  // Another token in the same module (the same configuration).
  void AddToken(const std::string& label);

  // Writes `cert` to the token `token_label` (default: the first) under the CKA_ID `id_hex`
  // and the label `object`; its private key too unless `with_key` is false.
  void Put(const TestCert& cert, const std::string& id_hex, const std::string& object,
           bool with_key = true, const std::string& token_label = "");

  // "pkcs11:token=..." naming the first token.
  std::string Uri() const;
  const std::string& Label() const { return label_; }
  const std::string& Folder() const { return folder_.path(); }
  // The SoftHSM2 module this machine has.
  static std::string ModulePath();

 private:
  void Run(const std::string& command) const;

  TempFolder folder_;
  std::string label_;
  std::unique_ptr<ScopedEnv> conf_;
  std::unique_ptr<ScopedEnv> module_;
};

}  // namespace vellum::testing
