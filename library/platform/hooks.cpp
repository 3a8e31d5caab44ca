#include "library/platform/hooks.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace vellum::platform {
namespace {

std::mutex g_mutex;
VellumHostHooks g_hooks{};
bool g_installed = false;

// The structure as the first hosts knew it: everything before ask_pin.
constexpr std::size_t kFirstHooksSize = offsetof(VellumHostHooks, ask_pin);

// PKCS#11 sets no upper bound on a PIN; tokens take far less than this.
constexpr unsigned kPinCapacity = 256;

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
  if (hooks->struct_size < kFirstHooksSize) return -1;
  g_hooks = {};
  std::memcpy(&g_hooks, hooks, std::min<std::size_t>(hooks->struct_size, sizeof g_hooks));
  g_hooks.struct_size = sizeof g_hooks;
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

bool AskPin(const std::string& token, SecretText& pin) {
  Wipe(pin.get());
  VellumHostHooks hooks = Current();
  if (hooks.ask_pin == nullptr) return false;
  SecretText buffer(std::string(kPinCapacity, '\0'));
  int answer = hooks.ask_pin(hooks.context, token.c_str(), buffer.get().data(), kPinCapacity);
  // A PIN that filled the buffer without its terminating zero is not taken cut short: a
  // wrong PIN would cost the token a try.
  std::size_t length = strnlen(buffer.get().data(), kPinCapacity);
  if (answer != 0 || length == 0 || length == kPinCapacity) return false;
  pin.get().assign(buffer.get().data(), length);
  return true;
}

ProgressReport::ProgressReport(const char* operation, std::uint64_t total)
    : operation_(operation), total_(total) {
  const VellumHostHooks hooks = Current();
  if (hooks.progress == nullptr || total == 0) return;
  hook_ = hooks.progress;
  context_ = hooks.context;
  next_ = 0;
  Report();  // 0 of total: the operation has begun
}

// Reports where the count stands, clamped to the total, and works out the count of the next
// whole per cent.
void ProgressReport::Report() {
  if (hook_ == nullptr || finished_) return;
  const std::uint64_t done = done_ < total_ ? done_ : total_;
  hook_(context_, operation_, done, total_);
  if (done == total_) {
    finished_ = true;
    next_ = UINT64_MAX;
    return;
  }
  const auto percent =
      static_cast<std::uint64_t>(static_cast<unsigned __int128>(done) * 100 / total_);
  next_ =
      static_cast<std::uint64_t>((static_cast<unsigned __int128>(percent + 1) * total_ + 99) / 100);
}

void ProgressReport::Finish() {
  if (hook_ == nullptr || finished_) return;
  done_ = total_;
  Report();
}

}  // namespace vellum::platform
