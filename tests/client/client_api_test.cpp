// The client helper's C functions: creating objects of the registered library, installing the
// host hooks in it, and the texts and VARIANTs a C caller hands over and gets back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "library/com/guid.h"
#include "library/com/registry.h"
#include "tests/support/temp_folder.h"
#include "vellum/client.h"

namespace vellum::com {
namespace {

// A registry in a scratch folder, with or without the tree's library in it.
class ClientApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = tmp_.File("registry.ini");
    ::setenv("VELLUM_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("VELLUM_REGISTRY"); }
  void Register() {
    Registry r;
    r.Set("CLSID\\" + GuidToString(CLSID_DigitalSign) + "\\InprocServer32", "@",
          VELLUM_TEST_LIBRARY);
    r.Save(registry_);
  }
  testing::TempFolder tmp_;
  std::string registry_;
};

TEST_F(ClientApiTest, CreateObjectAnswersAsTheHeaderSays) {
  void* object = reinterpret_cast<void*>(1);
  struct Case {
    bool registered;
    const CLSID* clsid;
    const IID* iid;
    HRESULT expected;
    const char* why;
  } const cases[] = {
      {false, &CLSID_DigitalSign, &IID__DigitalSign, REGDB_E_CLASSNOTREG, "nothing registered"},
      {true, &CLSID_DigitalSign, &IID__DigitalSign, S_OK, "registered"},
      {true, &CLSID_DigitalSign, &IID__Zip, E_NOINTERFACE, "an interface it has not"},
      {true, &CLSID_Zip, &IID__Zip, REGDB_E_CLASSNOTREG, "a class registered elsewhere"},
      {true, nullptr, &IID__Zip, E_INVALIDARG, "no class"},
  };
  for (const auto& c : cases) {
    if (c.registered) Register();
    EXPECT_EQ(VellumClientCreateObject(c.clsid, c.iid, &object), c.expected) << c.why;
    if (c.expected == S_OK) {
      ASSERT_NE(object, nullptr) << c.why;
      static_cast<IUnknown*>(object)->Release();
    } else {
      EXPECT_EQ(object, nullptr) << c.why << ": the out pointer is cleared";
    }
  }
  EXPECT_EQ(VellumClientCreateObject(&CLSID_DigitalSign, &IID__DigitalSign, nullptr), E_POINTER);
}

TEST_F(ClientApiTest, HostHooksReachTheRegisteredLibrary) {
  VellumHostHooks hooks{};
  hooks.struct_size = sizeof hooks;
  EXPECT_EQ(VellumClientSetHostHooks(&hooks), -1) << "no library registered";
  Register();
  EXPECT_EQ(VellumClientSetHostHooks(&hooks), 0);
  hooks.struct_size = 4;
  EXPECT_EQ(VellumClientSetHostHooks(&hooks), -1) << "a structure too short is refused";
  EXPECT_EQ(VellumClientSetHostHooks(nullptr), 0) << "removing them";
}

TEST(ClientApiTexts, StringsRoundTripThroughBstrs) {
  struct Case {
    const char* utf8;
    std::uint32_t bytes;  // the BSTR's length in bytes
  } const cases[] = {
      {"", 0}, {"pay.txt", 14}, {"J\xC3\xB6rg \xE2\x82\xAC", 12}, {"\xF0\x9F\x94\x91", 4}};
  for (const auto& c : cases) {
    BSTR text = VellumClientAllocString(c.utf8);
    ASSERT_NE(text, nullptr) << c.utf8;
    std::uint32_t length = 0;
    std::memcpy(&length, reinterpret_cast<const char*>(text) - 4, 4);
    EXPECT_EQ(length, c.bytes) << c.utf8;
    char* back = VellumClientStringToUtf8(text);
    EXPECT_STREQ(back, c.utf8);
    std::free(back);
    VellumClientFreeString(text);
  }
  char* empty = VellumClientStringToUtf8(nullptr);
  EXPECT_STREQ(empty, "") << "a null BSTR is the empty text";
  std::free(empty);
  VellumClientFreeString(nullptr);

  // Binary content keeps its exact length, odd included.
  const char raw[] = {'\x00', '\xFF', '\x10'};
  BSTR bytes = VellumClientAllocBytes(raw, 3);
  std::uint32_t length = 0;
  std::memcpy(&length, reinterpret_cast<const char*>(bytes) - 4, 4);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::memcmp(bytes, raw, 3), 0);
  VARIANT v{};
  v.vt = VT_BSTR;
  v.bstrVal = bytes;
  VellumClientClearVariant(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  VellumClientClearVariant(nullptr);
}

}  // namespace
}  // namespace vellum::com
