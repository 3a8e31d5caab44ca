// The command handlers. Each returns an exit code (see run.h); ctx.args holds the operands and
// ctx.options the options the command line gave.
#pragma once

#include <iosfwd>
#include <string>

#include "cli/context.h"

namespace vellum::cli {

int CmdRegister(Context& ctx);
int CmdUnregister(Context& ctx);
int CmdOpen(Context& ctx);
int CmdStoreList(Context& ctx);
int CmdStoreTokens(Context& ctx);
int CmdStoreImport(Context& ctx);
int CmdStoreNewCertificate(Context& ctx);
int CmdEncrypt(Context& ctx);
int CmdDecrypt(Context& ctx);
int CmdSign(Context& ctx);
int CmdVerify(Context& ctx);
int CmdVerifyNse(Context& ctx);
int CmdTimestamp(Context& ctx);
int CmdZip(Context& ctx);
int CmdUnzip(Context& ctx);

// After a successful signing: a warning on `err` when the certificate the message names has its
// private key in a store file that its group or others may read.
void WarnAboutExposedKey(std::ostream& err, const std::string& store,
                         const std::string& signing_message);

}  // namespace vellum::cli
