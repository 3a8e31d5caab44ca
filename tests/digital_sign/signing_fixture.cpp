#include "tests/digital_sign/signing_fixture.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "library/com/object.h"
#include "library/digital_sign/digital_sign.h"
#include "library/platform/hooks.h"

namespace vellum::signing_test {

std::string LongDate(std::time_t when) {
  std::tm tm{};
  localtime_r(&when, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%d/%m/%Y", &tm);
  return text;
}

std::string GeneralDate(std::time_t when) {
  std::tm tm{};
  localtime_r(&when, &tm);
  char text[32];
  const bool midnight = tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0;
  std::strftime(text, sizeof text, midnight ? "%d/%m/%Y" : "%d/%m/%Y %H:%M:%S", &tm);
  return text;
}

std::time_t NotAfter(const testing::TestCert& cert) {
  std::tm tm{};
  EXPECT_EQ(ASN1_TIME_to_tm(X509_get0_notAfter(cert.x509()), &tm), 1);
  return timegm(&tm);
}

std::time_t StartOfDay(std::time_t when) {
  std::tm tm{};
  localtime_r(&when, &tm);
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

Bytes AnsiToUnits(std::string_view ansi) {
  Bytes out;
  for (unsigned char c : ansi) {
    unsigned unit = c == 0x80 ? 0x20AC : c;
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

std::string CredentialsHash(const std::string& user, const std::string& password,
                            const char* digest) {
  const Bytes units = AnsiToUnits(user + password);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD* algorithm = EVP_MD_fetch(nullptr, digest, nullptr);
  EXPECT_NE(algorithm, nullptr) << digest;
  EXPECT_EQ(EVP_Digest(units.data(), units.size(), md, &length, algorithm, nullptr), 1);
  EVP_MD_free(algorithm);
  std::string hex;
  char two[3];
  for (unsigned i = 0; i < length; ++i) {
    std::snprintf(two, sizeof two, "%02X", md[i]);
    hex += two;
  }
  return hex;
}

std::string EncodeBase64(const Bytes& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Standard Base64 of any line layout back to bytes.
Bytes DecodeBase64(const std::string& text) {
  std::string compact;
  for (char c : text)
    if (c != '\r' && c != '\n' && c != ' ') compact += c;
  Bytes out(compact.size() / 4 * 3 + 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(compact.data()),
                                static_cast<int>(compact.size()));
  EXPECT_GE(n, 0) << "not Base64";
  std::size_t padding = 0;
  while (padding < compact.size() && compact[compact.size() - 1 - padding] == '=') ++padding;
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n) - padding);
  return out;
}

std::string Digits(std::size_t length) {
  char text[8];
  std::snprintf(text, sizeof text, "%02zu", length);
  return text;
}

com::ComPtr<_DigitalSign> MakeDigitalSign() {
  com::ClassFactory<DigitalSign> factory;
  com::ComPtr<_DigitalSign> sign;
  EXPECT_EQ(factory.CreateInstance(nullptr, IID__DigitalSign, sign.out()), com::S_OK);
  return sign;
}

std::string SignCall::Text(const com::Variant& v) {
  return v.type() == com::VT_BSTR ? v.Utf8() : "<not a text: vt " + std::to_string(v.type()) + ">";
}

std::vector<std::string> VerifyCall::Details() const {
  try {
    return com::ReadTextArray(details.value());
  } catch (...) {
    return {};
  }
}

namespace {

bool SignWith(SignCall& c, bool zip) {
  auto sign = MakeDigitalSign();
  // [out, retval]: the callee writes without clearing, as for any out-parameter.
  com::Variant result;
  VARIANT input = c.input.value();  // by value: the callee borrows it
  auto method = zip ? &_DigitalSign::SignZipFile : &_DigitalSign::SignFile;
  EXPECT_EQ(
      (sign.get()->*method)(input, c.detached.get(), c.binary.get(), c.store.get(),
                            c.extension.get(), c.message.get(), c.user.get(), c.password.get(),
                            c.encrypt.get(), c.person.get(), c.mail.get(), c.company.get(),
                            c.hash_algorithm.get(), c.encryption_algorithm.get(), result.get()),
      com::S_OK);
  EXPECT_EQ(result.type(), com::VT_BOOL) << "the result is a variant holding a Boolean";
  if (result.type() != com::VT_BOOL) return false;
  const auto value = result.value().boolVal;
  EXPECT_TRUE(value == com::VARIANT_TRUE || value == com::VARIANT_FALSE);
  return value == com::VARIANT_TRUE;
}

bool Answer(VARIANT_BOOL value) {
  EXPECT_TRUE(value == com::VARIANT_TRUE || value == com::VARIANT_FALSE) << value;
  return value == com::VARIANT_TRUE;
}

}  // namespace

bool CallSignFile(SignCall& c) {
  return SignWith(c, false);
}

bool CallSignZipFile(SignCall& c) {
  return SignWith(c, true);
}

bool CallVerifyFile(VerifyCall& c) {
  auto sign = MakeDigitalSign();
  VARIANT_BOOL ok = 7;
  EXPECT_EQ(sign->VerifyFile(c.fingerprint.get(), c.detached.get(), c.binary.get(), c.details.get(),
                             c.original.get(), c.message.get(), c.open.get(), c.user.get(),
                             c.password.get(), c.decrypt.get(), c.hash_algorithm.get(),
                             c.encryption_algorithm.get(), c.trim.get(), &ok),
            com::S_OK);
  return Answer(ok);
}

bool CallVerifyZipFile(VerifyCall& c) {
  auto sign = MakeDigitalSign();
  VARIANT_BOOL ok = 7;
  EXPECT_EQ(sign->VerifyZipFile(c.fingerprint.get(), c.detached.get(), c.binary.get(),
                                c.details.get(), c.original.get(), c.message.get(), c.open.get(),
                                c.user.get(), c.password.get(), c.decrypt.get(),
                                c.hash_algorithm.get(), c.encryption_algorithm.get(), &ok),
            com::S_OK);
  return Answer(ok);
}

bool CallVerifyNSEFile(VerifyCall& c) {
  auto sign = MakeDigitalSign();
  VARIANT_BOOL ok = 7;
  EXPECT_EQ(sign->VerifyNSEFile(c.fingerprint.get(), c.binary.get(), c.original.get(),
                                c.message.get(), &ok),
            com::S_OK);
  return Answer(ok);
}

// ---- Fixture ---------------------------------------------------------------------------------

std::unique_ptr<testing::TestPki> SigningTest::pki_;

void SigningTest::SetUpTestSuite() {
  if (!pki_) pki_ = std::make_unique<testing::TestPki>(testing::TestPki::Make(kSignerSubject));
}

void SigningTest::TearDownTestSuite() {
  pki_.reset();
}

namespace {

int ChooseHook(void* context, const char* title, const char* prompt,
               const VellumCertificateChoice* items, int count) {
  auto* log = static_cast<ChooserLog*>(context);
  ++log->calls;
  log->title = title != nullptr ? title : "";
  log->prompt = prompt != nullptr ? prompt : "";
  log->subjects.clear();
  int chosen = -1;
  for (int i = 0; i < count; ++i) {
    log->subjects.emplace_back(items[i].subject != nullptr ? items[i].subject : "");
    if (!log->pick.empty() && log->subjects.back().find(log->pick) != std::string::npos) chosen = i;
  }
  return log->forced != -2 ? log->forced : chosen;
}

std::vector<std::string>* g_boxes = nullptr;
PinLog* g_pin = nullptr;

int PinHook(void*, const char* token, char* pin, unsigned capacity) {
  if (g_pin == nullptr) return -1;
  g_pin->tokens.emplace_back(token != nullptr ? token : "");
  if (!g_pin->answer || g_pin->answer->size() >= capacity) return -1;
  std::memcpy(pin, g_pin->answer->c_str(), g_pin->answer->size() + 1);
  return 0;
}

void BoxHook(void*, const char* text) {
  if (g_boxes != nullptr) g_boxes->emplace_back(text != nullptr ? text : "");
}

}  // namespace

void SigningTest::SetUp() {
  store_root_ = std::make_unique<testing::ScopedStoreRoot>(stores_.path());
  tmpdir_ = std::make_unique<testing::ScopedEnv>("TMPDIR", temp_.path());
  // West of UTC in the UTC morning, east of it later: the local date is never the UTC date.
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  zone_ = std::make_unique<testing::ScopedEnv>("TZ", utc.tm_hour < 11 ? "VLM+11" : "VLM-13");
  tzset();
  testing::PutInStore("My", Pki().signer);
  testing::PutInStore("CA", Pki().intermediate, testing::StoreFormat::kPemNoKey);
  testing::PutInStore("Root", Pki().root, testing::StoreFormat::kPemNoKey);

  g_boxes = &boxes_;
  g_pin = &pin_;
  VellumHostHooks hooks{};
  hooks.struct_size = sizeof hooks;
  hooks.context = &chooser_;
  hooks.message_box = &BoxHook;
  hooks.choose_certificate = &ChooseHook;
  hooks.ask_pin = &PinHook;
  ASSERT_EQ(platform::SetHostHooks(&hooks), 0);
  platform::SetShellOpenerForTesting([this](const std::string& path) {
    opened_.push_back(path);
    return shell_answer_;
  });
}

void SigningTest::TearDown() {
  platform::SetHostHooks(nullptr);
  platform::SetShellOpenerForTesting(nullptr);
  g_boxes = nullptr;
  g_pin = nullptr;
  tmpdir_.reset();
  store_root_.reset();
  zone_.reset();
  tzset();
}

std::string SigningTest::Put(const std::string& name, const Bytes& data) {
  const std::string path = W(name);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  testing::WriteFile(path, data);
  return path;
}

std::vector<std::string> SigningTest::List(const std::string& folder) const {
  std::vector<std::string> names;
  const std::string dir = folder.empty() ? work_.path() : W(folder);
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string SigningTest::Sign(const std::string& input, bool detached, bool binary,
                              const std::string& user, const std::string& password, bool encrypt) {
  SignCall sign(input);
  sign.detached = com::Variant::Bool(detached);
  sign.binary = com::Variant::Bool(binary);
  sign.user = com::Variant::Text(user);
  sign.password = com::Variant::Text(password);
  sign.encrypt = com::Variant::Bool(encrypt);
  const bool ok = CallSignFile(sign);
  EXPECT_TRUE(ok) << sign.Message();
  if (!ok) return "";
  return input.substr(0, input.rfind('.')) + sign.Extension();
}

int SigningTest::Openssl(const std::string& args, bool expect_failure) {
  std::string log;
  const int rc =
      testing::RunCommand("cd '" + work_.path() + "' && openssl " + args + " 2>&1", &log);
  if (rc != 0 && !expect_failure) std::cerr << "openssl " << args << ":\n" << log;
  return rc;
}

std::string SigningTest::SignedText(const std::string& signature_file, const std::string& store,
                                    const std::string& subject) {
  const std::string where = store.empty() ? " From Current user Store Name: Personal"
                                          : " From Current user Store Name: " + store + ".";
  return " Signed file from Certificate: " + subject + kCrLf + where + kCrLf + kCrLf +
         " And Signature saved to file:  " + signature_file;
}

std::string SigningTest::ChainDetails(const testing::TestCert& signer, const std::string& subject) {
  const std::time_t now = std::time(nullptr);
  auto line = [&](const std::string& issuer, const testing::TestCert& cert) {
    const std::time_t v = NotAfter(cert);
    return kCrLf + issuer + ", Expiry Date : " + GeneralDate(v) +
           (v < StartOfDay(now) ? " (Expired) " : "");
  };
  return subject + line(kIssuingSubject, signer) + line(kRootSubject, Pki().intermediate);
}

}  // namespace vellum::signing_test
