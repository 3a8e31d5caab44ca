// VellumModule: the settings every window of the desk shares, the reading of Config.ini, the
// three kinds of message box and the Escape rule.
//
// The desk runs on Linux, so the configured paths use the platform's "/" separator and the
// "drive" of a path is the mounted volume it lies on (see DriveOf).
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>

#include "desk/desk_ui.h"

class QWidget;

namespace vellum::desk {

inline constexpr char16_t kSeparator = u'/';
inline const QString kApplicationTitle = QStringLiteral("Moravel Verify");
inline const QString kConfigName = QStringLiteral("Config.ini");

// The mount points of the mounted volumes, "/" first.
QStringList MountedVolumes();

// The volume `path` lies on: the longest mount point that is a whole-component prefix of it,
// "/" when none is (relative paths included). This stands in for "the first two characters".
QString DriveOf(const QString& path, const QStringList& mounts);

// `path` cut before its last separator, the way the desk remembers the folder of a configured
// path: "/data/In/" gives "/data/In", "/data/In" gives "/data"; a value without a separator is
// kept whole. Cutting the root's only separator leaves nothing, which stands for the root.
QString FolderOf(const QString& path);

// Automation-style number reading of a text: blanks around it allowed, decimal with optional
// fraction and exponent. Anything else raises run-time error 13 "Type mismatch".
double NumberFromText(const QString& text);
// Rounds half to even, as the automation coercion to a 16-bit integer does; out of range
// raises 6 "Overflow".
std::int16_t ToInteger16(double value);
// The shortest decimal text of a number ("0", "-1", "0.5").
QString TextFromNumber(double value);

// The desk's face: Tahoma where it is installed, else the nearest sans serif; the size is the
// desktop's, so a larger desktop font grows the windows.
QFont DeskFont(QFont font);

// Blanks (spaces only) removed at both ends, as the desk's trimming does.
QString TrimBlanks(const QString& text);

// The Config.ini the desk reads: the one in its program folder, as the desk always read it;
// an installed desk's folder is /usr/bin, so then the user's ($XDG_CONFIG_HOME, else
// ~/.config) and the system's ($XDG_CONFIG_DIRS in order, else /etc/xdg) moravel-verify
// folders; the first file found. With none, the program folder's name (which reads as absent).
QString ConfigFileOf(const QString& program_folder);

class VellumModule {
 public:
  explicit VellumModule(DeskUi& ui, std::function<QStringList()> mounted_volumes = MountedVolumes)
      : ui_(ui), mounted_volumes_(std::move(mounted_volumes)) {}

  // Reads ConfigFileOf(`program_folder`) into the settings; a failure shows "Can't read
  // 'Config.ini' file" and keeps the settings read before the failing line; every setting
  // still unset then gets its default, as when its key is missing.
  void ReadConfig(const QString& program_folder);

  void ShowInfo(const QString& text, QWidget* owner = nullptr);
  void ShowSuccess(const QString& text, QWidget* owner = nullptr);
  // The "Successful" box for `text`, to which a caller adds lines under it and a folder to open.
  static BoxContent SuccessBox(const QString& text);
  void Show(const BoxContent& box, QWidget* owner = nullptr);
  // A box with no icon and the application title: the input checks and numbered reports.
  void ShowPlain(const QString& text, QWidget* owner = nullptr);
  // The numbered report of a failed step of a frmVerify procedure.
  void ShowNumberedReport(const QString& description, const QString& procedure, int line,
                          QWidget* owner = nullptr);

  // Closes `window` when `key` is Escape; any other key does nothing. Returns whether it closed.
  static bool UnloadOnEscape(int key, QWidget& window);

  // Whether Config.ini gave a file path of its own (not the default).
  bool file_path_configured() const { return file_path_configured_; }

  DeskUi& ui() { return ui_; }
  const std::function<QStringList()>& mounted_volumes() const { return mounted_volumes_; }

  // The shared settings; they start empty, False and 0.
  QString sFilePath;
  QString sFormat;
  QString sClient;
  QString sPass;
  QString sDrive;
  QString sFolder;
  QString sFileFolder;
  std::int16_t iPickerCaller = 0;
  bool bFolderSelected = false;
  QString sSelectedFile;
  QString sSelectedFolder;
  // Config.ini `trust = require`: a signer that is not trusted fails the verification.
  bool bRequireTrust = false;

 private:
  void ReadConfigLines(const QString& path);

  DeskUi& ui_;
  std::function<QStringList()> mounted_volumes_;
  bool file_path_configured_ = false;
};

// The text of a numbered report: description, CR LF, where, "at line " and the step number.
QString NumberedReportText(const QString& description, const QString& procedure, int line);

}  // namespace vellum::desk
