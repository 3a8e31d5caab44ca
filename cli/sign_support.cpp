#include "cli/sign_support.h"

#include <unistd.h>

#include <iostream>
#include <istream>
#include <ostream>

#include "cli/com_call.h"
#include "cli/password.h"
#include "cli/pin.h"
#include "cli/safe_text.h"
#include "library/com/client.h"
#include "library/platform/text.h"
#include "vellum/vellum.h"

namespace vellum::cli {

std::string PadLikeDesk(std::string_view value, int length) {
  std::string padded = TrimSpaces(value);
  std::u16string units = Utf8ToUtf16(padded);
  const std::size_t before = units.size();
  PadWithStars(units, static_cast<std::size_t>(length < 0 ? 0 : length));
  return padded.append(units.size() - before, '*');
}

std::string ForTerminal(std::string_view text) {
  return EscapeControls(text, true);
}

int ChooseOnTerminal(std::istream& in, std::ostream& out, const char* title, const char* prompt,
                     const VellumCertificateChoice* items, int count) {
  out << TrimSpaces(title != nullptr ? title : "") << "\n"
      << (prompt != nullptr ? prompt : "") << "\n";
  for (int i = 0; i < count; ++i) {
    out << "  " << (i + 1) << ") " << EscapeControls(items[i].subject) << "\n"
        << "     issued by " << EscapeControls(items[i].issuer) << ", valid to "
        << items[i].valid_to << "\n";
  }
  for (;;) {
    out << "Certificate number (1-" << count << "; empty line cancels): " << std::flush;
    std::string line;
    if (!std::getline(in, line)) {
      out << "\n";
      return -1;
    }
    line = TrimSpaces(line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return -1;
    // Digits only: "2x" or "+2" is a slip worth asking about again, not a choice.
    if (line.size() <= 6 && line.find_first_not_of("0123456789") == std::string::npos) {
      const int chosen = std::stoi(line);
      if (chosen >= 1 && chosen <= count) return chosen - 1;
    }
    out << "No certificate " << line << ".\n";
  }
}

bool HostHooks::Install() {
  com::HRESULT hr = com::S_OK;
  VellumHostHooks hooks{};
  hooks.context = this;
  hooks.message_box = &HostHooks::MessageBox;
  hooks.choose_certificate = &HostHooks::Choose;
  hooks.ask_pin = &HostHooks::AskPin;
  if (ProgressLineWanted(ctx_)) hooks.progress = &HostHooks::Progress;
  if (!installation_.Install(CLSID_DigitalSign, hooks, &hr)) {
    ctx_.err << "vellum: the registered library takes no host hooks (" << HexHr(hr) << ")\n";
    return false;
  }
  return true;
}

void HostHooks::MessageBox(void* context, const char* text) {
  auto* self = static_cast<HostHooks*>(context);
  self->ClearProgressLine();
  self->ctx_.err << ForTerminal(text != nullptr ? text : "") << "\n";
}

bool ProgressLineWanted(const Context& ctx) {
  return !ctx.quiet && &ctx.err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
}

HostHooks::~HostHooks() {
  ClearProgressLine();
}

// Back to the start of the line and erased to its end (ECMA-48 EL), so the next text starts
// on a clean line.
void HostHooks::ClearProgressLine() {
  if (!progress_line_) return;
  ctx_.err << "\r\x1b[K" << std::flush;
  progress_line_ = false;
}

void HostHooks::Progress(void* context, const char* operation, unsigned long long done,
                         unsigned long long total) {
  auto* self = static_cast<HostHooks*>(context);
  if (total <= kProgressLineFrom) return;
  if (done >= total) {
    self->ClearProgressLine();
    return;
  }
  constexpr unsigned long long kMiB = 1ull << 20;
  self->ctx_.err << "\rvellum: " << ForTerminal(operation != nullptr ? operation : "") << " "
                 << done * 100 / total << "% (" << done / kMiB << " of " << total / kMiB
                 << " MiB)\x1b[K" << std::flush;
  self->progress_line_ = true;
}

int HostHooks::Choose(void* context, const char* title, const char* prompt,
                      const VellumCertificateChoice* items, int count) {
  auto& self = *static_cast<HostHooks*>(context);
  auto& ctx = self.ctx_;
  if (self.chosen_) {
    int found = -1;
    for (int i = 0; i < count; ++i) {
      const VellumCertificateChoice& item = items[i];
      if (self.chosen_->subject != item.subject || self.chosen_->issuer != item.issuer ||
          self.chosen_->valid_to != item.valid_to)
        continue;
      if (found >= 0) {
        ctx.err << "vellum: two offered certificates have the same subject, issuer and expiry; "
                   "the thumbprint cannot tell them apart here\n";
        return -1;
      }
      found = i;
    }
    if (found < 0) ctx.err << "vellum: the certificate of that thumbprint was not offered\n";
    return found;
  }
  if (!InteractiveInput(ctx)) {
    ctx.err << "vellum: " << count
            << " certificates fit and there is no terminal to choose on; narrow them with "
               "--thumbprint, --person, --mail or --company\n";
    return -1;
  }
  return ChooseOnTerminal(ctx.in, ctx.err, title, prompt, items, count);
}

int HostHooks::AskPin(void* context, const char* token, char* pin, unsigned capacity) {
  auto* self = static_cast<HostHooks*>(context);
  if (self->pin_ == nullptr) return -1;
  return PinEntry::Ask(self->pin_, token, pin, capacity);
}

}  // namespace vellum::cli
