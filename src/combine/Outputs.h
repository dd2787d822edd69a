#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "combine/Picture.h"
#include "combine/TileSink.h"

namespace meridane {

// The kinds of file the combiner writes.
enum class TOutputFormat { MBTiles, PMTiles, GeoTiff, Png, Jpeg, Sqlitedb, Kmz, Folder };
// The choices of the window; a folder of tiles is written from the command line.
inline constexpr TOutputFormat OutputFormats[] = {TOutputFormat::MBTiles, TOutputFormat::PMTiles,
                                                  TOutputFormat::GeoTiff, TOutputFormat::Png, TOutputFormat::Jpeg,
                                                  TOutputFormat::Sqlitedb, TOutputFormat::Kmz};

// The format an output's name asks for, by its extension (".mbtiles",
// ".pmtiles", ".tif" or ".tiff", ".png", ".jpg" or ".jpeg", in any case).
std::optional<TOutputFormat> OutputFormatOf(const std::filesystem::path& output);
// "MBTiles", "PMTiles", "GeoTIFF", "PNG", "JPEG", "SQLiteDB", "Garmin KMZ", "Tile folder".
std::string_view FormatName(TOutputFormat format);
// ".mbtiles", ".pmtiles", ".tif", ".png", ".jpg", ".sqlitedb", ".kmz"; "/" for a folder.
std::string_view FormatExtension(TOutputFormat format);
// Archives (and a folder of tiles) hold the tiles as they are, with a name
// and description, and the zooms below; pictures join them into one image.
bool IsArchive(TOutputFormat format);
// The formats that store the user's name and description: MBTiles, PMTiles,
// a folder's metadata.json and a KMZ (its map's name on the device). A
// .sqlitedb has no place for them.
bool StoresName(TOutputFormat format);
// The formats that encode JPEG themselves: a JPEG picture, a GeoTIFF of JPEG
// tiles (its overviews and its blank tile), a KMZ's overlays, and the archives
// and folders of JPEG tiles (the tiles built for the zooms below).
bool UsesJpegQuality(TOutputFormat format);

// The files one output is made of: the file itself first, then the files
// beside it that belong to it (a picture's world file: "map.png" has
// "map.pgw", the same name with the extension replaced; and "map.png.aux.xml").
std::vector<std::filesystem::path> OutputFiles(TOutputFormat format, const std::filesystem::path& output);
// The same for a set of tiles: a KMZ too large for one file is several
// ("map-1.kmz", "map-2.kmz", ...; see KmzFiles), the first counting as the file itself.
std::vector<std::filesystem::path> OutputFiles(TOutputFormat format, const std::filesystem::path& output,
                                               const TTileSet& set);
// The picture format of a picture output; nothing for the others.
std::optional<TPictureFormat> PictureFormatOf(TOutputFormat format);

// What the user chose for an output besides its file.
struct TCombineOptions {
  int Quality = 85;          // JPEG quality of a JPEG picture or a GeoTIFF of JPEG tiles, 1..100
  std::string Name;          // an archive's name; empty: the task's
  std::string Description;   // an archive's description
  // An archive's lowest zoom: its pyramid goes down to it. Nothing: to the
  // zoom where the whole area fits in one tile.
  std::optional<int> MinZoom;
};

// The writer of an output in the given format at path, which writes exactly
// the files OutputFiles names for path. The set already holds the name and
// description to store (Combine puts the user's there); of options only the
// quality counts. Throws std::runtime_error with the user's message when it
// cannot begin.
std::unique_ptr<ITileSink> MakeSink(TOutputFormat format, const std::filesystem::path& path, const TTileSet& set,
                                    const TCombineOptions& options);

}  // namespace meridane
