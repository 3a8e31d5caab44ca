// The host hooks: a host built against the first, shorter structure keeps working, and the
// PIN entry hands over exactly what the host gave, or nothing.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "library/platform/hooks.h"

namespace vellum::platform {
namespace {

struct PinHost {
  int answer = 0;
  std::string pin;
  bool fill_without_zero = false;
  int calls = 0;
  std::string token;
};

int AnswerPin(void* context, const char* token, char* pin, unsigned capacity) {
  auto* host = static_cast<PinHost*>(context);
  ++host->calls;
  host->token = token;
  if (host->fill_without_zero) {
    std::memset(pin, '7', capacity);
  } else {
    std::memcpy(pin, host->pin.c_str(), host->pin.size() + 1);
  }
  return host->answer;
}

int AlwaysFirst(void*, const char*, const char*, const VellumCertificateChoice*, int) {
  return 0;
}

class Hooks : public ::testing::Test {
 protected:
  void TearDown() override { SetHostHooks(nullptr); }
};

// The structure as hosts built before the PIN entry was added pass it: the size up to the
// chooser. Its hooks work; the member it does not have is taken as missing, and whatever lies
// beyond its size is never read.
TEST_F(Hooks, AHostWithTheFirstShorterStructureKeepsWorking) {
  struct {
    VellumHostHooks hooks;
    char beyond[16];
  } old_host{};
  std::memset(&old_host, 0x5A, sizeof old_host);  // garbage where ask_pin would be
  old_host.hooks.struct_size = offsetof(VellumHostHooks, ask_pin);
  old_host.hooks.context = nullptr;
  old_host.hooks.message_box = nullptr;
  old_host.hooks.choose_certificate = &AlwaysFirst;
  ASSERT_EQ(SetHostHooks(&old_host.hooks), 0);
  EXPECT_EQ(ChooseCertificate("t", "p", {{"CN=A", "CN=B", "01/01/2030"}}), 0);
  SecretText pin("left over");
  EXPECT_FALSE(AskPin("Office Card", pin));
  EXPECT_TRUE(pin.get().empty());

  VellumHostHooks too_small{};
  too_small.struct_size = offsetof(VellumHostHooks, choose_certificate);
  EXPECT_EQ(SetHostHooks(&too_small), -1) << "smaller than the first version";
}

TEST_F(Hooks, ThePinEntryGivesThePinOrNothing) {
  struct Case {
    const char* why;
    int answer;
    std::string pin;
    bool fill_without_zero;
    bool given;
  } const cases[] = {
      {"a PIN", 0, "246810", false, true},
      {"a PIN with UTF-8 and blanks is passed as typed", 0, " p\xC3\xA5 1 ", false, true},
      {"the user cancelled", -1, "246810", false, false},
      {"an empty PIN would cost a try for nothing", 0, "", false, false},
      {"a PIN without its terminating zero is not cut short", 0, "", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    PinHost host{c.answer, c.pin, c.fill_without_zero, 0, ""};
    VellumHostHooks hooks{};
    hooks.struct_size = sizeof hooks;
    hooks.context = &host;
    hooks.ask_pin = &AnswerPin;
    ASSERT_EQ(SetHostHooks(&hooks), 0);
    SecretText pin;
    EXPECT_EQ(AskPin("Office Card", pin), c.given);
    EXPECT_EQ(pin.get(), c.given ? c.pin : "");
    EXPECT_EQ(host.calls, 1);
    EXPECT_EQ(host.token, "Office Card");
  }
}

TEST_F(Hooks, WithoutAHostNoPinIsGiven) {
  SecretText pin;
  EXPECT_FALSE(AskPin("Office Card", pin));
}

}  // namespace
}  // namespace vellum::platform
