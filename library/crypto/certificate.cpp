#include "library/crypto/certificate.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/sha.h>

#include <strings.h>
#include <array>

#include <cstring>
#include <vector>

#include "library/crypto/codec.h"
#include "library/platform/error.h"
#include "library/platform/text.h"

namespace vellum::crypto {
namespace {

struct NameKey {
  int nid;
  const char* key;
};

// The keys the original platform's name strings used.
constexpr std::array<NameKey, 15> kNameKeys{{
    {NID_commonName, "CN"},
    {NID_organizationalUnitName, "OU"},
    {NID_organizationName, "O"},
    {NID_localityName, "L"},
    {NID_stateOrProvinceName, "S"},
    {NID_countryName, "C"},
    {NID_pkcs9_emailAddress, "E"},
    {NID_streetAddress, "STREET"},
    {NID_title, "T"},
    {NID_givenName, "G"},
    {NID_initials, "I"},
    {NID_surname, "SN"},
    {NID_domainComponent, "DC"},
    {NID_serialNumber, "SERIALNUMBER"},
    {NID_postalCode, "PostalCode"},
}};

std::string KeyFor(const ASN1_OBJECT* object) {
  int nid = OBJ_obj2nid(object);
  for (const auto& k : kNameKeys)
    if (k.nid == nid) return k.key;
  char dotted[128];
  OBJ_obj2txt(dotted, sizeof dotted, object, 1);
  return std::string("OID.") + dotted;
}

std::string ValueText(const ASN1_STRING* value) {
  unsigned char* raw = nullptr;
  int length = ASN1_STRING_to_UTF8(&raw, value);
  if (length < 0) return {};
  ossl::OpensslBytes owned(raw);
  return std::string(reinterpret_cast<char*>(raw), static_cast<std::size_t>(length));
}

std::string Quoted(const std::string& value) {
  if (value.find_first_of(",+=\"") == std::string::npos) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

int NidFor(const std::string& key) {
  for (const auto& k : kNameKeys)
    if (strcasecmp(k.key, key.c_str()) == 0) return k.nid;
  if (strcasecmp(key.c_str(), "ST") == 0) return NID_stateOrProvinceName;
  if (strcasecmp(key.c_str(), "EMAIL") == 0) return NID_pkcs9_emailAddress;
  return NID_undef;
}

}  // namespace

Certificate::Certificate(ossl::X509Ptr cert, ossl::PkeyPtr key)
    : cert_(std::move(cert)), key_(std::move(key)) {
  if (!cert_) throw Error::Component(hr::kInvalidArg, "No certificate.");
}

Certificate Certificate::FromShared(X509* cert) {
  if (cert == nullptr || X509_up_ref(cert) != 1)
    throw Error::Component(hr::kInvalidArg, "No certificate.");
  return Certificate(ossl::X509Ptr(cert));
}

std::string Certificate::SubjectName() const {
  return FormatName(X509_get_subject_name(x509()));
}
std::string Certificate::IssuerName() const {
  return FormatName(X509_get_issuer_name(x509()));
}
std::time_t Certificate::ValidFrom() const {
  return TimeFromAsn1(X509_get0_notBefore(x509()));
}
std::time_t Certificate::ValidTo() const {
  return TimeFromAsn1(X509_get0_notAfter(x509()));
}

std::string Certificate::Thumbprint() const {
  unsigned char digest[SHA_DIGEST_LENGTH];
  unsigned int length = 0;
  if (X509_digest(x509(), EVP_sha1(), digest, &length) != 1)
    ossl::Fail(hr::kFail, "The certificate could not be hashed.");
  return HexUpper(std::string_view(reinterpret_cast<char*>(digest), length));
}

std::string Certificate::Sha256Thumbprint() const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(x509(), EVP_sha256(), digest, &length) != 1)
    ossl::Fail(hr::kFail, "The certificate could not be hashed.");
  return HexUpper(std::string_view(reinterpret_cast<char*>(digest), length));
}

bool Certificate::SameAs(const Certificate& other) const {
  return X509_cmp(x509(), other.x509()) == 0;
}

std::string FormatName(const X509_NAME* name) {
  std::string out;
  int count = X509_NAME_entry_count(name);
  int previous_set = -1;
  for (int i = count - 1; i >= 0; --i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    int set = X509_NAME_ENTRY_set(entry);
    if (!out.empty()) out += set == previous_set ? " + " : ", ";
    previous_set = set;
    out += KeyFor(X509_NAME_ENTRY_get_object(entry));
    out += '=';
    out += Quoted(ValueText(X509_NAME_ENTRY_get_data(entry)));
  }
  return out;
}

ossl::X509NamePtr ParseName(const std::string& text) {
  struct Part {
    int nid;
    std::string value;
  };
  std::vector<Part> parts;
  std::size_t i = 0;
  auto bad = [&] {
    throw Error::Component(hr::kInvalidArg, "The name \"" + text + "\" is malformed.");
  };
  while (i < text.size()) {
    std::size_t eq = text.find('=', i);
    if (eq == std::string::npos) bad();
    int nid = NidFor(TrimSpaces(text.substr(i, eq - i)));
    if (nid == NID_undef) bad();
    i = eq + 1;
    while (i < text.size() && text[i] == ' ') ++i;
    std::string value;
    if (i < text.size() && text[i] == '"') {
      for (++i;; ++i) {
        if (i >= text.size()) bad();
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            value += '"';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        value += text[i];
      }
      while (i < text.size() && text[i] == ' ') ++i;
      if (i < text.size() && text[i] != ',') bad();
    } else {
      std::size_t comma = text.find(',', i);
      if (comma == std::string::npos) comma = text.size();
      value = TrimSpaces(text.substr(i, comma - i));
      i = comma;
    }
    if (value.empty()) bad();
    parts.push_back({nid, value});
    if (i < text.size()) ++i;  // the comma
  }
  if (parts.empty()) bad();
  ossl::X509NamePtr name(X509_NAME_new());
  if (!name) ossl::Fail(hr::kOutOfMemory, "Out of memory.");
  // The text reads most specific first; DER order is the reverse.
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(it->value.data());
    if (X509_NAME_add_entry_by_NID(name.get(), it->nid, MBSTRING_UTF8, bytes,
                                   static_cast<int>(it->value.size()), -1, 0) != 1)
      ossl::Fail(hr::kInvalidArg, "The name \"" + text + "\" could not be used.");
  }
  return name;
}

std::time_t TimeFromAsn1(const ASN1_TIME* time) {
  std::tm tm{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1)
    ossl::Fail(hr::kFail, "The certificate carries a malformed date.");
  return timegm(&tm);
}

}  // namespace vellum::crypto
