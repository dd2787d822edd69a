#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <exception>

#include "config/RecentTasks.h"
#include "config/StandardStreams.h"
#include "download/HttpClient.h"
#include "ui/qt/Application.h"
#include "ui/qt/CloseSignals.h"

int main(int argc, char** argv) {
  meridane::OpenClosedStandardStreams();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Meridane");
  // Dates in the user's format; numbers never depend on the locale (Qt sets
  // the whole locale from the environment).
  std::setlocale(LC_ALL, "C");
  std::setlocale(LC_TIME, "");
  meridane::InitHttp();
  meridane::TMainFormEnvironment environment;
  environment.RecentTasks = meridane::RecentTasksFile();
  meridane::TApplication program(environment);
  program.MainWindow.show();
  const meridane::TCloseOnSignals closer(program.MainWindow);
  for (;;) {
    try {
      const int status = QApplication::exec();
      // As the shell reports a program that a signal ended, though the task was saved.
      return closer.Signal() != 0 ? 128 + closer.Signal() : status;
    } catch (const std::exception& e) {
      // An error that escapes the loop is shown, and the loop goes on.
      QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromStdString(e.what()));
    }
  }
}
