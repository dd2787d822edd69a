#include <QApplication>
#include <clocale>

#include "config/Config.h"
#include "vistorel/qt/ViewerWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Map Viewer");
  std::setlocale(LC_ALL, "C");
  meridane::TViewerWindow window(meridane::ProgramFolder());
  window.show();
  window.OpenArguments(QApplication::arguments());
  return QApplication::exec();
}
