#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "task/TaskParams.h"

namespace meridane {

// The task could not be built. What() is the message to show first, or empty
// when there is none; the caller then reports CreateTaskFailureMessage.
class ETaskBuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* CreateTaskFailureMessage = "Error: Create task failure.";

// The tile range of a request, its edges and its count.
struct TTileRange {
  int MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
  double LeftEdge = 0, RightEdge = 0, TopEdge = 0, BottomEdge = 0;
  int TotalCount = 0;
};
// Throws ETaskBuildError for a zoom outside 0..30 or more than 2^31 - 1 tiles.
TTileRange ComputeTileRange(const TTaskParams& params);

// A tile file's name taken apart: "gs_843_388_10.jpg" is gs, 843, 388, 10, jpg.
struct TTileName {
  std::string Prefix;
  int X = 0, Y = 0, Zoom = 0;
  std::string Extension;
  bool operator==(const TTileName&) const = default;
};
// A name exactly as a task writes it: the prefix and extension of one map type,
// the numbers in plain decimal (no "+", no leading zero, no "-0"). Anything else
// is nothing.
std::optional<TTileName> ParseTileFileName(std::string_view name);

// Where the tiles of a request are and what they are called: its range, the
// order a task walks it in, each tile's file and URL. A value that touches no
// file, so any program may build one from a request to read a task.
class TTileGrid {
 public:
  // The tile folder is params.Folder and the task's name without its extension.
  // Throws ETaskBuildError as ComputeTileRange does.
  explicit TTileGrid(const TTaskParams& params);

  const TTileRange& Range() const { return TileRange; }
  int Zoom() const { return ZoomLevel; }
  int MapsType() const { return MapType; }
  // 1 when rows count from the south.
  int FromSouth() const;
  long long Count() const { return TileRange.TotalCount; }
  int RowCount() const { return TileRange.MaxY - TileRange.MinY + 1; }

  // 1-based position of a tile in the walk (64-bit: a stale resume position may
  // lie far outside the range).
  long long SequenceOf(int x, int y) const;
  // visit(x, y) for every tile, column by column: x outer, y inner.
  template <class F>
  void ForEach(F&& visit) const {
    for (long long x = TileRange.MinX; x <= TileRange.MaxX; ++x)
      for (long long y = TileRange.MinY; y <= TileRange.MaxY; ++y) visit(static_cast<int>(x), static_cast<int>(y));
  }

  // "gs_843_388_10.jpg"
  std::string TileFileName(int x, int y) const { return FileNameHead(x) + FileNameTail(y); }
  std::string TilePath(int x, int y) const { return Folder + TileFileName(x, y); }
  // Empty for every map type but the satellite maps.
  std::string TileUrl(int x, int y) const;
  // "jpg"; empty for an unknown map type.
  std::string Extension() const;
  // Ends with the folder separator.
  const std::string& TileFolder() const { return Folder; }

  // The file name cut at the row, for writers of long lists: "gs_843_" and "388_10.jpg".
  std::string FileNameHead(int x) const;
  std::string FileNameTail(int y) const;

 private:
  TTileRange TileRange;
  int ZoomLevel;
  int MapType;
  std::string Folder;
  std::array<std::string, 4> Hosts;
  // The URL pattern cut at its placeholders once, not for every tile.
  enum class TPiece { Text, Host, Galileo, X, Y, Zoom };
  std::vector<std::pair<TPiece, std::string>> UrlPieces;
};

// The extension of a file name, from its last "." on; empty when it has none.
std::string FileExtension(std::string_view name);

// "Galileo" cut to the length the server expects for a tile.
std::string GalileoPrefix(int x, int y);

}  // namespace meridane
