#include "desk/remembered.h"

#include <sys/stat.h>

#include <QStringList>
#include <cstdlib>
#include <filesystem>

#include "library/platform/error.h"
#include "library/platform/files.h"

namespace vellum::desk {
namespace {

const QString kFileName = QStringLiteral("desk-state.ini");
const QString kFolderName = QStringLiteral("moravel-verify");

std::optional<bool> Flag(const QString& value) {
  if (value == u"1") return true;
  if (value == u"0") return false;
  return std::nullopt;
}

QString FlagText(bool value) {
  return value ? QStringLiteral("1") : QStringLiteral("0");
}

}  // namespace

QString RememberedFileOfUser() {
  QString base = QString::fromLocal8Bit(std::getenv("XDG_CONFIG_HOME"));
  if (!base.startsWith(u'/')) {
    const QString home = QString::fromLocal8Bit(std::getenv("HOME"));
    if (!home.startsWith(u'/')) return {};
    base = home + QStringLiteral("/.config");
  }
  return base + u'/' + kFolderName + u'/' + kFileName;
}

Remembered ReadRemembered(const QString& file) {
  Remembered remembered;
  if (file.isEmpty() || !platform::FileExists(file.toStdString())) return remembered;
  QString text;
  try {
    const Bytes bytes = platform::ReadFileBytes(file.toStdString());
    text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  } catch (const std::exception&) {
    return remembered;
  }
  for (const QString& line : text.split(u'\n')) {
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0) continue;
    const QString key = line.left(equals).trimmed();
    const QString value = line.mid(equals + 1).trimmed();
    if (key == u"folder") {
      remembered.folder = value;
    } else if (key == u"format") {
      if (value == u"0" || value == u"1") remembered.format = value.toInt();
    } else if (key == u"content") {
      remembered.content = Flag(value);
    } else if (key == u"decrypt") {
      remembered.decrypt = Flag(value);
    } else if (key == u"binary") {
      remembered.binary = Flag(value);
    } else if (key == u"open") {
      remembered.open = Flag(value);
    }
  }
  return remembered;
}

void WriteRemembered(const QString& file, const Remembered& remembered) {
  const std::filesystem::path path = platform::PathFromUtf8(file.toStdString());
  const std::filesystem::path folder = path.parent_path();
  if (!std::filesystem::is_directory(folder)) {
    std::filesystem::create_directories(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
      throw FileError(errno, platform::PathToUtf8(folder));
  }
  QString text;
  // A folder name with a line break cannot be written back as one line; it is not remembered.
  if (!remembered.folder.contains(u'\n') && !remembered.folder.contains(u'\r'))
    text += QStringLiteral("folder=") + remembered.folder + u'\n';
  if (remembered.format) text += QStringLiteral("format=%1\n").arg(*remembered.format);
  const std::pair<const char*, std::optional<bool>> flags[] = {{"content", remembered.content},
                                                               {"decrypt", remembered.decrypt},
                                                               {"binary", remembered.binary},
                                                               {"open", remembered.open}};
  for (const auto& [key, value] : flags)
    if (value) text += QLatin1String(key) + u'=' + FlagText(*value) + u'\n';
  platform::WriteFileAtomic(file.toStdString(), text.toStdString());
}

}  // namespace vellum::desk
