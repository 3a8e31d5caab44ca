#include "library/digital_sign/certificate_report.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <string>
#include <vector>

#include "library/platform/error.h"

namespace vellum::certificate_report {
namespace {

// A zone with summer time and an offset from UTC, so local time is really exercised; the rule
// string needs no zone database.
class LocalZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) saved_tz_ = tz;
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_tz_ = false;
  std::string saved_tz_;
};

// Local wall-clock time to std::time_t.
std::time_t Local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

CertificateInfo Cert(std::string subject, std::string issuer, std::time_t valid_to) {
  return CertificateInfo{std::move(subject), std::move(issuer), valid_to};
}

// ---- Expiry: today at midnight is the line -----------------------------------------------

TEST_F(LocalZone, ExpiredMeansBeforeTodaysDate) {
  const std::time_t now = Local(2027, 3, 10, 9, 0);
  struct Case {
    std::string reason;
    std::time_t valid_to;
    bool expired;
  };
  const std::vector<Case> cases = {
      {"yesterday late evening", Local(2027, 3, 9, 23, 59, 59), true},
      {"today at midnight", Local(2027, 3, 10), false},
      {"earlier today", Local(2027, 3, 10, 8, 0), false},
      {"later today", Local(2027, 3, 10, 18, 0), false},
      {"tomorrow", Local(2027, 3, 11), false},
      {"last year, later day of year", Local(2026, 12, 31, 23, 0), true},
      {"next year, earlier day of year", Local(2028, 1, 1), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsExpired(c.valid_to, now), c.expired) << c.reason;
  // The year's first morning still sees New Year's Eve as expired.
  EXPECT_TRUE(IsExpired(Local(2026, 12, 31, 23, 0), Local(2027, 1, 1, 0, 30)));
}

// ---- Date texts --------------------------------------------------------------------------

TEST_F(LocalZone, DateForms) {
  struct Case {
    std::time_t when;
    std::string long_form;
    std::string general_form;
  };
  const std::vector<Case> cases = {
      {Local(2027, 3, 5), "05/03/2027", "05/03/2027"},  // midnight: the date alone
      {Local(2027, 3, 5, 18, 0, 5), "05/03/2027", "05/03/2027 18:00:05"},
      {Local(2027, 12, 31, 0, 0, 1), "31/12/2027", "31/12/2027 00:00:01"},
      {Local(2027, 7, 1, 13, 4), "01/07/2027", "01/07/2027 13:04:00"},  // summer time
      {Local(9999, 12, 31, 23, 59, 59), "31/12/9999", "31/12/9999 23:59:59"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LongDate(c.when), c.long_form);
    EXPECT_EQ(GeneralDate(c.when), c.general_form);
  }
  // 23:30 UTC on 4 March is 00:30 on 5 March here: the texts are local.
  std::time_t utc_late = Local(2027, 3, 5, 0, 30);
  EXPECT_EQ(LongDate(utc_late), "05/03/2027");
  EXPECT_EQ(GeneralDate(utc_late), "05/03/2027 00:30:00");
}

// ---- Verdict -----------------------------------------------------------------------------

TEST_F(LocalZone, VerdictWordingPerMethod) {
  const std::time_t now = Local(2027, 3, 10, 9, 0);
  const std::time_t later_today = Local(2027, 3, 10, 18, 0);
  const std::time_t yesterday = Local(2027, 3, 9, 12, 0);
  const std::string valid_file = "File: /in/a.txt\r\nis Verified. \r\n";
  const std::string expired =
      "File: /in/a.txt\r\nis Verified using expired Signature. \r\n"
      "Certificate Expired on '09/03/2027'";
  struct Case {
    std::string reason;
    VerdictWording wording;
    std::time_t valid_to;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"VerifyFile valid", VerdictWording::kVerifyFile, later_today,
       valid_file + "Certificate Valit till '10/03/2027'"},
      {"VerifyZipFile valid", VerdictWording::kVerifyZipFile, later_today,
       valid_file + "Certificate Valid till '10/03/2027'"},
      {"VerifyNSEFile valid: no certificate line", VerdictWording::kVerifyNSEFile, later_today,
       "File: /in/a.txt\r\nis Verified. "},
      {"VerifyFile expired", VerdictWording::kVerifyFile, yesterday, expired},
      {"VerifyZipFile expired", VerdictWording::kVerifyZipFile, yesterday, expired},
      {"VerifyNSEFile expired", VerdictWording::kVerifyNSEFile, yesterday, expired},
  };
  for (const Case& c : cases) {
    std::vector<SignerChain> signers = {{Cert("CN=Ann", "CN=Root", c.valid_to)}};
    EXPECT_EQ(Verdict("/in/a.txt", signers, c.wording, now), c.text) << c.reason;
  }
}

// Only the first signer's own certificate counts: not its issuers, not other signers.
TEST_F(LocalZone, VerdictLooksAtTheFirstSignerOnly) {
  const std::time_t now = Local(2027, 3, 10, 9, 0);
  const std::time_t good = Local(2030, 1, 1);
  const std::time_t gone = Local(2020, 1, 1);
  std::vector<SignerChain> signers = {
      {Cert("CN=Ann", "CN=Inter", good), Cert("CN=Inter", "CN=Root", gone),
       Cert("CN=Root", "CN=Root", gone)},
      {Cert("CN=Bob", "CN=Root", gone)},
  };
  EXPECT_EQ(Verdict("f", signers, VerdictWording::kVerifyFile, now),
            "File: f\r\nis Verified. \r\nCertificate Valit till '01/01/2030'");
  std::swap(signers[0], signers[1]);
  EXPECT_EQ(Verdict("f", signers, VerdictWording::kVerifyFile, now),
            "File: f\r\nis Verified using expired Signature. \r\n"
            "Certificate Expired on '01/01/2020'");
}

// ---- Details -----------------------------------------------------------------------------

TEST_F(LocalZone, DetailsPerSigner) {
  const std::time_t now = Local(2027, 3, 10, 9, 0);
  struct Case {
    std::string reason;
    std::vector<SignerChain> signers;
    std::vector<std::string> details;
  };
  const std::vector<Case> cases = {
      {"self-signed: the subject alone",
       {{Cert("CN=Solo", "CN=Solo", Local(2030, 1, 1))}},
       {"CN=Solo"}},
      {"signer, intermediate, root; the root has no line of its own",
       {{Cert("CN=Ann", "CN=Inter", Local(2028, 6, 1, 12, 30)),
         Cert("CN=Inter", "CN=Root", Local(2031, 1, 1)),
         Cert("CN=Root", "CN=Root", Local(2040, 1, 1))}},
       {"CN=Ann\r\nCN=Inter, Expiry Date : 01/06/2028 12:30:00"
        "\r\nCN=Root, Expiry Date : 01/01/2031"}},
      {"an expired intermediate marks its own line",
       {{Cert("CN=Ann", "CN=Inter", Local(2028, 6, 1)),
         Cert("CN=Inter", "CN=Root", Local(2027, 3, 9, 23, 0)),
         Cert("CN=Root", "CN=Root", Local(2040, 1, 1))}},
       {"CN=Ann\r\nCN=Inter, Expiry Date : 01/06/2028"
        "\r\nCN=Root, Expiry Date : 09/03/2027 23:00:00 (Expired) "}},
      {"expiring later today is not marked",
       {{Cert("CN=Ann", "CN=Root", Local(2027, 3, 10, 18, 0)),
         Cert("CN=Root", "CN=Root", Local(2020, 1, 1))}},
       {"CN=Ann\r\nCN=Root, Expiry Date : 10/03/2027 18:00:00"}},
      {"two signers, one element each",
       {{Cert("CN=Ann", "CN=Root A", Local(2020, 1, 1)), Cert("CN=Root A", "CN=Root A", 0)},
        {Cert("CN=Bob", "CN=Bob", Local(2030, 1, 1))}},
       {"CN=Ann\r\nCN=Root A, Expiry Date : 01/01/2020 (Expired) ", "CN=Bob"}},
      {"no signers, no elements", {}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(CertificateDetails(c.signers, now), c.details) << c.reason;
}

// A message that names no certificate cannot pass as verified: the component's
// signer-not-found failure goes to the caller's failure path.
TEST_F(LocalZone, MissingSignerIsAComponentFailure) {
  const std::time_t now = Local(2027, 3, 10);
  auto number = [](auto f) -> std::int32_t {
    try {
      f();
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(number([&] { Verdict("f", {}, VerdictWording::kVerifyFile, now); }),
            hr::kSignerNotFound);
  EXPECT_EQ(number([&] { Verdict("f", {SignerChain{}}, VerdictWording::kVerifyFile, now); }),
            hr::kSignerNotFound);
  EXPECT_EQ(number([&] { CertificateDetails({SignerChain{}}, now); }), hr::kSignerNotFound);
}

}  // namespace
}  // namespace vellum::certificate_report
