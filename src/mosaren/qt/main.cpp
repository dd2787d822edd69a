#include <QApplication>
#include <clocale>
#include <iostream>

#include "config/RecentTasks.h"
#include "config/StandardStreams.h"
#include "mosaren/qt/CombineWindow.h"
#include "mosaren/Console.h"
#include "ui/StopSignals.h"

int main(int argc, char** argv) {
  meridane::OpenClosedStandardStreams();
  std::setlocale(LC_ALL, "C");
  if (argc > 1) {
    meridane::InstallStopSignals();
    return meridane::RunCombineConsole(
        argc, argv, std::cout, std::cerr,
        {.ProgramFolder = {}, .StopSignal = meridane::FirstStopSignal, .MakeSink = meridane::MakeSink});
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Map Combiner");
  std::setlocale(LC_ALL, "C");
  meridane::TQtToolkit toolkit;
  meridane::TCombineEnvironment environment;
  environment.RecentTasks = meridane::RecentTasksFile();
  meridane::TCombineForm form(toolkit, environment);
  meridane::TCombineWindow window(toolkit, form);
  window.show();
  return QApplication::exec();
}
