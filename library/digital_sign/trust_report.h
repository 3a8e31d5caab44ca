// The trust answer as it crosses the binary interface: the JSON text of _DigitalSignTrust's
// sTrustReport (its members are listed in vellum.h).
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "library/crypto/trust.h"

namespace vellum::trust_report {

// {"signers":[…]} for `signers`, dates in local time.
std::string Json(const std::vector<crypto::SignerTrust>& signers);

// The report of a verification that did not succeed, or whose signers could not be evaluated
// (`error` then says why).
std::string Empty(const std::string& error = "");

}  // namespace vellum::trust_report
