#include "tests/support/host_hooks.h"

#include <stdexcept>

#include "library/platform/hooks.h"

namespace vellum::testing {

ScopedHostHooks::ScopedHostHooks(int chooser_answer) : answer_(chooser_answer) {
  VellumHostHooks hooks{sizeof(VellumHostHooks), this, &OnMessage, &OnChoose};
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

}  // namespace vellum::testing
