#include <QApplication>
#include <clocale>

#include "config/Config.h"
#include "config/RecentTasks.h"
#include "config/StandardStreams.h"
#include "vistorel/qt/ViewerWindow.h"

int main(int argc, char** argv) {
  meridane::OpenClosedStandardStreams();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Map Viewer");
  std::setlocale(LC_ALL, "C");
  meridane::TViewerWindow window(meridane::ProgramFolder(), meridane::RecentTasksFile());
  window.show();
  window.OpenArguments(QApplication::arguments());
  return QApplication::exec();
}
