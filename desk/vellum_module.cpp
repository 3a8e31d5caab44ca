#include "desk/vellum_module.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QStringDecoder>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "library/platform/error.h"
#include "library/platform/files.h"
#include "library/platform/text.h"

namespace vellum::desk {
namespace {

constexpr std::int32_t kSubscriptOutOfRange = 9;

const QString kConfigFailure = QStringLiteral("Can't read 'Config.ini' file");

// Config.ini is written by hand on this system, usually as UTF-8; a file that is not valid
// UTF-8 is taken as the ANSI code page, as files from the older desks are.
QString DecodeConfig(const Bytes& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  return QString::fromStdString(AnsiToUtf8(bytes));
}

// Lines end at CR LF, LF or a lone CR. Blank lines at the end of the file are no lines: an
// editor that leaves an empty last line must not make the whole file unreadable.
QStringList SplitLines(const QString& text) {
  QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
  while (!lines.isEmpty() && lines.back().trimmed().isEmpty()) lines.removeLast();
  return lines;
}

}  // namespace

QStringList MountedVolumes() {
  QStringList mounts{QStringLiteral("/")};
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady()) continue;
    const QString root = volume.rootPath();
    // Containers bind single files (resolv.conf, hosts) as mounts; only folders are volumes.
    if (!QFileInfo(root).isDir() || mounts.contains(root)) continue;
    mounts.push_back(root);
  }
  std::sort(mounts.begin() + 1, mounts.end());
  return mounts;
}

QString DriveOf(const QString& path, const QStringList& mounts) {
  QString best = QStringLiteral("/");
  for (const QString& mount : mounts) {
    if (mount.size() <= best.size()) continue;
    const bool inside =
        path == mount || (path.startsWith(mount) &&
                          (mount.endsWith(kSeparator) || path[mount.size()] == kSeparator));
    if (inside) best = mount;
  }
  return best;
}

QString FolderOf(const QString& path) {
  const qsizetype last = path.lastIndexOf(kSeparator);
  if (last < 0) return path;
  if (last == 0) return QString(kSeparator);
  return path.left(last);
}

double NumberFromText(const QString& text) {
  static const QRegularExpression number(
      QStringLiteral("^ *[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)? *$"));
  if (!number.match(text).hasMatch()) throw Error::Runtime(rt::kTypeMismatch);
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(value)) throw Error::Runtime(rt::kOverflow);
  return value;
}

std::int16_t ToInteger16(double value) {
  const double rounded = std::nearbyint(value);  // the default rounding mode is half to even
  if (rounded < -32768.0 || rounded > 32767.0) throw Error::Runtime(rt::kOverflow);
  return static_cast<std::int16_t>(rounded);
}

QString TextFromNumber(double value) {
  return QString::number(value, 'g', 15);
}

QFont DeskFont(QFont font) {
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QString TrimBlanks(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text[begin] == u' ') ++begin;
  while (end > begin && text[end - 1] == u' ') --end;
  return text.mid(begin, end - begin);
}

QString NumberedReportText(const QString& description, const QString& procedure, int line) {
  return description + QStringLiteral("\r\nin prjVerifyMoravel.frmVerify.") + procedure +
         QStringLiteral(" at line ") + QString::number(line);
}

QString ConfigFileOf(const QString& program_folder) {
  QStringList candidates{program_folder + kSeparator + kConfigName};
  const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
  candidates << (home.startsWith(u'/') ? home : qEnvironmentVariable("HOME") + "/.config") +
                    "/moravel-verify/" + kConfigName;
  QStringList dirs = qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts);
  dirs.removeIf([](const QString& d) { return !d.startsWith(u'/'); });
  if (dirs.isEmpty()) dirs << QStringLiteral("/etc/xdg");
  for (const QString& d : dirs) candidates << d + "/moravel-verify/" + kConfigName;
  for (const QString& c : candidates)
    if (platform::FileExists(c.toStdString())) return c;
  return candidates.front();
}

void VellumModule::ReadConfig(const QString& program_folder) {
  const QString path = ConfigFileOf(program_folder);
  if (platform::FileExists(path.toStdString())) {
    try {
      ReadConfigLines(path);
    } catch (const std::exception&) {
      // The settings read so far stay. The keys not read get their defaults below like missing
      // ones, so a mistake in the file never leaves the padding lengths or the format unset.
      ShowInfo(kConfigFailure);
    }
  }
  file_path_configured_ = !sFilePath.isEmpty();
  if (sFilePath.isEmpty()) sFilePath = QString(kSeparator);
  if (sClient.isEmpty()) sClient = QStringLiteral("10");
  if (sPass.isEmpty()) sPass = QStringLiteral("10");
  sDrive = DriveOf(sFilePath, mounted_volumes_());
  sFolder = FolderOf(sFilePath);
  if (sFormat.isEmpty()) sFormat = QStringLiteral("0");
}

void VellumModule::ReadConfigLines(const QString& path) {
  // The file is read whole and its handle closed before any line is looked at, so a line that
  // stops the reading never leaves the file open.
  const QStringList lines = SplitLines(DecodeConfig(platform::ReadFileBytes(path.toStdString())));
  for (const QString& line : lines) {
    // An empty line splits into no pieces at all, so even its key cannot be read.
    if (line.isEmpty()) throw Error::Runtime(kSubscriptOutOfRange);
    const QStringList pieces = line.split(u'=');
    const QString key = TrimBlanks(pieces[0]).toLower();
    const bool known = key == u"filepath" || key == u"format" || key == u"client" ||
                       key == u"pass" || key == u"trust";
    if (!known) continue;
    if (pieces.size() < 2) throw Error::Runtime(kSubscriptOutOfRange);
    const QString value = TrimBlanks(pieces[1]);
    if (key == u"filepath") {
      sFilePath = value;
    } else if (key == u"format") {
      sFormat = TextFromNumber(NumberFromText(value) - 1);
    } else if (key == u"client") {
      sClient = value;
    } else if (key == u"trust") {
      bRequireTrust = value.compare(QStringLiteral("require"), Qt::CaseInsensitive) == 0;
    } else {
      sPass = value;
    }
  }
}

void VellumModule::ShowInfo(const QString& text, QWidget* owner) {
  ui_.ShowBox(owner, text, DeskUi::Icon::kExclamation, QStringLiteral("Info Message."));
}

void VellumModule::ShowSuccess(const QString& text, QWidget* owner) {
  Show(SuccessBox(text), owner);
}

BoxContent VellumModule::SuccessBox(const QString& text) {
  return {text, DeskUi::Icon::kInformation, QStringLiteral("Successful"), {}, {}};
}

void VellumModule::Show(const BoxContent& box, QWidget* owner) {
  ui_.Show(owner, box);
}

void VellumModule::ShowPlain(const QString& text, QWidget* owner) {
  ui_.ShowBox(owner, text, DeskUi::Icon::kNone, kApplicationTitle);
}

void VellumModule::ShowNumberedReport(const QString& description, const QString& procedure,
                                      int line, QWidget* owner) {
  ShowPlain(NumberedReportText(description, procedure, line), owner);
}

bool VellumModule::UnloadOnEscape(int key, QWidget& window) {
  if (key != Qt::Key_Escape) return false;
  window.close();
  return true;
}

}  // namespace vellum::desk
