#pragma once

#include <QLabel>
#include <QMenu>
#include <QMainWindow>
#include <filesystem>
#include <string>

#include "ui/qt/MapWidget.h"

namespace meridane {

// The map viewer's window: a map of one task, tile folder or archive, opened
// through File > Open, Open Recent, the command line or a drop; the status bar
// tells the place under the pointer, the task's missing, placeholder and
// damaged tiles, and that an archive is damaged once a tile of it cannot be
// read. recentTasks is the main window's list of tasks (empty: none).
class TViewerWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit TViewerWindow(std::filesystem::path programFolder, std::filesystem::path recentTasks = {});

  // Opens the file or folder; a failure is shown in a message box and leaves
  // the map as it was. True when it opened.
  bool Open(const std::filesystem::path& path);
  // Reads the open file or folder again where the map is (after a re-download).
  void Reload();
  // Opens the file a command line names after the program; without one, the
  // newest recent task, if it opens.
  void OpenArguments(const QStringList& arguments);
  // Where the file dialogs start: the open file's folder, the newest recent
  // task's, or the download folder.
  std::filesystem::path DialogFolder() const;
  TMapWidget& Map() { return *MapWidget; }
  // "LAT, LON" of the last place the pointer was over, as Copy coordinates copies it.
  QString PointerText() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ShowCounts();
  void FillRecent();
  void NextHole();
  // quiet: a failure leaves the map as it was and says nothing.
  bool Open(const std::filesystem::path& path, bool keepView, bool quiet);

  std::filesystem::path ProgramFolder;
  std::filesystem::path RecentTasks;
  std::filesystem::path OpenedPath;
  QMenu* Recent;
  TMapWidget* MapWidget;
  QLabel* Place;
  QLabel* Kinds;
  QLabel* Failure;
  std::string OpenedName;
  double PointerLon = 0, PointerLat = 0;
};

}  // namespace meridane
