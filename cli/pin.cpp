#include "cli/pin.h"

#include <sys/prctl.h>

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "cli/password.h"
#include "cli/safe_text.h"
#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/hooks.h"

namespace vellum::cli {

PinEntry::PinEntry(Context& ctx, std::optional<std::string> pin_file)
    : ctx_(ctx), pin_file_(std::move(pin_file)) {
  if (char* env = std::getenv("VELLUM_PIN"); env != nullptr) {
    environment_.emplace(std::string(env));
    explicit_bzero(env, std::strlen(env));
    ::unsetenv("VELLUM_PIN");
  }
}

bool PinEntry::Read(const std::string& token, platform::SecretText& pin) {
  if (given_) {
    pin.get() = given_->get();
    return true;
  }
  if (!ReadOnce(token, pin)) return false;
  given_.emplace(pin.get());
  return true;
}

bool PinEntry::ReadOnce(const std::string& token, platform::SecretText& pin) {
  // No core file and no ptrace from now on: the PIN is in this process's memory.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  if (pin_file_) {
    try {
      // A PIN is a line: the same bound as a password file, regular files only.
      pin.get() = platform::ReadSmallFile(*pin_file_, kLargestPasswordFile);
    } catch (const Error& e) {
      ctx_.err << "vellum: cannot read the PIN file " << EscapeControls(*pin_file_) << ": "
               << EscapeControls(e.description()) << "\n";
      return false;
    }
    if (!pin.get().empty() && pin.get().back() == '\n') pin.get().pop_back();
    if (!pin.get().empty() && pin.get().back() == '\r') pin.get().pop_back();
    return true;
  }
  if (environment_) {
    pin.get() = environment_->get();
    return true;
  }
  if (InteractiveInput(ctx_)) {
    std::optional<std::string> typed =
        PromptWithoutEcho(ctx_, "PIN of the token \"" + EscapeControls(token) + "\": ");
    if (!typed) return false;
    pin.get() = *typed;
    platform::Wipe(*typed);
    return true;
  }
  ctx_.err << "vellum: the token \"" << EscapeControls(token)
           << "\" needs its PIN: use --pin-file FILE, set VELLUM_PIN, or run on a terminal\n";
  return false;
}

int PinEntry::Ask(void* context, const char* token, char* pin, unsigned capacity) {
  auto* self = static_cast<PinEntry*>(context);
  platform::SecretText text;
  if (!self->Read(token != nullptr ? token : "", text)) return -1;
  if (text.get().size() >= capacity) {
    self->ctx_.err << "vellum: the PIN is longer than a token takes\n";
    return -1;
  }
  std::memcpy(pin, text.get().c_str(), text.get().size() + 1);
  return 0;
}

ScopedPinHook::ScopedPinHook(PinEntry& pin) {
  VellumHostHooks hooks{};
  hooks.struct_size = sizeof hooks;
  hooks.context = &pin;
  hooks.ask_pin = &PinEntry::Ask;
  platform::SetHostHooks(&hooks);
}

ScopedPinHook::~ScopedPinHook() {
  platform::SetHostHooks(nullptr);
}

}  // namespace vellum::cli
