// Config.ini with binary junk: the desk's reader either takes settings from it or shows its
// one failure box, never crashes, and never writes the file or anything beside it.
#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>
#include <random>

#include "desk/desk_ui.h"
#include "desk/vellum_module.h"
#include "tests/support/temp_folder.h"

namespace vellum::hostile {
namespace {

const QString kCantRead = QStringLiteral("Can't read 'Config.ini' file");

class RecordingUi : public desk::DeskUi {
 public:
  void Show(QWidget*, const desk::BoxContent& box) override { boxes.push_back(box.text); }
  void RunModal(QDialog&) override { ADD_FAILURE() << "reading Config.ini opens no window"; }
  QStringList boxes;
};

std::string Junk(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

std::string EveryByte() {
  std::string out;
  for (int i = 0; i < 256; ++i) out += static_cast<char>(i);
  return out;
}

TEST(ConfigBattery, BinaryJunkEndsInSettingsOrTheOneBox) {
  enum Outcome { kEither, kBox, kSettings };
  struct Case {
    const char* why;
    std::string content;
    Outcome outcome;
  } const cases[] = {
      // Random bytes: whatever they hold, one of the two endings.
      {"4 KiB of random bytes", Junk(4096, 1), kEither},
      {"random bytes without line breaks",
       [] {
         std::string s = Junk(4096, 2);
         for (char& c : s)
           if (c == '\r' || c == '\n') c = ' ';
         return s;
       }(),
       kSettings},
      {"every byte value once", EveryByte(), kEither},
      {"zero bytes only", std::string(64, '\0'), kSettings},
      {"zero bytes inside a value",
       std::string("client=1\0\0\x01"
                   "2\r\n",
                   13),
       kSettings},
      {"invalid UTF-8 around the =",
       "format\xff=\xfe\x80"
       "2\r\n",
       kSettings},
      {"a 1 MiB line", "filepath=/" + std::string(1 << 20, 'a') + "\r\n", kSettings},
      // Numbers the format line cannot hold are a failure of the reading, not a crash.
      {"a format of 400 digits", "format=" + std::string(400, '9') + "\r\n", kBox},
      {"a format past the largest double", "format=1e309\r\n", kBox},
      {"a format that is no number", "format=nan\r\n", kBox},
      {"a format of junk bytes", "format=\x01\x02\xff\r\n", kBox},
      {"a known key with no =", "pass\r\n", kBox},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::TempFolder folder;
    testing::WriteFile(folder.File("Config.ini"), c.content);
    RecordingUi ui;
    desk::VellumModule module(ui, [] { return QStringList{QStringLiteral("/")}; });
    module.ReadConfig(QString::fromStdString(folder.path()));

    ASSERT_LE(ui.boxes.size(), 1);
    if (c.outcome == kBox) {
      EXPECT_EQ(ui.boxes.size(), 1);
    } else if (c.outcome == kSettings) {
      EXPECT_TRUE(ui.boxes.isEmpty());
    }
    // Whether the read went through or stopped, every setting ends filled in.
    EXPECT_FALSE(module.sFilePath.isEmpty());
    EXPECT_FALSE(module.sClient.isEmpty());
    EXPECT_FALSE(module.sPass.isEmpty());
    EXPECT_FALSE(module.sFormat.isEmpty());
    EXPECT_FALSE(module.sDrive.isEmpty());
    if (!ui.boxes.isEmpty()) {
      EXPECT_EQ(ui.boxes[0], kCantRead);
    }
    EXPECT_EQ(testing::ReadFile(folder.File("Config.ini")), c.content) << "read, never written";
    EXPECT_EQ(folder.List(), std::vector<std::string>{"Config.ini"});
  }
}

}  // namespace
}  // namespace vellum::hostile
