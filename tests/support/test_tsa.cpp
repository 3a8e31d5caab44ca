#include "tests/support/test_tsa.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

extern char** environ;

namespace vellum::testing {
namespace {

// `openssl ts -reply` reads its settings from a [tsa] section.
std::string Config(const std::string& folder) {
  return "[ tsa ]\n"
         "default_tsa = test_tsa\n"
         "[ test_tsa ]\n"
         "serial = " +
         folder + "/tsa-serial\n" +
         "crypto_device = builtin\n"
         "signer_digest = sha256\n"
         "default_policy = 1.3.6.1.4.1.99999.1\n"
         "digests = sha256, sha384, sha512\n"
         "accuracy = secs:1\n"
         "ordering = yes\n"
         "tsa_name = yes\n"
         "ess_cert_id_chain = no\n"
         "ess_cert_id_alg = sha256\n";
}

}  // namespace

TestTsa::TestTsa(const std::string& folder, double slow_seconds) {
  CertOptions root;
  root.subject = "CN=Vellum Test TSA Root, O=Vellum Test, C=GB";
  root.ca = true;
  root_ = MakeCert(root);
  CertOptions authority;
  authority.subject = "CN=Vellum Test Time Stamping, O=Vellum Test, C=GB";
  authority.key_usage = "critical,digitalSignature";
  authority.extended_key_usage = "critical,timeStamping";
  authority_ = MakeCert(authority, &root_);

  WriteFile(folder + "/tsa.cnf", Config(folder));
  WriteFile(folder + "/tsa-serial", "01\n");
  WriteFile(folder + "/tsa.pem", authority_.Pem());
  WriteFile(folder + "/tsa.key", authority_.KeyPem());
  root_file_ = folder + "/tsa-root.pem";
  WriteFile(root_file_, root_.Pem());

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const std::string script = std::string(VELLUM_TEST_SUPPORT_DIR) + "/tsa_server.py";
  const std::string slow = std::to_string(slow_seconds);
  std::vector<std::string> words = {
      "python3", script, folder + "/tsa.cnf", folder + "/tsa.pem", folder + "/tsa.key", slow};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    throw std::runtime_error("python3 did not start");
  }
  // The server prints its port once it listens.
  std::string line;
  pollfd ready{out[0], POLLIN, 0};
  char c = 0;
  while (line.find('\n') == std::string::npos && poll(&ready, 1, 20000) == 1 &&
         read(out[0], &c, 1) == 1)
    line += c;
  close(out[0]);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("the test authority did not start");
  }
}

TestTsa::~TestTsa() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string TestTsa::Url(const std::string& mode) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + mode;
}

}  // namespace vellum::testing
