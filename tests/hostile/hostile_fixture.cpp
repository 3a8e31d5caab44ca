#include "tests/hostile/hostile_fixture.h"

#include <filesystem>

#include "library/com/client.h"
#include "library/com/object.h"
#include "library/digital_sign/digital_sign.h"

namespace vellum::hostile {
namespace fs = std::filesystem;

Bytes Units(const std::string& ascii) {
  Bytes out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

namespace {

com::ComPtr<_DigitalSign> MakeDigitalSign() {
  com::ClassFactory<DigitalSign> factory;
  com::ComPtr<_DigitalSign> sign;
  EXPECT_EQ(factory.CreateInstance(nullptr, IID__DigitalSign, sign.out()), com::S_OK);
  return sign;
}

bool Answer(VARIANT_BOOL value) {
  EXPECT_TRUE(value == com::VARIANT_TRUE || value == com::VARIANT_FALSE) << value;
  return value == com::VARIANT_TRUE;
}

struct SignCall {
  explicit SignCall(const std::string& input) : input(com::Variant::Text(input)) {}
  com::Variant input, detached = com::Variant::Bool(false), binary = com::Variant::Bool(false),
                      store = com::Variant::Text(""), extension = com::Variant::Text(""),
                      message = com::Variant::Text(""), user = com::Variant::Text(""),
                      password = com::Variant::Text(""), encrypt = com::Variant::Bool(false),
                      person = com::Variant::Text(""), mail = com::Variant::Text(""),
                      company = com::Variant::Text(""), hash = com::Variant::Short(0),
                      cipher = com::Variant::Short(4);

  bool Run(bool zip) {
    auto sign = MakeDigitalSign();
    auto method = zip ? &_DigitalSign::SignZipFile : &_DigitalSign::SignFile;
    com::Variant result;
    EXPECT_EQ((sign.get()->*method)(input.value(), detached.get(), binary.get(), store.get(),
                                    extension.get(), message.get(), user.get(), password.get(),
                                    encrypt.get(), person.get(), mail.get(), company.get(),
                                    hash.get(), cipher.get(), result.get()),
              com::S_OK);
    return result.type() == com::VT_BOOL && Answer(result.value().boolVal);
  }
};

}  // namespace

VerifyCall::VerifyCall(const std::string& signature, bool detached_layout, bool binary_encoding)
    : fingerprint(com::Variant::Text(signature)),
      detached(com::Variant::Bool(detached_layout)),
      binary(com::Variant::Bool(binary_encoding)) {}

void VerifyCall::Credentials(const std::string& u, const std::string& p, bool decrypt_file) {
  user = com::Variant::Text(u);
  password = com::Variant::Text(p);
  decrypt = com::Variant::Bool(decrypt_file);
}

bool VerifyCall::File() {
  VARIANT_BOOL ok = 7;
  EXPECT_EQ(MakeDigitalSign()->VerifyFile(
                fingerprint.get(), detached.get(), binary.get(), details.get(), original.get(),
                message.get(), open.get(), user.get(), password.get(), decrypt.get(),
                hash_algorithm.get(), encryption_algorithm.get(), trim.get(), &ok),
            com::S_OK);
  return Answer(ok);
}

bool VerifyCall::Zip() {
  VARIANT_BOOL ok = 7;
  EXPECT_EQ(MakeDigitalSign()->VerifyZipFile(fingerprint.get(), detached.get(), binary.get(),
                                             details.get(), original.get(), message.get(),
                                             open.get(), user.get(), password.get(), decrypt.get(),
                                             hash_algorithm.get(), encryption_algorithm.get(), &ok),
            com::S_OK);
  return Answer(ok);
}

bool VerifyCall::Nse() {
  VARIANT_BOOL ok = 7;
  EXPECT_EQ(MakeDigitalSign()->VerifyNSEFile(fingerprint.get(), binary.get(), original.get(),
                                             message.get(), &ok),
            com::S_OK);
  return Answer(ok);
}

Snapshot Take(const std::string& folder) {
  Snapshot out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string relative = it->path().lexically_relative(folder).string();
    if (it->is_symlink())
      out[relative] = "<link to " + fs::read_symlink(it->path()).string() + ">";
    else if (it->is_directory())
      out[relative + "/"] = "";
    else
      out[relative] = testing::ReadFile(it->path().string());
  }
  return out;
}

std::string Difference(const Everything& before, const Everything& after) {
  std::string out;
  auto compare = [&](const char* where, const Snapshot& a, const Snapshot& b) {
    for (const auto& [name, data] : a) {
      auto it = b.find(name);
      if (it == b.end())
        out += std::string(where) + "/" + name + " removed\n";
      else if (it->second != data)
        out += std::string(where) + "/" + name + " changed\n";
    }
    for (const auto& [name, data] : b)
      if (a.count(name) == 0) out += std::string(where) + "/" + name + " appeared\n";
  };
  compare("work", before.work, after.work);
  compare("temp", before.temp, after.temp);
  return out;
}

std::unique_ptr<testing::TestPki> HostileTest::pki_;

void HostileTest::SetUpTestSuite() {
  if (!pki_) pki_ = std::make_unique<testing::TestPki>(testing::TestPki::Make());
}

void HostileTest::TearDownTestSuite() {
  pki_.reset();
}

void HostileTest::SetUp() {
  store_root_ = std::make_unique<testing::ScopedStoreRoot>(stores_.path());
  tmpdir_ = std::make_unique<testing::ScopedEnv>("TMPDIR", temp_.path());
  hooks_ = std::make_unique<testing::ScopedHostHooks>(0);
  testing::PutInStore("My", Pki().signer);
}

void HostileTest::TearDown() {
  hooks_.reset();
  tmpdir_.reset();
  store_root_.reset();
}

std::string HostileTest::Put(const std::string& name, const Bytes& data) {
  const std::string path = W(name);
  fs::create_directories(fs::path(path).parent_path());
  testing::WriteFile(path, data);
  return path;
}

bool HostileTest::CallSign(const std::string& input, bool detached, bool binary,
                           std::string* message, const std::string& user,
                           const std::string& password, bool encrypt, bool zip) {
  SignCall call(input);
  call.detached = com::Variant::Bool(detached);
  call.binary = com::Variant::Bool(binary);
  call.user = com::Variant::Text(user);
  call.password = com::Variant::Text(password);
  call.encrypt = com::Variant::Bool(encrypt);
  const bool ok = call.Run(zip);
  *message = call.message.Utf8();
  return ok;
}

std::string HostileTest::Sign(const std::string& input, bool detached, bool binary,
                              const std::string& user, const std::string& password, bool encrypt) {
  std::string message;
  EXPECT_TRUE(CallSign(input, detached, binary, &message, user, password, encrypt)) << message;
  return input.substr(0, input.rfind('.')) +
         (detached ? "_DSignature.txt" : "_ContentSignature.txt");
}

std::string HostileTest::SignZip(const std::string& input, bool binary,
                                 const std::string& password) {
  std::string message;
  EXPECT_TRUE(CallSign(input, false, binary, &message, "ann", password, true, true)) << message;
  return input.substr(0, input.rfind('.')) + "_ContentSignature.trel";
}

std::vector<std::string> HostileTest::TakeBoxes() {
  const auto& all = hooks_->messages();
  std::vector<std::string> out(all.begin() + static_cast<std::ptrdiff_t>(boxes_seen_), all.end());
  boxes_seen_ = all.size();
  return out;
}

}  // namespace vellum::hostile
