#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "combine/TileSink.h"

namespace meridane {

// Writes a folder of tiles as web maps ask for them: Z/X/Y.EXT, rows from the
// north, the extension from each tile's bytes (jpg, png, webp, gif), and
// metadata.json with the fields MBTiles metadata has (name, description,
// format, bounds, center, minzoom, maxzoom, all as text). Any static web
// server serves it. The files are on the disk once Finish returns.
class TFolderWriter : public ITileSink {
 public:
  // Creates the folder at path, which must not exist.
  TFolderWriter(std::filesystem::path path, const TTileSet& set);
  ~TFolderWriter() override;
  TFolderWriter(const TFolderWriter&) = delete;
  TFolderWriter& operator=(const TFolderWriter&) = delete;

  void Add(int x, int y, std::optional<std::string_view> bytes) override;
  void Finish() override;
  bool TakesLevels() const override { return true; }
  void AddLevelTile(int zoom, int x, int y, std::string_view bytes) override;

 private:
  void Put(int zoom, int x, int y, std::string_view bytes);
  void MakeFolder(const std::string& name);
  void WriteFile(const std::string& name, std::string_view bytes);
  [[noreturn]] void Fail(int error) const;

  std::filesystem::path Path;
  TTileSet Set;
  int Descriptor = -1;  // the folder's
  std::set<std::pair<int, int>> Columns;  // zoom and column folders made
  std::set<int> Zooms;
  int MinZoom;
  bool Finished = false;
};

// The name of a tile's file in such a folder: "12/2200/1343.jpg".
std::string FolderTileName(int zoom, int x, int y, std::string_view bytes);

// Whether a folder holds an earlier output of this kind only (metadata.json
// and folders named by numbers), which a new one may replace.
bool IsTileFolderOutput(const std::filesystem::path& folder);

}  // namespace meridane
