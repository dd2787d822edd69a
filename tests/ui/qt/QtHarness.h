#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "support/ProcessState.h"
#include "support/TempDir.h"
#include "task/TextFile.h"
#include "ui/qt/Application.h"

namespace meridane::test {

// Runs the event loop until done() holds, however long that takes: ctest's
// timeout bounds the test, so a slow or busy machine is never taken for a
// fault. True once it holds, so a call reads as the check it is.
inline bool WaitUntil(const std::function<bool()>& done) {
  while (!done()) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    QTest::qWait(1);
  }
  return true;
}

// Acts on the next modal window (a message box, a modal dialog) as a person
// would, once it is open: act gets the window. Call before what opens it.
inline void WhenModal(std::function<void(QWidget*)> act) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, act = std::move(act)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(modal);
  });
  poll->start();
}

// Presses OK on the next message box and hands back its text.
inline void AnswerMessage(std::shared_ptr<std::optional<std::string>> text = nullptr) {
  WhenModal([text](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr) << modal->objectName().toStdString();
    if (text) *text = box->text().toStdString();
    box->button(QMessageBox::Ok)->click();
  });
}

// A child of a window, by name and kind; fails the test when it is missing.
template <class T>
T* Find(QWidget* window, const char* name) {
  T* child = window->findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name;
  return child;
}

// What a control shows, found by name: an edit's or a label's text, a
// button's caption, a group's title, a memo's lines.
inline std::string Text(QWidget* window, const char* name) {
  if (auto* edit = window->findChild<QLineEdit*>(name)) return edit->text().toStdString();
  // A label's mnemonic marker is not part of what it shows.
  if (auto* label = window->findChild<QLabel*>(name)) return label->text().remove(QRegularExpression("&(?!&)")).toStdString();
  if (auto* button = window->findChild<QAbstractButton*>(name)) return button->text().toStdString();
  if (auto* group = window->findChild<QGroupBox*>(name)) return group->title().toStdString();
  if (auto* memo = window->findChild<QPlainTextEdit*>(name)) return memo->toPlainText().toStdString();
  ADD_FAILURE() << "no control " << name;
  return {};
}

// The whole desktop program over a program folder of its own, HOME in the
// temporary folder; the main window shown.
class TDesktopRun {
 public:
  explicit TDesktopRun(const std::string& config = "[Download]\r\nTilePause=0\r\n",
                       std::function<std::unique_ptr<IHttpClient>()> makeClient = MakeCurlHttpClient,
                       std::unique_ptr<TTempDir> dir = std::make_unique<TTempDir>())
      : Own(std::move(dir)) {
    Home.Set(Dir.Path().string());
    std::filesystem::create_directories(Program / "ini");
    std::filesystem::create_directories(Program / "blankimg");
    WriteAll(Program / "ini" / "config.ini", config);
    App = std::make_unique<TApplication>(
        TMainFormEnvironment{.ProgramFolder = Program, .ConfigPath = {}, .Sleeper = nullptr, .MakeClient = makeClient});
    App->MainWindow.show();
    QApplication::processEvents();
  }
  ~TDesktopRun() {
    // A task still running is completed before the windows go.
    App->MainWindow.close();
    App.reset();
  }

  QWidget* Main() { return &App->MainWindow; }

  TEnvironmentGuard Home{"HOME"};
  std::unique_ptr<TTempDir> Own;
  TTempDir& Dir = *Own;
  std::filesystem::path Program = Dir / "program";
  std::string Tasks = Dir.Folder() + "tasks/";
  std::unique_ptr<TApplication> App;
};

}  // namespace meridane::test
