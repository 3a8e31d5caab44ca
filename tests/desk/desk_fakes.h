// Test doubles for the desk: a box service that records instead of showing, and a scripted
// DigitalSign that records every call and answers from the test's script.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cctype>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "desk/desk_ui.h"
#include "desk/digital_sign.h"
#include "desk/frm_verify.h"
#include "desk/vellum_module.h"
#include "library/platform/error.h"

namespace vellum::desk::testing {

// A parameterised case's name for the test list: its description in letters and digits.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  bool upper = true;
  for (const char* c = info.param.name; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
      upper = false;
    } else {
      upper = true;
    }
  }
  return name;
}

struct Box {
  DeskUi::Icon icon;
  QString caption;
  QString text;
  QStringList notes = {};
  QString folder = {};
  friend bool operator==(const Box&, const Box&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const Box& box) {
  const char* icons[] = {"none", "information", "exclamation"};
  out << "{" << icons[static_cast<int>(box.icon)] << ", \"" << box.caption.toStdString() << "\", \""
      << box.text.toStdString() << "\"";
  for (const QString& note : box.notes) out << ", note \"" << note.toStdString() << "\"";
  if (!box.folder.isEmpty()) out << ", folder \"" << box.folder.toStdString() << "\"";
  return out << "}";
}

// The three kinds of box the desk shows.
inline Box Info(const QString& text) {
  return {DeskUi::Icon::kExclamation, QStringLiteral("Info Message."), text};
}
inline Box Success(const QString& text) {
  return {DeskUi::Icon::kInformation, QStringLiteral("Successful"), text};
}
inline Box Plain(const QString& text) {
  return {DeskUi::Icon::kNone, QStringLiteral("Moravel Verify"), text};
}

class FakeUi : public DeskUi {
 public:
  void Show(QWidget*, const BoxContent& box) override {
    boxes.push_back({box.icon, box.caption, box.text, box.notes, box.folder});
  }
  // The test acts on the open window (clicks, keys) and closes it; a window the script leaves
  // open is closed here, as the operator would have to.
  void RunModal(QDialog& dialog) override {
    ++modal_runs;
    dialog.show();
    if (on_modal) on_modal(dialog);
    if (dialog.isVisible()) dialog.close();
  }

  void Busy(bool busy) override { events.push_back(busy ? "busy" : "idle"); }
  void Progress(const QString& operation, quint64 done, quint64 total) override {
    events.push_back(operation.toStdString() + " " + std::to_string(done) + "/" +
                     std::to_string(total));
  }

  std::vector<Box> boxes;
  std::function<void(QDialog&)> on_modal;
  int modal_runs = 0;
  // "busy", "idle" and progress reports ("Reading 0/1234"), in order.
  std::vector<std::string> events;
};

struct LibraryCall {
  QString method;  // VerifyFile, VerifyZipFile or StartDoc
  VerifyArguments in;
  VerifyResults seen;  // what the call found in the shared results
};

// One script serves every DigitalSign object the factory makes, so a test sees all runs.
class LibraryScript {
 public:
  using Answer = std::function<bool(const LibraryCall&, VerifyResults&)>;

  // Default: every verification fails with a fixed reason.
  Answer verify = [](const LibraryCall&, VerifyResults& out) {
    out.VerifyErr = QStringLiteral("Signature or Certificate is not valid. ");
    return false;
  };
  std::function<bool(const QString&, QString&)> start_doc = [](const QString& doc, QString& e) {
    e = QStringLiteral(" Opened file: ") + doc;
    return true;
  };
  // When set, creating DigitalSign fails with this HRESULT.
  std::int32_t creation_failure = 0;

  std::vector<LibraryCall> calls;
  int objects_created = 0;

  DigitalSignFactory Factory();
  // "VerifyFile", "VerifyZipFile(binary)" ... in call order, for sequence checks.
  std::vector<std::string> Sequence() const {
    std::vector<std::string> out;
    for (const LibraryCall& call : calls) {
      std::string name = call.method.toStdString();
      if (call.method == u"VerifyZipFile") name += call.in.bBinaryEncoding ? "(binary)" : "(text)";
      out.push_back(name);
    }
    return out;
  }
};

class ScriptedDigitalSign : public DigitalSignApi {
 public:
  explicit ScriptedDigitalSign(LibraryScript& script) : script_(script) {}
  bool VerifyFile(const VerifyArguments& in, VerifyResults& out) override {
    return Record(QStringLiteral("VerifyFile"), in, out);
  }
  bool VerifyZipFile(const VerifyArguments& in, VerifyResults& out) override {
    return Record(QStringLiteral("VerifyZipFile"), in, out);
  }
  bool StartDoc(const QString& doc, QString& error) override {
    VerifyArguments in;
    in.sFingerprintFName = doc;
    script_.calls.push_back({QStringLiteral("StartDoc"), in, {}});
    return script_.start_doc(doc, error);
  }

 private:
  bool Record(const QString& method, const VerifyArguments& in, VerifyResults& out) {
    script_.calls.push_back({method, in, out});
    return script_.verify(script_.calls.back(), out);
  }
  LibraryScript& script_;
};

inline DigitalSignFactory LibraryScript::Factory() {
  return [this]() -> std::unique_ptr<DigitalSignApi> {
    if (creation_failure != 0)
      throw Error::Component(creation_failure, CreationFailureText(creation_failure).toStdString());
    ++objects_created;
    return std::make_unique<ScriptedDigitalSign>(*this);
  };
}

// A main window on the recording box service and the scripted library, loaded from a
// Config.ini written into `program_folder` (none when `config` is null).
class DeskFixture {
 public:
  explicit DeskFixture(QStringList mounts = {QStringLiteral("/")})
      : module(ui, [mounts] { return mounts; }), window(module, script.Factory()) {}

  void Load(const QString& program_folder) { window.Form_Load(program_folder); }

  template <class T>
  T* Control(const char* name) {
    T* control = window.findChild<T*>(QLatin1String(name));
    EXPECT_NE(control, nullptr) << "no control named " << name;
    return control;
  }
  QLineEdit* FileBox() { return Control<QLineEdit>("lblOriginalFName"); }
  QLineEdit* UserId() { return Control<QLineEdit>("txtUserId"); }
  QLineEdit* Password() { return Control<QLineEdit>("txtPassword"); }
  QComboBox* Format() { return Control<QComboBox>("cboFormat"); }
  QCheckBox* Check(const char* name) { return Control<QCheckBox>(name); }
  QPushButton* Button(const char* name) { return Control<QPushButton>(name); }

  // Shows the window and makes it active, so focus can be checked.
  void ShowActive() {
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  }

  bool ButtonsEnabled() {
    return Button("cmdExit")->isEnabled() && Button("cmdVerify")->isEnabled() &&
           Button("cmdSelectOriginalFile")->isEnabled();
  }

  FakeUi ui;
  LibraryScript script;
  VellumModule module;
  frmVerify window;
};

}  // namespace vellum::desk::testing
