// Where the command takes a token's PIN from, in this order: a file (--pin-file F, one trailing
// line break dropped), the VELLUM_PIN environment variable, or a prompt on the terminal with
// echo off. Never from a command-line value, which other users could read in the process list.
//
// The library asks for the PIN through its host hook only when a token needs a login, and at
// most once per call; the answer is wiped as soon as it is handed over.
#pragma once

#include <optional>
#include <string>

#include "cli/context.h"
#include "library/platform/secret.h"

namespace vellum::cli {

class PinEntry {
 public:
  // Takes VELLUM_PIN out of the environment now (wiped and unset), whether or not a token will
  // ask, so no program started later inherits it.
  PinEntry(Context& ctx, std::optional<std::string> pin_file);
  PinEntry(const PinEntry&) = delete;
  PinEntry& operator=(const PinEntry&) = delete;

  // The host hook (`context` is the PinEntry): fills `pin` and returns 0, or returns -1 with
  // the reason on the command's standard error.
  static int Ask(void* context, const char* token, char* pin, unsigned capacity);

 private:
  bool Read(const std::string& token, platform::SecretText& pin);
  bool ReadOnce(const std::string& token, platform::SecretText& pin);

  Context& ctx_;
  std::optional<std::string> pin_file_;
  std::optional<platform::SecretText> environment_;
  // The PIN once given: the command's own store lookup and the library's signing both log in,
  // and the operator is asked once per command.
  std::optional<platform::SecretText> given_;
};

// The PIN hook of the store code linked into this command (the library loaded by the command
// has hooks of its own), for the length of one lookup.
class ScopedPinHook {
 public:
  explicit ScopedPinHook(PinEntry& pin);
  ~ScopedPinHook();
  ScopedPinHook(const ScopedPinHook&) = delete;
  ScopedPinHook& operator=(const ScopedPinHook&) = delete;
};

}  // namespace vellum::cli
