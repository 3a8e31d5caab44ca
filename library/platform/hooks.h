// The library's side of the host hooks (vellum/host.h): what the classes call when they need
// the user. Hooks are process-wide: the library runs on its host's one user-interface thread.
#pragma once

#include <string>
#include <vector>

#include "library/platform/secret.h"

#include "vellum/host.h"

namespace vellum::platform {

struct CertificateChoice {
  std::string subject;
  std::string issuer;
  std::string valid_to;
};

// Shows a message with only an OK button (the host's box, else standard error).
void ShowMessage(const std::string& text);

// Asks the host to pick one of `items`; -1 when cancelled or when no chooser is installed.
int ChooseCertificate(const std::string& title, const std::string& prompt,
                      const std::vector<CertificateChoice>& items);

// Asks the host for the user PIN of the token labelled `token` and puts it into `pin`. False
// (and `pin` empty) when no PIN hook is installed, the user cancelled, or the PIN given is
// empty or did not fit. The buffer handed to the host is wiped here.
bool AskPin(const std::string& token, SecretText& pin);

// Installs a copy of `hooks`; a shorter structure from an older host is accepted from the
// first version's size on, its missing members taken as null.
int SetHostHooks(const VellumHostHooks* hooks);

}  // namespace vellum::platform
