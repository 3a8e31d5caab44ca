// Certificate chains as the callers read them: the certificate first, its root last.
#pragma once

#include <vector>

#include "library/crypto/certificate.h"

namespace vellum::crypto {

// The folder of the system's trusted certificates (hashed names), searched last.
inline constexpr const char* kSystemCertificates = "/etc/ssl/certs";

// Follows issuers from `leaf` through `extra` (a message's certificates), every store of the
// current user, and the system's trusted certificates. An issuer counts only when its names
// match and its key verifies the certificate's signature. Stops at a self-issued certificate
// or where no issuer is found, so a chain may end short of a root. No validity dates or
// policies are checked: an expired certificate stays in the chain with its own dates.
std::vector<Certificate> BuildChain(const Certificate& leaf, const std::vector<Certificate>& extra);

// True when `cert` names itself as its issuer (a root, or a self-signed end certificate whose
// key usage would not let it pass as an issuer).
bool IsSelfIssued(const Certificate& cert);

}  // namespace vellum::crypto
