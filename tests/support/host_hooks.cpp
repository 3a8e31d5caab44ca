#include "tests/support/host_hooks.h"

#include <cstring>
#include <stdexcept>

#include "library/platform/hooks.h"

namespace vellum::testing {

ScopedHostHooks::ScopedHostHooks(int chooser_answer) : answer_(chooser_answer) {
  VellumHostHooks hooks{sizeof(VellumHostHooks), this, &OnMessage, &OnChoose, &OnPin, nullptr};
  if (platform::SetHostHooks(&hooks) != 0) throw std::runtime_error("host hooks refused");
}

ScopedHostHooks::~ScopedHostHooks() {
  platform::SetHostHooks(nullptr);
}

void ScopedHostHooks::OnMessage(void* context, const char* text) {
  static_cast<ScopedHostHooks*>(context)->messages_.emplace_back(text);
}

int ScopedHostHooks::OnChoose(void* context, const char* title, const char* prompt,
                              const VellumCertificateChoice* items, int count) {
  auto* self = static_cast<ScopedHostHooks*>(context);
  ChooserCall call{title, prompt, {}};
  for (int i = 0; i < count; ++i) call.subjects.emplace_back(items[i].subject);
  self->chooser_calls_.push_back(std::move(call));
  return self->answer_;
}

int ScopedHostHooks::OnPin(void* context, const char* token, char* pin, unsigned capacity) {
  auto* self = static_cast<ScopedHostHooks*>(context);
  self->pin_requests_.emplace_back(token);
  if (!self->pin_ || self->pin_->size() >= capacity) return -1;
  std::memcpy(pin, self->pin_->c_str(), self->pin_->size() + 1);
  return 0;
}

}  // namespace vellum::testing
