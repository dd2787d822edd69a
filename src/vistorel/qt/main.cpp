#include <QApplication>
#include <clocale>
#include <iostream>

#include "config/Config.h"
#include "config/RecentTasks.h"
#include "config/StandardStreams.h"
#include "map/ViewerArguments.h"
#include "vistorel/qt/ViewerWindow.h"

namespace {

std::vector<std::string> Strings(const QStringList& list) {
  std::vector<std::string> strings;
  for (const QString& item : list) strings.push_back(item.toStdString());
  return strings;
}

}  // namespace

int main(int argc, char** argv) {
  meridane::OpenClosedStandardStreams();
  // Before the window: help in a terminal needs no display.
  if (meridane::ReadViewerArguments({argv, argv + argc}).Help) {
    std::cout << meridane::ViewerUsage();
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Map Viewer");
  std::setlocale(LC_ALL, "C");
  // Read once Qt has taken its own options (-platform, -style) out.
  const meridane::TViewerArguments arguments = meridane::ReadViewerArguments(Strings(QApplication::arguments()));
  if (!arguments.Error.empty()) {
    std::cerr << arguments.Error << "\n\n" << meridane::ViewerUsage();
    return 2;
  }
  meridane::TViewerWindow window(meridane::ProgramFolder(), meridane::RecentTasksFile());
  window.show();
  window.OpenArguments(arguments);
  return QApplication::exec();
}
