#pragma once

#include <QLabel>
#include <QMainWindow>
#include <filesystem>
#include <string>

#include "ui/qt/MapWidget.h"

namespace meridane {

// The map viewer's window: a map of one task, tile folder or archive, opened
// through File > Open, the command line or a drop; the status bar tells the
// place under the pointer, the task's missing, placeholder and damaged tiles,
// and that an archive is damaged once a tile of it cannot be read.
class TViewerWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit TViewerWindow(std::filesystem::path programFolder);

  // Opens the file or folder; a failure is shown in a message box and leaves
  // the map as it was. True when it opened.
  bool Open(const std::filesystem::path& path);
  // Opens the file a command line names after the program, if it names one.
  void OpenArguments(const QStringList& arguments);
  TMapWidget& Map() { return *MapWidget; }
  // "LAT, LON" of the last place the pointer was over, as Copy coordinates copies it.
  QString PointerText() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ShowCounts();

  std::filesystem::path ProgramFolder;
  TMapWidget* MapWidget;
  QLabel* Place;
  QLabel* Kinds;
  QLabel* Failure;
  std::string OpenedName;
  double PointerLon = 0, PointerLat = 0;
};

}  // namespace meridane
