// A time-stamping authority made by the tests: its own root and a certificate allowed to sign
// timestamps (extended key usage timeStamping, critical), behind tsa_server.py on a free port
// of 127.0.0.1. The server answers with `openssl ts -reply`; the path of the URL chooses a
// behaviour (see tsa_server.py): Url("ok"), Url("slow"), Url("other-imprint")...
//
//   vellum::testing::TempFolder tmp;
//   vellum::testing::TestTsa tsa(tmp.path());
//   vellum::testing::ScopedEnv url("VELLUM_TSA_URL", tsa.Url("ok"));
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/temp_folder.h"
#include "tests/support/test_pki.h"

namespace vellum::testing {

class TestTsa {
 public:
  // Writes the authority's files into `folder` and starts the server; `slow_seconds` is how
  // long Url("slow") waits before it answers. Throws std::runtime_error when it cannot start.
  explicit TestTsa(const std::string& folder, double slow_seconds = 3);
  ~TestTsa();
  TestTsa(const TestTsa&) = delete;
  TestTsa& operator=(const TestTsa&) = delete;

  std::string Url(const std::string& mode) const;
  const TestCert& root() const { return root_; }
  const TestCert& authority() const { return authority_; }
  // The authority's root as a PEM file (for --trust-anchors or -CAfile).
  const std::string& root_file() const { return root_file_; }

 private:
  TestCert root_;
  TestCert authority_;
  std::string root_file_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace vellum::testing
