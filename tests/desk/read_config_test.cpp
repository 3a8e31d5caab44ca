// Config.ini: keys, defaults, derived drive and folder, and the reading failures that keep
// what was read before them and default the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "desk/vellum_module.h"
#include "tests/desk/desk_fakes.h"
#include "tests/support/temp_folder.h"

namespace vellum::desk {
namespace {

using testing::Box;
using testing::FakeUi;
using testing::Info;

struct Settings {
  QString sFilePath, sFormat, sClient, sPass, sDrive, sFolder;
  friend bool operator==(const Settings&, const Settings&) = default;
};

std::ostream& operator<<(std::ostream& out, const Settings& s) {
  return out << "{filepath \"" << s.sFilePath.toStdString() << "\", format \""
             << s.sFormat.toStdString() << "\", client \"" << s.sClient.toStdString()
             << "\", pass \"" << s.sPass.toStdString() << "\", drive \"" << s.sDrive.toStdString()
             << "\", folder \"" << s.sFolder.toStdString() << "\"}";
}

struct ConfigCase {
  const char* name;
  std::optional<std::string> file;  // Config.ini's bytes; none: no file
  Settings expected;
  bool failure_box;
};
void PrintTo(const ConfigCase& c, std::ostream* out) {
  *out << c.name;
}

const QString kFailure = QStringLiteral("Can't read 'Config.ini' file");

class ReadConfigTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ReadConfigTest, Settings) {
  const ConfigCase& c = GetParam();
  vellum::testing::TempFolder folder;
  if (c.file) vellum::testing::WriteFile(folder.File("Config.ini"), *c.file);
  FakeUi ui;
  VellumModule module(ui, [] { return QStringList{"/", "/data"}; });

  module.ReadConfig(QString::fromStdString(folder.path()));

  const Settings got{module.sFilePath, module.sFormat, module.sClient,
                     module.sPass,     module.sDrive,  module.sFolder};
  EXPECT_EQ(got, c.expected) << c.name;
  std::vector<Box> expected_boxes;
  if (c.failure_box) expected_boxes.push_back(Info(kFailure));
  EXPECT_EQ(ui.boxes, expected_boxes) << c.name;
  // Reading never writes the file.
  if (c.file) {
    EXPECT_EQ(vellum::testing::ReadFile(folder.File("Config.ini")), *c.file);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadConfigTest,
    ::testing::Values(
        // Defaults: no file, or a file without the keys.
        ConfigCase{"missing file", std::nullopt, {"/", "0", "10", "10", "/", "/"}, false},
        ConfigCase{"empty file", "", {"/", "0", "10", "10", "/", "/"}, false},
        ConfigCase{"empty values default",
                   "filepath=\nclient= \npass=\n",
                   {"/", "0", "10", "10", "/", "/"},
                   false},
        // Keys are trimmed and case-blind; values are trimmed and keep their case.
        ConfigCase{"mixed-case key with blanks",
                   "FilePath = /data/In/\n",
                   {"/data/In/", "0", "10", "10", "/data", "/data/In"},
                   false},
        ConfigCase{"value without a final separator loses its last component",
                   "filepath=/data/In\n",
                   {"/data/In", "0", "10", "10", "/data", "/data"},
                   false},
        ConfigCase{"path outside every other volume",
                   "filepath=/srv/Data/Mixed Case/\nCLIENT=20\nPass=20\n",
                   {"/srv/Data/Mixed Case/", "0", "20", "20", "/", "/srv/Data/Mixed Case"},
                   false},
        ConfigCase{"relative path is kept whole",
                   "filepath=inbox\n",
                   {"inbox", "0", "10", "10", "/", "inbox"},
                   false},
        // "format" is stored one lower; 0 gives -1 (no selection).
        ConfigCase{"format 0", "format=0\n", {"/", "-1", "10", "10", "/", "/"}, false},
        ConfigCase{"format 1", "format=1\n", {"/", "0", "10", "10", "/", "/"}, false},
        ConfigCase{"format 2", "format = 2\n", {"/", "1", "10", "10", "/", "/"}, false},
        ConfigCase{"format 3", "format=3\n", {"/", "2", "10", "10", "/", "/"}, false},
        // Line handling: unknown keys ignored, later lines win, text after a second "=" dropped,
        // every line ending accepted.
        ConfigCase{"unknown lines, with and without =",
                   "[desk]\nremark=hello\nclient=20\n",
                   {"/", "0", "20", "10", "/", "/"},
                   false},
        ConfigCase{"later line overrides",
                   "client=20\nclient=10\n",
                   {"/", "0", "10", "10", "/", "/"},
                   false},
        ConfigCase{"second = cuts the value",
                   "filepath=/data/a=b\n",
                   {"/data/a", "0", "10", "10", "/data", "/data"},
                   false},
        ConfigCase{"CR LF line ends",
                   "client=20\r\npass=20\r\nformat=2\r\n",
                   {"/", "1", "20", "20", "/", "/"},
                   false},
        ConfigCase{"lone CR line ends and no final break",
                   "client=20\rpass=20",
                   {"/", "0", "20", "20", "/", "/"},
                   false},
        ConfigCase{"blanks-only line is no key",
                   "client=20\n   \npass=20\n",
                   {"/", "0", "20", "20", "/", "/"},
                   false},
        ConfigCase{"ANSI file",
                   "filepath=/data/caf\xe9/\n",
                   {"/data/caf\u00e9/", "0", "10", "10", "/data", "/data/caf\u00e9"},
                   false},
        ConfigCase{"format 4 (Auto)", "format=4\n", {"/", "3", "10", "10", "/", "/"}, false},
        // Blank lines at the end are no lines, however many and however they end.
        ConfigCase{"one blank last line",
                   "client=20\npass=20\n\n",
                   {"/", "0", "20", "20", "/", "/"},
                   false},
        ConfigCase{"several blank last lines, CR LF and blanks",
                   "format=2\r\n\r\n  \r\n\t\r\n",
                   {"/", "1", "10", "10", "/", "/"},
                   false},
        // Failures: the values read before the failing line stay; every key not read gets its
        // default, and the drive and folder are derived, so the desk stays usable.
        ConfigCase{"empty line between valid lines",
                   "client=20\n\npass=20\nfilepath=/data/\n",
                   {"/", "0", "20", "10", "/", "/"},
                   true},
        ConfigCase{"format not a number",
                   "filepath=/data/\nformat=two\nclient=20\n",
                   {"/data/", "0", "10", "10", "/data", "/data"},
                   true},
        ConfigCase{
            "format empty is no number", "format=\n", {"/", "0", "10", "10", "/", "/"}, true},
        ConfigCase{
            "known key without =", "client=20\npass\n", {"/", "0", "20", "10", "/", "/"}, true}),
    testing::CaseName<ConfigCase>);

TEST(ConfigFolderTest, AFolderNamedConfigIniCountsAsMissing) {
  vellum::testing::TempFolder folder;
  ASSERT_TRUE(std::filesystem::create_directory(folder.File("Config.ini")));
  FakeUi ui;
  VellumModule module(ui, [] { return QStringList{"/"}; });
  module.ReadConfig(QString::fromStdString(folder.path()));
  EXPECT_EQ(module.sFilePath, "/");
  EXPECT_TRUE(ui.boxes.empty());
}

// An installed desk lives in /usr/bin: Config.ini then comes from the user's configuration
// folder, else the system's (XDG order); one in the program folder still comes first.
TEST(ConfigLookupTest, ProgramFolderThenUserThenSystemFolders) {
  vellum::testing::TempFolder tmp;
  const std::string program = tmp.File("bin"), home = tmp.File("home"), etc1 = tmp.File("etc1"),
                    etc2 = tmp.File("etc2");
  vellum::testing::ScopedEnv config_home("XDG_CONFIG_HOME", home);
  vellum::testing::ScopedEnv config_dirs("XDG_CONFIG_DIRS", etc1 + ":" + etc2);
  auto in = [](const std::string& folder) {
    return folder + (folder.ends_with("bin") ? "" : "/moravel-verify") + "/Config.ini";
  };
  struct Case {
    std::vector<std::string> present;  // folders holding a Config.ini
    std::string read;
    int client;  // what the file read sets (each file names its folder's index)
    const char* why;
  } const cases[] = {
      {{}, in(program), 10, "none: the program folder's, which reads as absent"},
      {{etc2}, in(etc2), 14, "only the last system folder"},
      {{etc1, etc2}, in(etc1), 13, "the first system folder first"},
      {{home, etc1}, in(home), 12, "the user's before the system's"},
      {{program, home}, in(program), 11, "the program folder before all"},
  };
  const std::vector<std::string> all = {program, home, etc1, etc2};
  for (const auto& c : cases) {
    for (const auto& f : all) std::filesystem::remove_all(f);
    for (const auto& f : c.present) {
      std::filesystem::create_directories(std::filesystem::path(in(f)).parent_path());
      const auto index = std::find(all.begin(), all.end(), f) - all.begin();
      vellum::testing::WriteFile(in(f), "client=" + std::to_string(11 + index) + "\r\n");
    }
    EXPECT_EQ(ConfigFileOf(QString::fromStdString(program)).toStdString(), c.read) << c.why;
    FakeUi ui;
    VellumModule module(ui, [] { return QStringList{"/"}; });
    module.ReadConfig(QString::fromStdString(program));
    EXPECT_EQ(module.sClient.toInt(), c.client) << c.why;
  }
}

// `trust = require` (any letter case) asks for trusted signers; anything else, or no key, not.
TEST(ConfigTrustTest, RequireTurnsTrustOn) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"format = 2\r\ntrust = require\r\n", true},
      {"TRUST=Require\r\n", true},
      {"trust = no\r\n", false},
      {"trust = required\r\n", false},
      {"format = 2\r\n", false},
  };
  for (const auto& [text, required] : cases) {
    vellum::testing::TempFolder folder;
    vellum::testing::WriteFile(folder.File("Config.ini"), text);
    FakeUi ui;
    VellumModule module(ui, [] { return QStringList{"/"}; });
    module.ReadConfig(QString::fromStdString(folder.path()));
    EXPECT_EQ(module.bRequireTrust, required) << text;
    EXPECT_TRUE(ui.boxes.empty()) << text;
  }
}

// The "drive" of a path is the mounted volume it lies on.
TEST(DriveOfTest, LongestMountThatHoldsThePath) {
  const QStringList mounts{"/", "/media/usb", "/media/usb2", "/home"};
  struct {
    const char* path;
    const char* drive;
  } cases[] = {
      {"/media/usb/in/", "/media/usb"},
      {"/media/usb2", "/media/usb2"},
      {"/media/usb20/x", "/"},
      {"/home/ann/pay.txt", "/home"},
      {"relative/x", "/"},
      {"", "/"},
  };
  for (const auto& c : cases) EXPECT_EQ(DriveOf(c.path, mounts), c.drive) << c.path;
}

}  // namespace
}  // namespace vellum::desk
