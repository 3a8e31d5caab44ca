// The host hooks: a host built against the first, shorter structure keeps working, and the
// PIN entry hands over exactly what the host gave, or nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// ---- progress ----------------------------------------------------------------------------------

struct Report {
  std::string operation;
  unsigned long long done, total;
};

void Record(void* context, const char* operation, unsigned long long done,
            unsigned long long total) {
  static_cast<std::vector<Report>*>(context)->push_back({operation, done, total});
}

// What a host hears must be usable as it comes: the start at 0, counts that only grow and
// never pass the total, a new report only for a new whole per cent, and the end at the total,
// once. Counts arrive in steps of every size, finer and coarser than one per cent.
TEST_F(Hooks, ProgressIsReportedByWholePerCentsUpToTheTotal) {
  struct Case {
    const char* why;
    std::uint64_t total;
    std::uint64_t step;
    bool finish;  // Finish called after the last step (else the count reaches the total)
  } cases[] = {
      {"a large file in 64 KiB reads", std::uint64_t{300} << 20, 65536, false},
      {"a total that is not a multiple of the step", 1'000'003, 4096, true},
      {"steps larger than one per cent", 10'000, 2'500, false},
      {"a total under a hundred", 7, 1, false},
      {"one byte", 1, 1, false},
      {"a terabyte in 1 GiB steps", std::uint64_t{1} << 40, std::uint64_t{1} << 30, false},
      {"ended early: a file that shrank", 100'000, 1000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<Report> reports;
    VellumHostHooks hooks{};
    hooks.struct_size = sizeof hooks;
    hooks.context = &reports;
    hooks.progress = &Record;
    ASSERT_EQ(SetHostHooks(&hooks), 0);
    {
      ProgressReport progress(kProgressReading, c.total);
      EXPECT_TRUE(progress.wanted());
      const std::uint64_t end = c.total == 100'000 ? c.total / 2 : c.total;
      for (std::uint64_t done = 0; done < end;) {
        const std::uint64_t step = std::min(c.step, end - done);
        progress.Advance(step);
        done += step;
      }
      if (c.finish) progress.Finish();
      progress.Finish();  // a second Finish adds nothing
    }
    ASSERT_GE(reports.size(), 2u);
    EXPECT_LE(reports.size(), 102u);
    EXPECT_EQ(reports.front().done, 0u);
    EXPECT_EQ(reports.back().done, c.total);
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_EQ(reports[i].operation, "Reading");
      EXPECT_EQ(reports[i].total, c.total);
      if (i == 0) continue;
      EXPECT_GT(reports[i].done, reports[i - 1].done) << i;
      if (reports[i].done != c.total) {
        EXPECT_GT(reports[i].done * 100 / c.total, reports[i - 1].done * 100 / c.total) << i;
      }
    }
  }
}

// No host, a host without the member (an older, shorter structure with garbage beyond it), or
// nothing to count: nothing is reported.
TEST_F(Hooks, ProgressNeedsAHookAndATotal) {
  std::vector<Report> reports;
  struct {
    VellumHostHooks hooks;
    char beyond[16];
  } old_host{};
  std::memset(&old_host, 0x5A, sizeof old_host);  // garbage where progress would be
  old_host.hooks.struct_size = offsetof(VellumHostHooks, progress);
  old_host.hooks.context = &reports;
  old_host.hooks.message_box = nullptr;
  old_host.hooks.choose_certificate = nullptr;
  old_host.hooks.ask_pin = nullptr;
  VellumHostHooks current{};
  current.struct_size = sizeof current;
  current.context = &reports;
  current.progress = &Record;
  struct Case {
    const char* why;
    const VellumHostHooks* hooks;
    std::uint64_t total;
  } cases[] = {
      {"no host", nullptr, 1000},
      {"a host built before the progress hook", &old_host.hooks, 1000},
      {"an empty file", &current, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_EQ(SetHostHooks(c.hooks), 0);
    ProgressReport progress(kProgressCompressing, c.total);
    EXPECT_FALSE(progress.wanted());
    progress.Advance(c.total);
    progress.Finish();
    EXPECT_TRUE(reports.empty());
  }
}

}  // namespace
}  // namespace vellum::platform
