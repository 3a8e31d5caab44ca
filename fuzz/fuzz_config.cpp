// Reading Config.ini with hostile content: any bytes (not UTF-8, binary junk, lines without
// "=", huge numbers) end in the settings or in the one "can't read" box, never in a crash.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "desk/desk_ui.h"
#include "desk/vellum_module.h"
#include "library/platform/files.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A plain write: the atomic writer's fsync would cost more than the run itself.
void PutInput(const std::string& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  Check(static_cast<bool>(out));
}

// Counts the boxes instead of showing them; the only one ReadConfig may show is its failure.
class CountingUi : public vellum::desk::DeskUi {
 public:
  void Show(QWidget*, const vellum::desk::BoxContent& box) override {
    Check(box.text == QStringLiteral("Can't read 'Config.ini' file"));
    ++boxes;
  }
  void RunModal(QDialog&) override { Check(false); }
  int boxes = 0;
};

struct ProgramFolder {
  std::string path;
  ProgramFolder() {
    path = vellum::platform::TempFolder() + "/vellum-fuzz-XXXXXX";
    Check(::mkdtemp(path.data()) != nullptr);
  }
  ~ProgramFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ProgramFolder folder;
  PutInput(folder.path + "/Config.ini",
           std::string_view(reinterpret_cast<const char*>(data), size));
  CountingUi ui;
  // A fixed volume list: the mount table is not what is being fuzzed.
  vellum::desk::VellumModule module(ui, [] { return QStringList{QStringLiteral("/")}; });
  module.ReadConfig(QString::fromStdString(folder.path));
  Check(ui.boxes <= 1);
  // Whether the read went through or stopped, every setting ends filled in.
  Check(!module.sFilePath.isEmpty() && !module.sClient.isEmpty() && !module.sPass.isEmpty());
  Check(!module.sFormat.isEmpty() && !module.sDrive.isEmpty());
  return 0;
}
