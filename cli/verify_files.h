// vellum verify on documents and on several files at once, as an operator's inbox holds them:
// a signed document is checked against the detached signature found beside it under the
// default names, a signature file is checked as it is. Each file is one run of the
// single-signature command; several files give one summary line each and the worst status.
#pragma once

#include <string>
#include <vector>

#include "cli/context.h"

namespace vellum::cli {

// The detached signatures a document may have beside it, in the order they are looked for:
// the desk's name ("a.txt" -> "a_Signature.txt"; the last "." of the whole path counts), then
// the library's default ("a_DSignature.txt"), then both packed (".trel").
std::vector<std::string> DefaultSignatureNames(const std::string& document);

// True for a name the signing side gives its signatures (_Signature., _DSignature.,
// _ContentSignature., or a packed .trel).
bool IsSignatureName(const std::string& path);

// True when `ctx` names files the batch form handles: more than one operand, or one document
// with a signature beside it and none of the options that describe a single signature.
bool WantsFileVerification(const Context& ctx);

// Runs `verify_one` (the single-signature command) for every operand; see above.
int VerifyFiles(Context& ctx, int (*verify_one)(Context&));

// The worse of two exit codes: usage (2) over failure (1) over "not trusted" (3) over 0.
int WorseStatus(int a, int b);

}  // namespace vellum::cli
