// What kind of signed file a name looks like, from the names the library gives its files:
// "name_ContentSignature.txt" (content inside), its packed copy "….trel", and detached
// signatures "name_Signature.ext" (the suffix the desk looks for) or "name_DSignature.txt"
// (the library's default). The desk uses it to preselect the format and the content box.
#pragma once

#include <QString>

namespace vellum::desk {

enum class FileKind {
  kOther,              // no signature name: the signed document itself, or a name of the sender's
  kDetachedSignature,  // "_Signature." or "_DSignature." in the file name
  kAttachedSignature,  // "_ContentSignature." in the file name
  kPackedSignature,    // the file name ends with ".trel"
};

// Looks at the last component of `path` only, without regard to letter case (names travel
// through mail and other systems that change it).
FileKind KindOfFile(const QString& path);

// The document a detached signature file belongs to, when it exists beside it:
// "/in/pay_Signature.txt" gives "/in/pay.txt"; "/in/pay_DSignature.txt" gives the one file
// "/in/pay" or "/in/pay.<ext>" there is (the default suffix dropped the document's extension).
// Empty when there is none, or more than one candidate.
QString DocumentOfSignature(const QString& signature);

}  // namespace vellum::desk
