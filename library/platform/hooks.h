// The library's side of the host hooks (vellum/host.h): what the classes call when they need
// the user. Hooks are process-wide: the library runs on its host's one user-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/platform/secret.h"

#include "vellum/host.h"

namespace vellum::platform {

struct CertificateChoice {
  std::string subject;
  std::string issuer;
  std::string valid_to;
};

// Shows a message with only an OK button (the host's box, else standard error).
void ShowMessage(const std::string& text);

// Asks the host to pick one of `items`; -1 when cancelled or when no chooser is installed.
int ChooseCertificate(const std::string& title, const std::string& prompt,
                      const std::vector<CertificateChoice>& items);

// Asks the host for the user PIN of the token labelled `token` and puts it into `pin`. False
// (and `pin` empty) when no PIN hook is installed, the user cancelled, or the PIN given is
// empty or did not fit. The buffer handed to the host is wiped here.
bool AskPin(const std::string& token, SecretText& pin);

// Reports how far a long operation has come through the host's progress hook, throttled: at
// most once for every whole per cent of `total`, and once with done == total when Finish is
// called (or the count reaches the total). Without a progress hook, or for an empty total, it
// reports nothing and costs one comparison per call. The hook is looked up once, at
// construction.
class ProgressReport {
 public:
  // `operation` must outlive the report (a literal).
  ProgressReport(const char* operation, std::uint64_t total);
  // `bytes` more are done.
  void Advance(std::uint64_t bytes) { Reach(done_ + bytes); }
  // `done` in all are done (never counts backwards).
  void Reach(std::uint64_t done) {
    if (done > done_) done_ = done;
    if (done_ >= next_) Report();
  }
  // The operation is over: reports done == total once, if it was not reported yet.
  void Finish();
  // True when a host listens, for callers that would do extra work to report.
  bool wanted() const { return hook_ != nullptr; }
  std::uint64_t total() const { return total_; }

 private:
  void Report();

  void (*hook_)(void*, const char*, unsigned long long, unsigned long long) = nullptr;
  void* context_ = nullptr;
  const char* operation_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::uint64_t next_ = UINT64_MAX;  // the count that makes the next whole per cent
  bool finished_ = false;
};

// The operations the library reports.
inline constexpr const char* kProgressReading = "Reading";
inline constexpr const char* kProgressCompressing = "Compressing";
inline constexpr const char* kProgressExtracting = "Extracting";

// Installs a copy of `hooks`; a shorter structure from an older host is accepted from the
// first version's size on, its missing members taken as null.
int SetHostHooks(const VellumHostHooks* hooks);

}  // namespace vellum::platform
