#include "combine/Outputs.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "combine/Folder.h"
#include "combine/GeoTiff.h"
#include "combine/Kmz.h"
#include "combine/Mbtiles.h"
#include "combine/Picture.h"
#include "combine/Pmtiles.h"
#include "combine/Sqlitedb.h"

namespace meridane {

namespace fs = std::filesystem;

std::optional<TOutputFormat> OutputFormatOf(const fs::path& output) {
  std::error_code ec;
  if (output.string().ends_with('/') || fs::is_directory(output, ec)) return TOutputFormat::Folder;
  std::string extension = output.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".mbtiles") return TOutputFormat::MBTiles;
  if (extension == ".pmtiles") return TOutputFormat::PMTiles;
  if (extension == ".tif" || extension == ".tiff") return TOutputFormat::GeoTiff;
  if (extension == ".png") return TOutputFormat::Png;
  if (extension == ".jpg" || extension == ".jpeg") return TOutputFormat::Jpeg;
  if (extension == ".sqlitedb") return TOutputFormat::Sqlitedb;
  if (extension == ".kmz") return TOutputFormat::Kmz;
  return std::nullopt;
}

std::string_view FormatName(TOutputFormat format) {
  switch (format) {
    case TOutputFormat::MBTiles: return "MBTiles";
    case TOutputFormat::PMTiles: return "PMTiles";
    case TOutputFormat::GeoTiff: return "GeoTIFF";
    case TOutputFormat::Png: return "PNG";
    case TOutputFormat::Jpeg: return "JPEG";
    case TOutputFormat::Sqlitedb: return "SQLiteDB";
    case TOutputFormat::Kmz: return "Garmin KMZ";
    case TOutputFormat::Folder: return "Tile folder";
  }
  return "";
}

std::string_view FormatExtension(TOutputFormat format) {
  switch (format) {
    case TOutputFormat::MBTiles: return ".mbtiles";
    case TOutputFormat::PMTiles: return ".pmtiles";
    case TOutputFormat::GeoTiff: return ".tif";
    case TOutputFormat::Png: return ".png";
    case TOutputFormat::Jpeg: return ".jpg";
    case TOutputFormat::Sqlitedb: return ".sqlitedb";
    case TOutputFormat::Kmz: return ".kmz";
    case TOutputFormat::Folder: return "/";
  }
  return "";
}

bool IsArchive(TOutputFormat format) {
  return format == TOutputFormat::MBTiles || format == TOutputFormat::PMTiles || format == TOutputFormat::Sqlitedb ||
         format == TOutputFormat::Folder;
}

bool StoresName(TOutputFormat format) {
  return format == TOutputFormat::MBTiles || format == TOutputFormat::PMTiles || format == TOutputFormat::Folder ||
         format == TOutputFormat::Kmz;
}

// Archives and folders encode the tiles built for the zooms below.
bool UsesJpegQuality(TOutputFormat format) { return format != TOutputFormat::Png; }

std::optional<TPictureFormat> PictureFormatOf(TOutputFormat format) {
  if (format == TOutputFormat::Png) return TPictureFormat::Png;
  if (format == TOutputFormat::Jpeg) return TPictureFormat::Jpeg;
  return std::nullopt;
}

std::vector<fs::path> OutputFiles(TOutputFormat format, const fs::path& output) {
  const auto picture = PictureFormatOf(format);
  if (!picture) return {output};
  // The picture, its world file and the coordinate system beside it.
  const std::vector<std::string> names = PictureFiles(output.string(), *picture);
  return {names.begin(), names.end()};
}

std::vector<fs::path> OutputFiles(TOutputFormat format, const fs::path& output, const TTileSet& set) {
  if (format == TOutputFormat::Kmz) return KmzFiles(output, set);
  return OutputFiles(format, output);
}

std::unique_ptr<ITileSink> MakeSink(TOutputFormat format, const fs::path& path, const TTileSet& set,
                                    const TCombineOptions& options) {
  switch (format) {
    case TOutputFormat::MBTiles: return std::make_unique<TMbtilesWriter>(path, set);
    case TOutputFormat::PMTiles: return std::make_unique<TPmtilesWriter>(path, set);
    case TOutputFormat::GeoTiff:
      // The tiles' bytes choose: JPEG tiles stay JPEG; PNG and WebP tiles keep every pixel.
      return std::make_unique<TGeoTiffSink>(set, path.string(), TGeoTiffOptions{.Compression = std::nullopt, .JpegQuality = options.Quality});
    case TOutputFormat::Png: return std::make_unique<TPictureSink>(set, path.string(), TPictureFormat::Png);
    case TOutputFormat::Jpeg:
      return std::make_unique<TPictureSink>(set, path.string(), TPictureFormat::Jpeg, options.Quality);
    case TOutputFormat::Sqlitedb: return std::make_unique<TSqlitedbWriter>(path, set);
    case TOutputFormat::Kmz: return std::make_unique<TKmzSink>(path, set, options.Quality);
    case TOutputFormat::Folder: return std::make_unique<TFolderWriter>(path, set);
  }
  throw std::runtime_error("Writing " + std::string(FormatName(format)) + " is not available in this build.");
}

}  // namespace meridane
