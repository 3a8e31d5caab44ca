#include "tests/support/soft_token.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <stdexcept>

#include "library/crypto/ossl.h"

namespace vellum::testing {
namespace {

// Single quotes for /bin/sh; the test's own names hold none.
std::string Quote(const std::string& s) {
  if (s.find('\'') != std::string::npos) throw std::runtime_error("quote in a test name: " + s);
  return "'" + s + "'";
}

std::string Pkcs8Der(EVP_PKEY* key) {
  crypto::ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || i2d_PKCS8PrivateKey_bio(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
    throw std::runtime_error("soft token: the key could not be written");
  return crypto::ossl::MemoryContents(bio.get());
}

}  // namespace

std::string SoftToken::ModulePath() {
  for (const char* path :
       {"/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so",
        "/usr/lib64/pkcs11/libsofthsm2.so"})
    if (access(path, R_OK) == 0) return path;
  throw std::runtime_error("soft token: no SoftHSM2 module (install softhsm2)");
}

SoftToken::SoftToken(const std::string& label) : label_(label) {
  const std::string tokens = folder_.File("tokens");
  const std::string conf = folder_.File("softhsm2.conf");
  Run("mkdir " + Quote(tokens));
  WriteFile(conf, "directories.tokendir = " + tokens +
                      "\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n");
  conf_ = std::make_unique<ScopedEnv>("SOFTHSM2_CONF", conf);
  module_ = std::make_unique<ScopedEnv>("VELLUM_PKCS11_MODULE", ModulePath());
  AddToken(label);
}

SoftToken::~SoftToken() = default;

void SoftToken::AddToken(const std::string& label) {
  Run("softhsm2-util --init-token --free --label " + Quote(label) + " --so-pin " + kSoPin +
      " --pin " + kUserPin);
}

void SoftToken::Put(const TestCert& cert, const std::string& id_hex, const std::string& object,
                    bool with_key, const std::string& token_label) {
  const std::string token = token_label.empty() ? label_ : token_label;
  const std::string tool = "pkcs11-tool --module " + Quote(ModulePath()) + " --token-label " +
                           Quote(token) + " --login --pin " + kUserPin + " --id " + id_hex +
                           " --label " + Quote(object) + " --write-object ";
  const std::string cert_file = folder_.File(id_hex + ".cer");
  WriteFile(cert_file, cert.Der());
  if (with_key) {
    const std::string key_file = folder_.File(id_hex + ".key.der");
    WriteFile(key_file, Pkcs8Der(cert.key()));
    Run(tool + Quote(key_file) + " --type privkey");
    unlink(key_file.c_str());
  }
  Run(tool + Quote(cert_file) + " --type cert");
}

std::string SoftToken::Uri() const {
  std::string uri = "pkcs11:token=";
  for (char c : label_) uri += c == ' ' ? std::string("%20") : std::string(1, c);
  return uri;
}

void SoftToken::Run(const std::string& command) const {
  std::string output;
  if (RunCommand(command + " 2>&1", &output) != 0)
    throw std::runtime_error("soft token: `" + command + "` failed:\n" + output);
}

}  // namespace vellum::testing
