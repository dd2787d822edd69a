#pragma once

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMainWindow>
#include <filesystem>
#include <string>

#include "map/ViewerArguments.h"
#include "ui/qt/MapWidget.h"

namespace meridane {

// The map viewer's window: a map of one task, tile folder or archive, opened
// through File > Open, Open Recent, the command line or a drop; the status bar
// tells the place under the pointer, the task's missing, placeholder and
// damaged tiles, and that an archive is damaged once a tile of it cannot be
// read. View > "Rows counted from the south" reads Z/X/Y trees the TMS way:
// the open one again, and those opened after it. recentTasks is the main
// window's list of tasks (empty: none).
class TViewerWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit TViewerWindow(std::filesystem::path programFolder, std::filesystem::path recentTasks = {});

  // Opens the file or folder; a failure is shown in a message box and leaves
  // the map as it was. True when it opened.
  bool Open(const std::filesystem::path& path);
  // Reads the open file or folder again where the map is (after a re-download).
  void Reload();
  // Opens the file the command line names, read as its options say; without
  // one, the newest recent task, if it opens.
  void OpenArguments(const TViewerArguments& arguments);
  // Reads the open Z/X/Y tree again with its rows from the south or the north,
  // the same tiles kept in the middle of the map; Z/X/Y trees opened later are
  // read so too. The map stays as it was when the tree cannot be read.
  void SetRowsFromSouth(bool fromSouth);
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
  enum class TKeep { Fit, View, FlippedView };
  // quiet: a failure leaves the map as it was and says nothing.
  bool Open(const std::filesystem::path& path, TKeep keep, bool quiet);

  std::filesystem::path ProgramFolder;
  std::filesystem::path RecentTasks;
  std::filesystem::path OpenedPath;
  TMapSourceOptions Options;
  QMenu* Recent;
  QAction* RowsFromSouth;
  TMapWidget* MapWidget;
  QLabel* Place;
  QLabel* Kinds;
  QLabel* Failure;
  std::string OpenedName;
  double PointerLon = 0, PointerLat = 0;
};

}  // namespace meridane
