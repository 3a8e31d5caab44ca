// A certificate as the component's callers see it: names, validity, and whether a usable
// private key came with it.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "library/crypto/ossl.h"

namespace vellum::crypto {

class Certificate {
 public:
  // Takes shared ownership of `cert` and, when given, its matching private key.
  explicit Certificate(ossl::X509Ptr cert, ossl::PkeyPtr key = nullptr);
  // Another reference to the same X509 (its reference count goes up).
  static Certificate FromShared(X509* cert);

  // Most specific first: "CN=Ann Lee, O=Example Ltd, C=GB" (see FormatName).
  std::string SubjectName() const;
  std::string IssuerName() const;
  std::time_t ValidFrom() const;
  std::time_t ValidTo() const;
  bool HasPrivateKey() const { return key_ != nullptr; }

  // SHA-1 of the DER, uppercase hex: the name a store file gets, and an identity check.
  std::string Thumbprint() const;
  // SHA-256 of the DER, uppercase hex: the thumbprint newer tools show.
  std::string Sha256Thumbprint() const;
  bool SameAs(const Certificate& other) const;

  X509* x509() const { return cert_.get(); }
  EVP_PKEY* private_key() const { return key_.get(); }
  void set_private_key(std::shared_ptr<EVP_PKEY> key) { key_ = std::move(key); }

  // The store file the private key was read from when that file is readable by its group or
  // by others (a key anyone on the machine may copy); empty otherwise.
  const std::string& exposed_key_file() const { return exposed_key_file_; }
  void set_exposed_key_file(std::string file) { exposed_key_file_ = std::move(file); }

 private:
  std::shared_ptr<X509> cert_;
  std::shared_ptr<EVP_PKEY> key_;
  std::string exposed_key_file_;
};

// The text form of a distinguished name, most specific first (the reverse of DER order), each
// attribute as KEY=value with the keys CN, OU, O, L, S, C, E (and a few rarer ones; unknown
// attributes as OID.n.n.n), joined by ", "; attributes sharing one RDN joined by " + ". A value
// holding a comma, plus, equals sign or quote is put in quotes with inner quotes doubled.
std::string FormatName(const X509_NAME* name);

// The reverse: builds an X509_NAME from "CN=Ann Lee, O=Example Ltd, C=GB" (quoted values
// allowed). Raises vellum::Error with hr::kInvalidArg for an unknown key or a malformed text.
ossl::X509NamePtr ParseName(const std::string& text);

// ASN1_TIME to seconds since the epoch; raises vellum::Error on a malformed time.
std::time_t TimeFromAsn1(const ASN1_TIME* time);

}  // namespace vellum::crypto
