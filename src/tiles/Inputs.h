#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tiles/TileKind.h"
#include "tiles/TileReader.h"
#include "tiles/TileSource.h"

namespace meridane {

struct TStartConfig;
class ITileArchive;

// How the user's inputs are read.
struct TInputOptions {
  std::optional<int> Zoom;  // only the tiles of this zoom
  bool FromSouth = false;   // a Z/X/Y tree counts its rows from the south (TMS)
};

// The tiles of one input, one source a zoom, lowest zoom first: a project file
// (.mrd, its task's zoom), a tile folder (FolderSources), or an MBTiles or
// PMTiles file (told by its first bytes, each zoom it holds). Throws
// ETileSourceError with the message for the user.
std::vector<TTileSource> InputSources(const std::filesystem::path& input, const TInputOptions& options,
                                      const TStartConfig& config);

// Several inputs as one map: one source a zoom, lowest first. Where inputs
// have tiles of the same zoom they become one source over the rectangle
// around them all, the first input's tiles first and the others in its Also,
// in the order given. Throws ETileSourceError.
std::vector<TTileSource> OpenInputs(const std::vector<std::filesystem::path>& inputs, const TInputOptions& options,
                                    const TStartConfig& config);

// Joins sources of one zoom as OpenInputs does: the first with the others in its Also.
TTileSource Overlay(std::vector<TTileSource> sameZoom);

// Reads the tiles of a source, from its files through the one bounded reader
// or from its archive, sorted as the check sorts them. Safe to use from
// several threads at once: an archive is read by one thread at a time.
class TSourceTiles {
 public:
  // programFolder holds blankimg/, the placeholders. Opens the folders and
  // archives: throws std::runtime_error (EFileError) when one cannot be opened.
  TSourceTiles(const TTileSource& source, const std::filesystem::path& programFolder,
               std::size_t maxTileBytes = DefaultMaxTileBytes);
  ~TSourceTiles();
  TSourceTiles(const TSourceTiles&) = delete;
  TSourceTiles& operator=(const TSourceTiles&) = delete;

  // The source and each of its Also, in order.
  std::size_t Layers() const { return LayerList.size(); }
  // The tile at (x, y) of the layer, as TTileReader::Read sorts it; a tile
  // outside the layer's rectangle is Missing. Throws std::runtime_error when
  // an archive cannot be read.
  TTileKind ReadLayer(std::size_t layer, int x, int y, std::string& out);
  // The tile of the first layer that has a good one; else the first layer's
  // kind that is not Missing, else Missing.
  TTileKind Read(int x, int y, std::string& out);
  // As Read, reading only the first bytes of files.
  TTileKind Peek(int x, int y);
  // Why an archive could not be read, the first time; nothing while every read worked.
  std::optional<std::string> Failure() const;

 private:
  struct TLayer;
  TTileKind Get(TLayer& layer, int x, int y, std::string& out, bool peek);

  std::vector<std::unique_ptr<TLayer>> LayerList;
  mutable std::mutex FailureLock;
  std::optional<std::string> FirstFailure;
};

}  // namespace meridane
