// The registry file: registration writes it atomically, reads it back, removes
// exactly its own entries, and never replaces a file it cannot read.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "library/com/client.h"
#include "library/com/guid.h"
#include "library/com/registry.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "tests/support/temp_folder.h"
#include "vellum/vellum.h"

namespace vellum::com {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vellum-registry-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/config/registry.ini";
    ::setenv("VELLUM_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VELLUM_REGISTRY");
    std::filesystem::remove_all(dir_);
  }
  static ServerEntries Server() {
    return {
        LIBID_Vellum,
        "Vellum",
        "1.0",
        "/opt/vellum/libvellum.so",
        {{CLSID_DigitalSign, "DigitalSign", "Vellum.DigitalSign", IID__DigitalSign, "_DigitalSign"},
         {CLSID_Zip, "Zip", "Vellum.Zip", IID__Zip, "_Zip"}}};
  }
  std::string dir_;
  std::string path_;
};

TEST_F(RegistryTest, RegisterWritesEveryEntryAndUnregisterRemovesOnlyOurs) {
  // Another program's entry must survive both operations.
  std::filesystem::create_directories(dir_ + "/config");
  platform::WriteFileAtomic(path_, "[CLSID\\{00000000-1111-2222-3333-444444444444}]\n@=Other\n");

  ASSERT_EQ(RegisterServer(Server()), S_OK);
  Registry r = Registry::Load(path_);
  const std::string clsid = "CLSID\\" + GuidToString(CLSID_DigitalSign);
  EXPECT_EQ(r.Value(clsid + "\\InprocServer32"), "/opt/vellum/libvellum.so");
  EXPECT_EQ(r.Value(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(r.Value(clsid + "\\ProgID"), "Vellum.DigitalSign");
  EXPECT_EQ(r.Value("Vellum.DigitalSign\\CLSID"), GuidToString(CLSID_DigitalSign));
  EXPECT_EQ(r.Value("Interface\\" + GuidToString(IID__Zip) + "\\ProxyStubClsid32"),
            "{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(r.Value("TypeLib\\" + GuidToString(LIBID_Vellum) + "\\1.0"), "Vellum");
  // Key names are case-insensitive, as the platform's are.
  EXPECT_EQ(r.Value("vellum.digitalsign\\clsid"), GuidToString(CLSID_DigitalSign));

  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID("Vellum.Zip", &found), S_OK);
  EXPECT_TRUE(found == CLSID_Zip);

  ASSERT_EQ(RegisterServer(Server()), S_OK);  // twice is the same as once
  ASSERT_EQ(UnregisterServer(Server()), S_OK);
  r = Registry::Load(path_);
  EXPECT_FALSE(r.HasKey(clsid));
  EXPECT_FALSE(r.HasKey("Vellum.DigitalSign"));
  EXPECT_FALSE(r.HasKey("TypeLib\\" + GuidToString(LIBID_Vellum) + "\\1.0"));
  EXPECT_EQ(r.Value("CLSID\\{00000000-1111-2222-3333-444444444444}"), "Other");
  EXPECT_EQ(CLSIDFromProgID("Vellum.Zip", &found), CO_E_CLASSSTRING);
}

TEST_F(RegistryTest, DamagedFileIsReportedAndLeftAsItWas) {
  std::filesystem::create_directories(dir_ + "/config");
  const std::string damaged = "[CLSID\\{x}]\n@=ok\nthis line has no equals sign\n";
  platform::WriteFileAtomic(path_, damaged);
  std::string detail;
  EXPECT_EQ(RegisterServer(Server(), &detail), HRESULT_INVALID_DATA);
  EXPECT_NE(detail.find("line 3"), std::string::npos) << detail;
  EXPECT_EQ(platform::ReadFileBytes(path_), damaged);
  EXPECT_EQ(UnregisterServer(Server()), HRESULT_INVALID_DATA);
  EXPECT_EQ(platform::ReadFileBytes(path_), damaged);
}

// A user setting is read from the registry file; a missing or damaged file, key or value is
// no setting, never an error. Registration keeps settings it does not know.
TEST_F(RegistryTest, UserSettingsSurviveRegistration) {
  EXPECT_EQ(UserSetting("Software\\Vellum\\Timestamp", "Url"), std::nullopt) << "no file";
  std::filesystem::create_directories(dir_ + "/config");
  platform::WriteFileAtomic(path_, "[Software\\Vellum\\Timestamp]\nUrl=https://tsa.example/\n");
  ASSERT_EQ(RegisterServer(Server()), S_OK);
  EXPECT_EQ(UserSetting("software\\vellum\\timestamp", "Url"), "https://tsa.example/");
  EXPECT_EQ(UserSetting("Software\\Vellum\\Timestamp", "Timeout"), std::nullopt);
  EXPECT_EQ(UserSetting("Software\\Vellum\\Other", "Url"), std::nullopt);
  platform::WriteFileAtomic(path_, "[Software\\Vellum\\Timestamp]\nUrl=x\nbroken\n");
  EXPECT_EQ(UserSetting("Software\\Vellum\\Timestamp", "Url"), std::nullopt) << "damaged";
}

TEST_F(RegistryTest, UnwritableLocationFailsWithoutLeavingFiles) {
  // The registry's folder is a regular file: nothing can be created there.
  const std::string blocker = dir_ + "/blocker";
  platform::WriteFileAtomic(blocker, "x");
  const std::string path = blocker + "/registry.ini";
  ::setenv("VELLUM_REGISTRY", path.c_str(), 1);
  EXPECT_EQ(RegisterServer(Server()), REGDB_E_WRITEREGDB);
  EXPECT_EQ(platform::ReadFileBytes(blocker), "x");
}

TEST(RegistryParse, RejectsWhatItCannotReadBack) {
  for (const char* text :
       {"@=value before any key\n", "[unterminated\n", "[]\n", "[a]\n=no name\n", "[a]\n[a]\n"}) {
    EXPECT_THROW(Registry::Parse(text, "test"), Error) << text;
  }
  Registry r = Registry::Parse("; comment\n\n[Key\\Sub]\n@=v=with=equals\nName = x \n", "t");
  EXPECT_EQ(r.Value("Key\\Sub"), "v=with=equals");
  EXPECT_EQ(r.Value("Key\\Sub", "Name"), " x");
  EXPECT_THROW(r.Set("k", "n", "line\nbreak"), Error);
}

TEST(RegistryPathRules, EnvironmentDecides) {
  ::setenv("VELLUM_REGISTRY", "/a/b.ini", 1);
  EXPECT_EQ(RegistryPath(), "/a/b.ini");
  ::unsetenv("VELLUM_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(RegistryPath(), "/cfg/vellum/registry.ini");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", "/home/ann", 1);
  EXPECT_EQ(RegistryPath(), "/home/ann/.config/vellum/registry.ini");
}

}  // namespace
}  // namespace vellum::com

namespace vellum::com {
namespace {

// A package registers the library once for everyone; what a user registered is read first,
// and a class the user never registered comes from the system's registry.
TEST(RegisteredValueRules, TheUsersEntryElseTheSystemsInXdgOrder) {
  testing::TempFolder tmp;
  const std::string home = tmp.File("home"), etc1 = tmp.File("etc1"), etc2 = tmp.File("etc2");
  testing::ScopedEnv no_explicit("VELLUM_REGISTRY", std::nullopt);
  testing::ScopedEnv config_home("XDG_CONFIG_HOME", home);
  testing::ScopedEnv config_dirs("XDG_CONFIG_DIRS", etc1 + ":relative/ignored:" + etc2);
  EXPECT_EQ(SystemRegistryPath(), etc2 + "/vellum/registry.ini") << "the most general folder";

  auto write = [](const std::string& folder, const std::string& library) {
    Registry r;
    r.Set("CLSID\\{X}\\InprocServer32", "@", library);
    r.Save(folder + "/vellum/registry.ini");
  };
  struct Case {
    std::vector<std::pair<std::string, std::string>> registries;  // folder, library
    std::optional<std::string> read;
    const char* why;
  } const cases[] = {
      {{}, std::nullopt, "nothing registered anywhere"},
      {{{etc2, "/sys2.so"}}, "/sys2.so", "only the system's"},
      {{{etc1, "/sys1.so"}, {etc2, "/sys2.so"}}, "/sys1.so", "XDG order: the first folder"},
      {{{home, "/user.so"}, {etc1, "/sys1.so"}}, "/user.so", "the user's own wins"},
  };
  for (const auto& c : cases) {
    for (const auto& folder : {home, etc1, etc2}) std::filesystem::remove_all(folder);
    for (const auto& [folder, library] : c.registries) write(folder, library);
    EXPECT_EQ(RegisteredValue("CLSID\\{X}\\InprocServer32"), c.read) << c.why;
  }
  // A user's registry that exists but holds other classes does not hide the system's.
  std::filesystem::remove_all(etc1);
  {
    Registry other;
    other.Set("CLSID\\{Y}\\InprocServer32", "@", "/other.so");
    other.Save(home + "/vellum/registry.ini");
  }
  EXPECT_EQ(RegisteredValue("CLSID\\{X}\\InprocServer32"), std::nullopt);
  write(etc2, "/sys2.so");
  EXPECT_EQ(RegisteredValue("CLSID\\{X}\\InprocServer32"), "/sys2.so");
  // An explicit registry is the only one read.
  testing::ScopedEnv explicit_registry("VELLUM_REGISTRY", tmp.File("none.ini"));
  EXPECT_EQ(RegisteredValue("CLSID\\{X}\\InprocServer32"), std::nullopt);
}

TEST(RegisteredValueRules, SystemRegistryDefaultsToEtcXdg) {
  for (const char* dirs : {"", "relative/etc", ":"}) {
    testing::ScopedEnv config_dirs("XDG_CONFIG_DIRS", std::string(dirs));
    EXPECT_EQ(SystemRegistryPath(), "/etc/xdg/vellum/registry.ini") << dirs;
  }
  testing::ScopedEnv unset("XDG_CONFIG_DIRS", std::nullopt);
  EXPECT_EQ(SystemRegistryPath(), "/etc/xdg/vellum/registry.ini");
}

}  // namespace
}  // namespace vellum::com
