// Host hooks for tests: a certificate chooser with a set answer, a message box that records
// its texts and a PIN entry with a set answer, installed for the life of the object.
#pragma once

#include <optional>
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
  // The PIN the PIN entry gives; nullopt cancels (the default).
  void set_pin(std::optional<std::string> pin) { pin_ = std::move(pin); }
  // The token named in each PIN request.
  const std::vector<std::string>& pin_requests() const { return pin_requests_; }
  const std::vector<ChooserCall>& chooser_calls() const { return chooser_calls_; }
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  static void OnMessage(void* context, const char* text);
  static int OnChoose(void* context, const char* title, const char* prompt,
                      const VellumCertificateChoice* items, int count);
  static int OnPin(void* context, const char* token, char* pin, unsigned capacity);

  int answer_;
  std::optional<std::string> pin_;
  std::vector<std::string> pin_requests_;
  std::vector<ChooserCall> chooser_calls_;
  std::vector<std::string> messages_;
};

}  // namespace vellum::testing
