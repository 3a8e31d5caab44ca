#include "desk/file_kind.h"

#include <QDir>
#include <QFileInfo>

#include "desk/vellum_module.h"

namespace vellum::desk {
namespace {

const QString kPackedExtension = QStringLiteral(".trel");
const QString kContentSuffix = QStringLiteral("_ContentSignature.");
const QString kSignatureSuffix = QStringLiteral("_Signature.");
const QString kDefaultSuffix = QStringLiteral("_DSignature.");

QString FileNameOf(const QString& path) {
  return path.mid(path.lastIndexOf(kSeparator) + 1);
}

}  // namespace

FileKind KindOfFile(const QString& path) {
  const QString name = FileNameOf(TrimBlanks(path));
  if (name.endsWith(kPackedExtension, Qt::CaseInsensitive)) return FileKind::kPackedSignature;
  if (name.contains(kContentSuffix, Qt::CaseInsensitive)) return FileKind::kAttachedSignature;
  if (name.contains(kSignatureSuffix, Qt::CaseInsensitive) ||
      name.contains(kDefaultSuffix, Qt::CaseInsensitive))
    return FileKind::kDetachedSignature;
  return FileKind::kOther;
}

QString DocumentOfSignature(const QString& signature) {
  const qsizetype cut = signature.lastIndexOf(kSeparator) + 1;
  const QString folder = signature.left(cut);
  const QString name = signature.mid(cut);
  // The last suffix in the name counts: "a_Signature.b_Signature.txt" is the signature of
  // "a_Signature.b.txt".
  const qsizetype at = name.lastIndexOf(kSignatureSuffix, -1, Qt::CaseInsensitive);
  if (at >= 0) {
    const QString document = folder + name.left(at) + u'.' + name.mid(at + kSignatureSuffix.size());
    return QFileInfo(document).isFile() ? document : QString();
  }
  const qsizetype dat = name.lastIndexOf(kDefaultSuffix, -1, Qt::CaseInsensitive);
  if (dat < 0) return {};
  const QString base = name.left(dat);
  if (base.isEmpty()) return {};
  QStringList found;
  const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
  for (const QString& entry : dir.entryList(QDir::Files | QDir::Hidden)) {
    if (entry == base || (entry.startsWith(base + u'.') && entry != name)) found << entry;
  }
  // Names that are themselves signatures of the same document are no candidates.
  found.removeIf([](const QString& entry) { return KindOfFile(entry) != FileKind::kOther; });
  return found.size() == 1 ? folder + found.front() : QString();
}

}  // namespace vellum::desk
