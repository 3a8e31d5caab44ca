#include "library/platform/hooks.h"

#include <cstdio>
#include <mutex>

namespace vellum::platform {
namespace {

std::mutex g_mutex;
VellumHostHooks g_hooks{};
bool g_installed = false;

VellumHostHooks Current() {
  std::lock_guard lock(g_mutex);
  return g_installed ? g_hooks : VellumHostHooks{};
}

}  // namespace

int SetHostHooks(const VellumHostHooks* hooks) {
  std::lock_guard lock(g_mutex);
  if (hooks == nullptr) {
    g_installed = false;
    g_hooks = {};
    return 0;
  }
  if (hooks->struct_size < sizeof(VellumHostHooks)) return -1;
  g_hooks = *hooks;
  g_installed = true;
  return 0;
}

void ShowMessage(const std::string& text) {
  VellumHostHooks hooks = Current();
  if (hooks.message_box != nullptr) {
    hooks.message_box(hooks.context, text.c_str());
    return;
  }
  std::fprintf(stderr, "%s\n", text.c_str());
}

int ChooseCertificate(const std::string& title, const std::string& prompt,
                      const std::vector<CertificateChoice>& items) {
  VellumHostHooks hooks = Current();
  if (hooks.choose_certificate == nullptr || items.empty()) return -1;
  std::vector<VellumCertificateChoice> raw;
  raw.reserve(items.size());
  for (const auto& item : items)
    raw.push_back({item.subject.c_str(), item.issuer.c_str(), item.valid_to.c_str()});
  int chosen = hooks.choose_certificate(hooks.context, title.c_str(), prompt.c_str(), raw.data(),
                                        static_cast<int>(raw.size()));
  if (chosen < 0 || chosen >= static_cast<int>(items.size())) return -1;
  return chosen;
}

}  // namespace vellum::platform
