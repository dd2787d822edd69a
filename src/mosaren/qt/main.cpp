#include <QApplication>
#include <atomic>
#include <clocale>
#include <csignal>
#include <iostream>

#include "mosaren/qt/CombineWindow.h"
#include "mosaren/Console.h"

namespace {

// The first stop signal; a second one ends the program at once (the partial
// files stay, under their partial names only).
std::atomic<int> StopSignal{0};

void OnStopSignal(int signal) {
  int none = 0;
  if (!StopSignal.compare_exchange_strong(none, signal)) std::_Exit(128 + signal);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C");
  if (argc > 1) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, OnStopSignal);
    return meridane::RunCombineConsole(argc, argv, std::cout, std::cerr,
                                       {.ProgramFolder = {},
                                        .StopSignal = [] { return StopSignal.load(); },
                                        .MakeSink = meridane::MakeSink});
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Map Combiner");
  std::setlocale(LC_ALL, "C");
  meridane::TQtToolkit toolkit;
  meridane::TCombineForm form(toolkit, {});
  meridane::TCombineWindow window(toolkit, form);
  window.show();
  return QApplication::exec();
}
