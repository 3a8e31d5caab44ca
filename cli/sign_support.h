// Pieces of the signing and verifying commands that stand apart from the library calls: the
// desk's padding of credentials, the terminal certificate chooser, the host hooks, and the
// shaping of the library's texts for a terminal.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "cli/context.h"
#include "library/com/client.h"
#include "vellum/host.h"

namespace vellum::cli {

// The longest padding --pad accepts. The desk's boxes hold 16 characters and its configured
// lengths are 10 and 20; anything far beyond that is a typing slip, not a credential.
inline constexpr int kLongestPad = 1024;

// The desk's rule before it verifies: blanks (U+0020 only) trimmed from both ends, then "*"
// appended until the text is `length` characters long, counted in UTF-16 code units as the
// desk's text boxes count them. A text already that long or longer stays as trimmed.
std::string PadLikeDesk(std::string_view value, int length);

// The library writes CR LF between the lines of its messages; a Linux terminal or pipe wants
// LF alone. Every other control character (a newline or an escape sequence inside a carried
// name or a subject) is shown escaped, so a name cannot forge a line of the report.
std::string ForTerminal(std::string_view text);

// Lists `items` on `out` under `title` and `prompt`, then reads the number of the choice from
// `in` (1 to count). Returns the zero-based index, or -1 when the user enters an empty line or
// input ends. Anything else is asked again.
int ChooseOnTerminal(std::istream& in, std::ostream& out, const char* title, const char* prompt,
                     const VellumCertificateChoice* items, int count);

class PinEntry;

// Installs the command's hooks in the registered library for the length of one command: the
// library's message boxes are written to the command's standard error, a certificate choice
// is asked on the terminal (cancelled when standard input is no terminal), and a token's PIN
// comes from `pin` (none without one). Long operations on a large file draw a progress line on
// standard error when it is a terminal (see ProgressLineWanted). The hooks point at this
// object, so they are removed again before it goes away.
// Files up to this size are done too quickly for a progress line to help.
inline constexpr unsigned long long kProgressLineFrom = 64ull << 20;

// True when the command's standard error is the process's and a terminal: only then is a
// progress line drawn (a redirected or captured standard error gets none).
bool ProgressLineWanted(const Context& ctx);

class HostHooks {
 public:
  explicit HostHooks(Context& ctx, PinEntry* pin = nullptr) : ctx_(ctx), pin_(pin) {}
  HostHooks(const HostHooks&) = delete;
  HostHooks& operator=(const HostHooks&) = delete;
  ~HostHooks();  // clears a progress line left standing

  // False (with a message on the command's standard error) when the library's entry point
  // cannot be found.
  bool Install();

  // The certificate a choice is answered with, without asking: the one offered with exactly
  // this subject, issuer and expiry (as the chooser shows them). The library offers no
  // thumbprint, so these three stand for it; --thumbprint finds them in the store first.
  struct Chosen {
    std::string subject, issuer, valid_to;
  };
  void Preselect(Chosen chosen) { chosen_ = std::move(chosen); }

 private:
  static void MessageBox(void* context, const char* text);
  static int Choose(void* context, const char* title, const char* prompt,
                    const VellumCertificateChoice* items, int count);
  static int AskPin(void* context, const char* token, char* pin, unsigned capacity);
  // The progress line: drawn on standard error, over itself, while a file larger than
  // kProgressLineFrom is read, compressed or extracted, and cleared when the work is done or
  // anything else is written.
  static void Progress(void* context, const char* operation, unsigned long long done,
                       unsigned long long total);
  void ClearProgressLine();

  Context& ctx_;
  bool progress_line_ = false;  // a progress line stands on the terminal
  PinEntry* pin_;
  std::optional<Chosen> chosen_;
  com::HostHookInstallation installation_;
};

}  // namespace vellum::cli
