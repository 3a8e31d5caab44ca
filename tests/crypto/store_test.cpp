// The folder stores: what opens, what each filter keeps, names, selection, administration.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "library/crypto/store.h"
#include "tests/crypto/expect_error.h"
#include "tests/support/host_hooks.h"
#include "tests/support/test_pki.h"

namespace vellum::crypto {
namespace {

using testing::kDay;
using testing::MakeCert;
using testing::PutInStore;
using testing::StoreFormat;

class StoreTest : public ::testing::Test {
 protected:
  testing::TempFolder tmp_;
  testing::ScopedStoreRoot root_{tmp_.path()};

  static std::vector<std::string> Subjects(const Certificates& certs) {
    std::vector<std::string> out;
    for (const auto& c : certs.items()) out.push_back(c.SubjectName());
    return out;
  }
  static Certificates OpenMy() { return Store::Open(kCurrentUserStore, "My", 0).Certificates(); }
};

TEST_F(StoreTest, RootComesFromTheEnvironmentInOrder) {
  testing::ScopedEnv home("HOME", "/home/ann");
  {
    testing::ScopedEnv store("VELLUM_STORE_DIR", std::nullopt);
    testing::ScopedEnv xdg("XDG_DATA_HOME", "/data/ann/");
    EXPECT_EQ(StoreRoot(), "/data/ann/vellum/stores");
    testing::ScopedEnv relative("XDG_DATA_HOME", "relative");
    EXPECT_EQ(StoreRoot(), "/home/ann/.local/share/vellum/stores") << "XDG paths must be absolute";
  }
  EXPECT_EQ(StoreRoot(), tmp_.path());
  EXPECT_EQ(StoreFolder(""), tmp_.path() + "/My") << "an empty name is the personal store";
  EXPECT_EQ(StoreFolder("Other"), tmp_.path() + "/Other");
}

TEST_F(StoreTest, StoreNamesThatLeaveTheRootAreRefused) {
  for (const char* name : {"..", ".", "../My", "a/b", "/etc"})
    EXPECT_HRESULT(hr::kInvalidArg, Store::Open(kCurrentUserStore, name, 0)) << name;
}

TEST_F(StoreTest, MissingFolderIsAnEmptyStoreAndNothingIsCreated) {
  EXPECT_EQ(OpenMy().Count(), 0);
  EXPECT_TRUE(tmp_.List().empty());
}

TEST_F(StoreTest, AFolderThatCannotBeReadFailsToOpen) {
  testing::WriteFile(tmp_.File("My"), "a regular file where the folder should be");
  EXPECT_HRESULT(hr::kStoreOpen, OpenMy());
}

TEST_F(StoreTest, OnlyLocationCurrentUserAndKnownModes) {
  EXPECT_HRESULT(hr::kInvalidArg, Store::Open(1, "My", 0));
  EXPECT_HRESULT(hr::kInvalidArg, Store::Open(kCurrentUserStore, "My", 3));
}

TEST_F(StoreTest, EveryFileFormPairsCertificatesWithTheirKeys) {
  auto pem = MakeCert({"CN=Pem Holder, C=GB"});
  auto der = MakeCert({"CN=Der Holder, C=GB"});
  auto p12 = MakeCert({"CN=Pkcs Holder, C=GB"});
  auto bare = MakeCert({"CN=Bare Holder, C=GB"});
  auto stray = MakeCert({"CN=Stray Key, C=GB"});
  PutInStore("My", pem, StoreFormat::kPemWithKeyFile);
  PutInStore("My", der, StoreFormat::kDerWithKeyFile);
  PutInStore("My", p12, StoreFormat::kPkcs12);
  PutInStore("My", bare, StoreFormat::kPemNoKey);
  testing::WriteFile(tmp_.File("My/zz_stray.key"), stray.KeyPem());  // matches no certificate
  testing::WriteFile(tmp_.File("My/damaged.pem"), "-----BEGIN CERTIFICATE-----\nAAAA\n");
  testing::WriteFile(tmp_.File("My/random.der"), std::string("\x30\x82\x01\x00 not a cert", 15));
  testing::WriteFile(tmp_.File("My/readme.txt"), pem.Pem());   // not a store file name
  std::filesystem::create_directory(tmp_.File("My/sub.pem"));  // a folder, not a file

  Certificates all = OpenMy();
  ASSERT_EQ(all.Count(), 4) << "damaged, foreign and misnamed files are skipped";
  std::map<std::string, bool> keyed;
  for (const auto& c : all.items()) keyed[c.SubjectName()] = c.HasPrivateKey();
  EXPECT_TRUE(keyed["CN=Pem Holder, C=GB"]);
  EXPECT_TRUE(keyed["CN=Der Holder, C=GB"]);
  EXPECT_TRUE(keyed["CN=Pkcs Holder, C=GB"]);
  EXPECT_FALSE(keyed["CN=Bare Holder, C=GB"]);
}

TEST_F(StoreTest, TheSameCertificateTwiceIsListedOnce) {
  auto cert = MakeCert({"CN=Twice, C=GB"});
  PutInStore("My", cert, StoreFormat::kPemNoKey, "a");
  PutInStore("My", cert, StoreFormat::kPkcs12, "b");
  Certificates all = OpenMy();
  ASSERT_EQ(all.Count(), 1);
  EXPECT_TRUE(all.Item(1).HasPrivateKey()) << "the key found beside the second copy counts";
}

TEST_F(StoreTest, FiltersNarrowAsTheSigningCallerNeeds) {
  PutInStore("My", MakeCert({"CN=Ann Lee, O=Example Ltd, C=GB"}));
  PutInStore("My", MakeCert({"CN=No Key, O=Example Ltd, C=GB"}), StoreFormat::kPemNoKey);
  PutInStore("My", MakeCert({"CN=Expired, O=Example Ltd, C=GB", -30 * kDay, -kDay}));
  PutInStore("My", MakeCert({"CN=Not Yet, O=Example Ltd, C=GB", kDay, 30 * kDay}));
  PutInStore("My", MakeCert({"CN=Bob Stone, O=Other Corp, C=US, E=bob@other.example"}));
  Certificates all = OpenMy();
  ASSERT_EQ(all.Count(), 5);

  Certificates keyed = all.Find(kFindExtendedProperty, kPropertyKeyProvider);
  EXPECT_EQ(keyed.Count(), 4) << "the certificate without a key drops out";
  Certificates valid = keyed.Find(kFindTimeValid, static_cast<std::int64_t>(std::time(nullptr)));
  EXPECT_EQ(Subjects(valid), (std::vector<std::string>{"CN=Ann Lee, O=Example Ltd, C=GB",
                                                       "CN=Bob Stone, O=Other Corp, C=US, "
                                                       "E=bob@other.example"}))
      << "expired and not-yet-valid drop out";

  struct Case {
    std::string criterion;
    int count;
    const char* why;
  };
  const Case cases[] = {
      {"ann lee", 1, "letter case is ignored"},
      {"EXAMPLE LTD", 1, "any part of the subject text"},
      {"bob@other.example", 1, "the e-mail attribute is part of the text"},
      {"O=Other", 1, "keys are part of the text"},
      {"Nobody", 0, "no match leaves an empty collection"},
      {"", 2, "an empty criterion matches all"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(valid.Find(kFindSubjectName, c.criterion).Count(), c.count) << c.why;
}

TEST_F(StoreTest, TimeValidIncludesBothEnds) {
  auto cert = MakeCert({"CN=Edges"});
  Certificates one({cert.ToCertificate()});
  std::time_t from = one.Item(1).ValidFrom();
  std::time_t to = one.Item(1).ValidTo();
  EXPECT_EQ(one.Find(kFindTimeValid, from).Count(), 1);
  EXPECT_EQ(one.Find(kFindTimeValid, to).Count(), 1);
  EXPECT_EQ(one.Find(kFindTimeValid, from - 1).Count(), 0);
  EXPECT_EQ(one.Find(kFindTimeValid, to + 1).Count(), 0);
}

TEST_F(StoreTest, UnsupportedFindsAndIndexesFail) {
  Certificates none;
  EXPECT_HRESULT(hr::kInvalidArg, none.Find(kFindExtendedProperty, 3));
  EXPECT_HRESULT(hr::kInvalidArg, none.Find(2, 0));
  EXPECT_HRESULT(hr::kInvalidArg, none.Find(kFindTimeValid, "text"));
  EXPECT_HRESULT(hr::kInvalidArg, none.Item(1));
  Certificates one({MakeCert({}).ToCertificate()});
  EXPECT_HRESULT(hr::kInvalidArg, one.Item(0));
  EXPECT_HRESULT(hr::kInvalidArg, one.Item(2));
  EXPECT_NO_THROW(one.Item(1));
}

TEST_F(StoreTest, SelectGoesThroughTheHostsChooser) {
  Certificates two(
      {MakeCert({"CN=First"}).ToCertificate(), MakeCert({"CN=Second"}).ToCertificate()});
  EXPECT_EQ(two.Select("Sign ", "Please select").Count(), 0) << "no chooser: nothing chosen";

  testing::ScopedHostHooks hooks(1);
  Certificates chosen = two.Select("Sign ", "Please select a certificate to sign /d/a.txt.");
  EXPECT_EQ(Subjects(chosen), std::vector<std::string>{"CN=Second"});
  ASSERT_EQ(hooks.chooser_calls().size(), 1u);
  EXPECT_EQ(hooks.chooser_calls()[0].title, "Sign ");
  EXPECT_EQ(hooks.chooser_calls()[0].prompt, "Please select a certificate to sign /d/a.txt.");
  EXPECT_EQ(hooks.chooser_calls()[0].subjects, (std::vector<std::string>{"CN=First", "CN=Second"}));
  hooks.set_chooser_answer(-1);
  EXPECT_EQ(two.Select("Sign ", "x").Count(), 0) << "cancelled: an empty collection";
  hooks.set_chooser_answer(2);
  EXPECT_EQ(two.Select("Sign ", "x").Count(), 0) << "an answer out of range chooses nothing";
}

TEST(CertificateNames, MostSpecificFirstWithTheFixedKeys) {
  auto cert =
      MakeCert({"CN=Ann Lee, OU=Sales, O=Example Ltd, L=London, S=Greater London, C=GB, "
                "E=ann@example.com"});
  Certificate c = cert.ToCertificate();
  EXPECT_EQ(c.SubjectName(),
            "CN=Ann Lee, OU=Sales, O=Example Ltd, L=London, S=Greater London, C=GB, "
            "E=ann@example.com");
  EXPECT_EQ(c.IssuerName(), c.SubjectName()) << "self-signed";
}

TEST(CertificateNames, ValuesWithSpecialCharactersAreQuoted) {
  struct Case {
    const char* subject;
    const char* shown;
  };
  const Case cases[] = {
      {"CN=\"Lee, Ann\", C=GB", "CN=\"Lee, Ann\", C=GB"},
      {"CN=\"A+B\"", "CN=\"A+B\""},
      {"CN=\"x=y\"", "CN=\"x=y\""},
      {"CN=\"say \"\"hi\"\"\"", "CN=\"say \"\"hi\"\"\""},
      {"CN=Zoë Øster", "CN=Zoë Øster"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MakeCert({c.subject}).ToCertificate().SubjectName(), c.shown) << c.subject;
}

TEST(CertificateNames, MalformedNameTextsAreRefused) {
  for (const char* text : {"", "CN", "XX=1", "CN=", "CN=\"open", "CN=\"a\" b"})
    EXPECT_HRESULT(hr::kInvalidArg, ParseName(text)) << text;
}

TEST(CertificateDates, ValidityComesBackAsEpochSeconds) {
  std::time_t now = std::time(nullptr);
  Certificate c = MakeCert({"CN=Dates", -2 * kDay, 10 * kDay}).ToCertificate();
  EXPECT_NEAR(static_cast<double>(c.ValidFrom()), static_cast<double>(now - 2 * kDay), 5);
  EXPECT_NEAR(static_cast<double>(c.ValidTo()), static_cast<double>(now + 10 * kDay), 5);
}

// Administration for `vellum store`.
class StoreAdminTest : public StoreTest {
 protected:
  std::string StoreDir() const { return tmp_.File("My"); }
};

TEST_F(StoreAdminTest, Pkcs12WithPasswordImportsCertificateAndPrivateKey) {
  testing::TempFolder src;
  auto pki = testing::TestPki::Make();
  testing::WriteFile(src.File("ann.p12"), pki.signer.Pkcs12("s3cret", {pki.intermediate}));
  Certificate imported = ImportIntoStore(src.File("ann.p12"), "s3cret", "My");
  EXPECT_TRUE(imported.HasPrivateKey());

  std::string base = StoreDir() + "/" + imported.Thumbprint();
  struct stat st {};
  ASSERT_EQ(::stat((base + ".key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "key files are private";
  auto rows = ListStore("My");
  ASSERT_EQ(rows.size(), 2u) << "the certificate and the chain certificate";
  int keyed = 0;
  for (const auto& r : rows) keyed += r.has_key;
  EXPECT_EQ(keyed, 1);
  Certificates usable = OpenMy().Find(kFindExtendedProperty, kPropertyKeyProvider);
  ASSERT_EQ(usable.Count(), 1);
  EXPECT_EQ(usable.Item(1).SubjectName(), "CN=Ann Lee, O=Example Ltd, C=GB");
}

TEST_F(StoreAdminTest, PemAndDerCertificatesImportWithoutPassword) {
  testing::TempFolder src;
  auto a = MakeCert({"CN=Pem Import"});
  auto b = MakeCert({"CN=Der Import"});
  testing::WriteFile(src.File("a.crt"), a.Pem());
  testing::WriteFile(src.File("b.cer"), b.Der());
  EXPECT_FALSE(ImportIntoStore(src.File("a.crt"), "", "My").HasPrivateKey());
  EXPECT_FALSE(ImportIntoStore(src.File("b.cer"), "", "My").HasPrivateKey());
  EXPECT_EQ(ListStore("My").size(), 2u);
}

TEST_F(StoreAdminTest, RefusedImportsLeaveTheStoreUntouched) {
  testing::TempFolder src;
  auto cert = MakeCert({"CN=Refused"});
  testing::WriteFile(src.File("good.p12"), cert.Pkcs12("right"));
  std::string p12 = cert.Pkcs12("right");
  p12[p12.size() / 2] ^= 0x55;
  testing::WriteFile(src.File("flipped.p12"), p12);
  testing::WriteFile(src.File("junk.pem"), "-----BEGIN CERTIFICATE-----\nAAAA\n-----END X-----\n");
  testing::WriteFile(src.File("junk.bin"), std::string(300, '\x42'));

  EXPECT_HRESULT(hr::kBadData, ImportIntoStore(src.File("good.p12"), "wrong", "My"));
  EXPECT_LT(
      testing::ErrorNumberOf([&] { ImportIntoStore(src.File("flipped.p12"), "right", "My"); }), 0);
  EXPECT_LT(testing::ErrorNumberOf([&] { ImportIntoStore(src.File("junk.pem"), "", "My"); }), 0);
  EXPECT_LT(testing::ErrorNumberOf([&] { ImportIntoStore(src.File("junk.bin"), "", "My"); }), 0);
  EXPECT_GT(testing::ErrorNumberOf([&] { ImportIntoStore(src.File("missing.p12"), "", "My"); }), 0)
      << "a file that cannot be read is a run-time error";
  EXPECT_FALSE(std::filesystem::exists(StoreDir())) << "nothing written, not even the folder";
}

TEST_F(StoreAdminTest, AFailedWriteLeavesNoPartialEntry) {
  testing::TempFolder src;
  auto cert = MakeCert({"CN=Half Written"});
  testing::WriteFile(src.File("c.p12"), cert.Pkcs12(""));
  // The certificate's file name is taken by a folder: the key is written first and must go
  // again when the certificate cannot follow.
  std::string thumb = cert.ToCertificate().Thumbprint();
  std::filesystem::create_directories(StoreDir() + "/" + thumb + ".pem");
  EXPECT_GT(testing::ErrorNumberOf([&] { ImportIntoStore(src.File("c.p12"), "", "My"); }), 0);
  EXPECT_FALSE(std::filesystem::exists(StoreDir() + "/" + thumb + ".key"));
}

TEST_F(StoreAdminTest, NewSelfSignedCertificateIsUsableForSigning) {
  Certificate made = NewSelfSignedCertificate("CN=Fresh Signer, O=Example Ltd, C=GB", 30, "My");
  EXPECT_EQ(made.SubjectName(), "CN=Fresh Signer, O=Example Ltd, C=GB");
  EXPECT_EQ(made.IssuerName(), made.SubjectName());
  EXPECT_EQ(EVP_PKEY_get_bits(made.private_key()), 3072);
  EXPECT_NEAR(static_cast<double>(made.ValidTo() - made.ValidFrom()), 30.0 * kDay, 2);
  Certificates usable = OpenMy()
                            .Find(kFindExtendedProperty, kPropertyKeyProvider)
                            .Find(kFindTimeValid, static_cast<std::int64_t>(std::time(nullptr)));
  ASSERT_EQ(usable.Count(), 1);
  EXPECT_TRUE(usable.Item(1).SameAs(made));
  EXPECT_HRESULT(hr::kInvalidArg, NewSelfSignedCertificate("CN=x", 0, "My"));
  EXPECT_HRESULT(hr::kInvalidArg, NewSelfSignedCertificate("nonsense", 10, "My"));
}

}  // namespace
}  // namespace vellum::crypto
