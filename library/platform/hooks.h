// The library's side of the host hooks (vellum/host.h): what the classes call when they need
// the user. Hooks are process-wide: the library runs on its host's one user-interface thread.
#pragma once

#include <string>
#include <vector>

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

int SetHostHooks(const VellumHostHooks* hooks);

}  // namespace vellum::platform
