#include <QApplication>
#include <clocale>

#include "config/Config.h"
#include "vistorel/ViewerWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Map Viewer");
  std::setlocale(LC_ALL, "C");
  meridane::TViewerWindow window(meridane::ProgramFolder());
  window.show();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) window.Open(arguments.at(1).toStdString());
  return QApplication::exec();
}
