// Host hooks for tests: a certificate chooser with a set answer and a message box that
// records its texts, installed for the life of the object.
#pragma once

#include <string>
#include <vector>

#include "vellum/host.h"

namespace vellum::testing {

class ScopedHostHooks {
 public:
  // What the chooser was asked, one entry per call.
  struct ChooserCall {
    std::string title;
    std::string prompt;
    std::vector<std::string> subjects;
  };

  // `chooser_answer`: the index the chooser returns (-1 = the user cancelled).
  explicit ScopedHostHooks(int chooser_answer = -1);
  ~ScopedHostHooks();  // removes the hooks again
  ScopedHostHooks(const ScopedHostHooks&) = delete;
  ScopedHostHooks& operator=(const ScopedHostHooks&) = delete;

  void set_chooser_answer(int answer) { answer_ = answer; }
  const std::vector<ChooserCall>& chooser_calls() const { return chooser_calls_; }
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  static void OnMessage(void* context, const char* text);
  static int OnChoose(void* context, const char* title, const char* prompt,
                      const VellumCertificateChoice* items, int count);

  int answer_;
  std::vector<ChooserCall> chooser_calls_;
  std::vector<std::string> messages_;
};

}  // namespace vellum::testing
