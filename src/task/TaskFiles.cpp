// The four files a task writes at Start: project file, image list, log header
// and failed-tile list.
#include <string>
#include <vector>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "geo/GeneralReal.h"
#include "task/DownloadTask.h"
#include "task/TextFile.h"

namespace meridane {

namespace {

const char* const ImageListHeader =
    "ImageFileName    Left_Edge_Longitude    Right_Edge_Longitude   Top_Edge_Latitude      Bottom_Edge_Latitude";

std::string Real(double value) { return FormatGeneralReal(value); }

void AppendFixed20(std::string& out, double value) {
  char buffer[420];
  out.append(buffer, FormatFixed20(value, buffer));
}

// The pieces of the image-list lines that depend on the row alone, formatted
// once per row instead of once per tile: "388_10.jpg" and the latitude edges.
class TRowPieces {
 public:
  void Add(const std::string& tail, double north, double south) {
    Text += tail;
    Split.push_back(static_cast<std::uint32_t>(Text.size()));
    Text += ' ';
    AppendFixed20(Text, north);
    Text += ' ';
    AppendFixed20(Text, south);
    Text += "\r\n";
    Split.push_back(static_cast<std::uint32_t>(Text.size()));
  }
  std::string_view Tail(std::size_t row) const { return Piece(2 * row); }
  std::string_view Edges(std::size_t row) const { return Piece(2 * row + 1); }

 private:
  std::string_view Piece(std::size_t i) const {
    const std::uint32_t begin = i == 0 ? 0 : Split[i - 1];
    return std::string_view(Text).substr(begin, Split[i] - begin);
  }
  std::string Text;
  std::vector<std::uint32_t> Split;
};

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace

void TDownloadTask::RemoveLeftovers() const {
  namespace fs = std::filesystem;
  const auto name = [](const std::string& path) { return fs::path(path).filename().string(); };
  RemoveLeftoverTemporaries(Params.Folder.empty() ? fs::path(".") : fs::path(Params.Folder),
                            {Params.TaskName, name(ListPath), name(LogPath), name(FailedPath)});
  EmptyTemporaryFolder(TemporaryFolder);
}

void TDownloadTask::WriteProjectFile() const {
  if (Params.Resume) return;
  WriteNewProject(ProjectPath(), Params, Grid.Range());
}

void TDownloadTask::WriteImageList(const std::function<void(long long)>& progress) const {
  if (Params.Resume && Exists(ListPath)) return;
  const int zoom = Params.Zoom;
  const int fromSouth = Grid.FromSouth();

  TRowPieces rows;
  if (TotalCount > 0) {
    for (int y = MinY; y <= MaxY; ++y) {
      const double edgeA = TileYToLat(y, zoom, fromSouth);
      const double edgeB = TileYToLat(static_cast<double>(y) + 1, zoom, fromSouth);
      // Rows from the south have their north edge at y + 1.
      rows.Add(Grid.FileNameTail(y), fromSouth == 1 ? edgeB : edgeA, fromSouth == 1 ? edgeA : edgeB);
    }
  }

  // Streamed in blocks: a list of millions of tiles never sits in memory whole.
  constexpr std::size_t BlockSize = 1 << 20;
  TAtomicFileWriter out(ListPath);
  std::string block;
  block.reserve(BlockSize + 512);
  (block += ImageListHeader) += "\r\n";
  if (TotalCount > 0) {
    std::string column;
    long long written = 0;
    for (int x = MinX; x <= MaxX; ++x, written += Grid.RowCount()) {
      const std::string head = Grid.FileNameHead(x);
      column = ": ";
      AppendFixed20(column, TileXToLon(x, zoom));
      column += ' ';
      AppendFixed20(column, TileXToLon(static_cast<double>(x) + 1, zoom));
      for (std::size_t row = 0; row < static_cast<std::size_t>(Grid.RowCount()); ++row) {
        ((block += head) += rows.Tail(row)) += column;
        block += rows.Edges(row);
        if (block.size() >= BlockSize) {
          out.Write(block);
          block.clear();
          if (progress) progress(written + static_cast<long long>(row) + 1);
        }
      }
    }
  }
  out.Write(block);
  out.Commit();
}

void TDownloadTask::WriteLogHeader() const {
  const TTaskParams& p = Params;
  if (p.Resume) {
    // Two lines on a log of any length: appended, never read or rewritten.
    const std::vector<std::string> lines = {std::string(44, '-'), "Now time is:" + Now()};
    if (Exists(LogPath))
      AppendLines(LogPath, JoinLines(lines));
    else
      WriteLines(LogPath, lines);
    return;
  }
  std::vector<std::string> lines = {
      "Project: " + p.Folder + p.TaskName,
      "Now time is:" + Now(),
      "",
      "[MapsType]",
      "MapsType=" + std::to_string(p.MapsType),
      "",
  };
  if (p.UseProxy) {
    // The password stays out of the log: logs get shared when asking for help.
    lines.insert(lines.end(), {"Using Proxy:", "Proxy Server:" + p.ProxyServer, "Proxy Port:" + p.ProxyPort,
                               "ProxyUsername:" + p.ProxyUsername, "ProxyPassword:********", ""});
  }
  lines.insert(lines.end(), {
                                "Left Longitude  input= " + Real(p.LeftLongitude),
                                "Right Longitude input= " + Real(p.RightLongitude),
                                "Top Latitude    input= " + Real(p.TopLatitude),
                                "Bottom Latitude input= " + Real(p.BottomLatitude),
                                "",
                                "MinX = " + std::to_string(MinX),
                                "MinY = " + std::to_string(MinY),
                                "MaxX = " + std::to_string(MaxX),
                                "MaxY = " + std::to_string(MaxY),
                                "",
                                "Left Longitude  download=" + Real(LeftEdge),
                                "Right Longitude download=" + Real(RightEdge),
                                "Top Latitude    download=" + Real(TopEdge),
                                "Bottom Latitude download=" + Real(BottomEdge),
                                "",
                                "All images' scope information are saved to " + ListPath,
                                "",
                                "Total count of images would be downloaded: " + std::to_string(TotalCount),
                                "",
                                "Download threads count: " + std::to_string(p.ThreadCount),
                                "",
                                "Zoom level: " + std::to_string(p.Zoom),
                                "",
                                "path: " + p.Folder,
                                "",
                                "Start downloading...",
                                std::string(34, '~'),
                            });
  WriteLines(LogPath, lines);
}

void TDownloadTask::CreateFailedList() const {
  if (Params.Resume && Exists(FailedPath)) return;
  WriteFileAtomic(FailedPath, "");
}

}  // namespace meridane
