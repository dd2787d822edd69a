#include "combine/Kmz.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "combine/ArchiveWrite.h"
#include "combine/Workers.h"
#include "combine/ZipWrite.h"
#include "geo/Commonfunc.h"
#include "tiles/Archive.h"
#include "tiles/Decode.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

long long CeilDiv(long long a, long long b) { return (a + b - 1) / b; }

std::string XmlText(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters other than tab and line ends are not allowed in XML.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') break;
        out += c;
    }
  }
  return out;
}

// The image of an overlay inside its file, by its place among all the set's overlays.
std::string ImageName(long long row, long long column) {
  return "files/r" + std::to_string(row + 1) + "c" + std::to_string(column + 1) + ".jpg";
}

struct TJpegErrors {
  jpeg_error_mgr Manager;  // first: libjpeg hands its address back as info->err
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX] = "";
};

void JpegFail(j_common_ptr info) {
  auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
  (*info->err->format_message)(info, errors->Message);
  std::longjmp(errors->Jump, 1);
}

// Baseline JPEG of RGB rows; the devices do not show progressive ones. Holds
// only C data where the jump back lands.
bool EncodeRgb(const unsigned char* rgb, unsigned width, unsigned height, int quality, unsigned char** buffer,
               unsigned long* size, char* message) {
  jpeg_compress_struct info;
  TJpegErrors errors;
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JpegFail;
  bool ok = false;
  if (setjmp(errors.Jump) == 0) {
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < height) {
      JSAMPROW row = const_cast<unsigned char*>(rgb) + static_cast<std::size_t>(info.next_scanline) * width * 3;
      jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    ok = true;
  } else {
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.Message);
  }
  jpeg_destroy_compress(&info);
  return ok;
}

}  // namespace

TKmzLayout KmzLayoutOf(const TTileSet& set) {
  TKmzLayout best;
  best.OverlayColumns = CeilDiv(set.Columns(), KmzOverlayTiles);
  best.OverlayRows = CeilDiv(set.Rows(), KmzOverlayTiles);
  long long fewest = -1, squarest = 0;
  for (long long rows = 1; rows <= std::min<long long>(best.OverlayRows, KmzMaxOverlays); ++rows) {
    const long long columns = std::min<long long>(best.OverlayColumns, KmzMaxOverlays / rows);
    const long long fileRows = CeilDiv(best.OverlayRows, rows), fileColumns = CeilDiv(best.OverlayColumns, columns);
    // The files share the overlays evenly rather than the last holding what is left.
    const long long blockRows = CeilDiv(best.OverlayRows, fileRows);
    const long long blockColumns = CeilDiv(best.OverlayColumns, fileColumns);
    const long long files = fileRows * fileColumns, square = std::min(blockRows, blockColumns);
    if (fewest < 0 || files < fewest || (files == fewest && square > squarest)) {
      fewest = files, squarest = square;
      best.BlockRows = blockRows, best.BlockColumns = blockColumns;
      best.FileRows = fileRows, best.FileColumns = fileColumns;
    }
  }
  return best;
}

std::vector<fs::path> KmzFiles(const fs::path& path, const TTileSet& set) {
  const long long files = KmzLayoutOf(set).Files();
  if (files == 1) return {path};
  std::vector<fs::path> out;
  for (long long i = 1; i <= files; ++i)
    out.push_back(path.parent_path() / (path.stem().string() + "-" + std::to_string(i) + path.extension().string()));
  return out;
}

std::string KmzLayoutText(const TTileSet& set, const fs::path& output) {
  const TKmzLayout layout = KmzLayoutOf(set);
  const std::string tiles = std::to_string(KmzOverlayTiles);
  const std::string overlays = std::to_string(layout.Overlays()) + (layout.Overlays() == 1 ? " overlay" : " overlays") +
                               " of up to " + tiles + "x" + tiles + " tiles";
  if (layout.Files() == 1) return overlays;
  const std::vector<fs::path> files = KmzFiles(output, set);
  return "the area needs " + overlays + " and a file holds at most " + std::to_string(KmzMaxOverlays) + ": written " +
         files.front().filename().string() + " .. " + files.back().filename().string() + ", blocks of up to " +
         std::to_string(layout.BlockColumns) + "x" + std::to_string(layout.BlockRows) + " overlays";
}

std::string KmzDocument(const TTileSet& set, long long file) {
  const TKmzLayout layout = KmzLayoutOf(set);
  const long long fileRow = file / layout.FileColumns, fileColumn = file % layout.FileColumns;
  std::string name = set.Name.empty() ? "Map" : set.Name;
  if (layout.Files() > 1) name += " (" + std::to_string(file + 1) + " of " + std::to_string(layout.Files()) + ")";
  std::string kml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n";
  kml += "  <name>" + XmlText(name) + "</name>\n";
  if (!set.Description.empty()) kml += "  <description>" + XmlText(set.Description) + "</description>\n";
  const long long lastRow = std::min(layout.OverlayRows, (fileRow + 1) * layout.BlockRows);
  const long long lastColumn = std::min(layout.OverlayColumns, (fileColumn + 1) * layout.BlockColumns);
  for (long long row = fileRow * layout.BlockRows; row < lastRow; ++row)
    for (long long column = fileColumn * layout.BlockColumns; column < lastColumn; ++column) {
      const long long x0 = set.MinX + column * KmzOverlayTiles, y0 = set.MinY + row * KmzOverlayTiles;
      const long long x1 = std::min<long long>(set.MaxX + 1LL, x0 + KmzOverlayTiles);
      const long long y1 = std::min<long long>(set.MaxY + 1LL, y0 + KmzOverlayTiles);
      const std::string image = ImageName(row, column);
      const auto edge = [](const char* side, double degrees) {
        return "      <" + std::string(side) + ">" + NumberText(degrees) + "</" + side + ">\n";
      };
      kml += "  <GroundOverlay>\n    <name>" + image.substr(6, image.size() - 10) + "</name>\n";
      kml += "    <drawOrder>50</drawOrder>\n    <Icon><href>" + image + "</href></Icon>\n    <LatLonBox>\n";
      kml += edge("north", TileYToLat(static_cast<double>(y0), set.Zoom, 0)) +
             edge("south", TileYToLat(static_cast<double>(y1), set.Zoom, 0)) +
             edge("east", TileXToLon(static_cast<double>(x1), set.Zoom)) +
             edge("west", TileXToLon(static_cast<double>(x0), set.Zoom));
      kml += "      <rotation>0</rotation>\n    </LatLonBox>\n  </GroundOverlay>\n";
    }
  return kml + "</Document>\n</kml>\n";
}

std::string KmzOverlayImage(const TTileSet& set, long long y0, int columns, int rows,
                            const std::vector<std::optional<std::string>>& tiles, int quality) {
  const std::size_t width = static_cast<std::size_t>(columns) * TileSide;
  const std::size_t height = static_cast<std::size_t>(rows) * TileSide;
  // The tiles side by side, RGB on white.
  std::vector<unsigned char> mercator(width * height * 3);
  TRgba pixels;
  for (int row = 0; row < rows; ++row)
    for (int column = 0; column < columns; ++column) {
      const auto& bytes = tiles.at(static_cast<std::size_t>(row) * columns + column);
      if (bytes)
        DecodeTile(*bytes, pixels);
      else
        pixels.assign(TilePixels * 4, 0);
      for (std::size_t y = 0; y < TileSide; ++y) {
        const unsigned char* in = pixels.data() + y * TileSide * 4;
        unsigned char* out = mercator.data() + ((row * TileSide + y) * width + column * TileSide) * 3;
        for (std::size_t x = 0; x < TileSide; ++x, in += 4, out += 3)
          for (int c = 0; c < 3; ++c)
            out[c] = static_cast<unsigned char>((in[c] * in[3] + 255 * (255 - in[3]) + 127) / 255);
      }
    }
  // Row r of the image is at the latitude r/height of the way from north to
  // south; it takes the Mercator rows there, blended by their distance.
  const double north = TileYToLat(static_cast<double>(y0), set.Zoom, 0);
  const double south = TileYToLat(static_cast<double>(y0 + rows), set.Zoom, 0);
  const double top = static_cast<double>(y0) * TileSide;
  std::vector<unsigned char> image(width * height * 3);
  for (std::size_t r = 0; r < height; ++r) {
    const double latitude = north - (static_cast<double>(r) + 0.5) * (north - south) / static_cast<double>(height);
    const double source = LonLatToPixel({0, latitude}, set.Zoom).Y - top - 0.5;
    const double clamped = std::clamp(source, 0.0, static_cast<double>(height - 1));
    const auto above = static_cast<std::size_t>(clamped);
    const std::size_t below = std::min(above + 1, height - 1);
    const double weight = clamped - static_cast<double>(above);
    const unsigned char* a = mercator.data() + above * width * 3;
    const unsigned char* b = mercator.data() + below * width * 3;
    unsigned char* out = image.data() + r * width * 3;
    for (std::size_t i = 0; i < width * 3; ++i)
      out[i] = static_cast<unsigned char>(std::lround(a[i] + (b[i] - a[i]) * weight));
  }
  mercator = {};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  char message[JMSG_LENGTH_MAX] = "";
  const bool ok = EncodeRgb(image.data(), static_cast<unsigned>(width), static_cast<unsigned>(height), quality, &buffer,
                            &size, message);
  std::string jpeg = ok ? std::string(reinterpret_cast<const char*>(buffer), size) : std::string();
  std::free(buffer);
  if (!ok) throw std::runtime_error(std::string("Cannot encode an overlay: ") + message);
  return jpeg;
}

struct TKmzSink::TImpl {
  TImpl(fs::path path, const TTileSet& set, int quality) : Set(set), Layout(KmzLayoutOf(set)), Quality(quality) {
    for (const fs::path& file : KmzFiles(path, set)) Zips.push_back(std::make_unique<TZipWriter>(file));
  }

  TTileSet Set;
  TKmzLayout Layout;
  int Quality;
  std::vector<std::unique_ptr<TZipWriter>> Zips;
  std::vector<std::optional<std::string>> Band;  // the tiles of a row of overlays, row by row
  long long Added = 0;
  long long Encoding = -1;  // the row of overlays whose images are being made, if any
  TOrderedWorkers<std::string> Encoders;

  // Hands the images of the row of overlays in Band to the workers. They are
  // made while the next row's tiles arrive, and written before its own.
  void EncodeBand(long long overlayRow) {
    WriteEncoded();
    const long long y0 = Set.MinY + overlayRow * KmzOverlayTiles;
    const int rows = static_cast<int>(std::min<long long>(KmzOverlayTiles, Set.MaxY + 1LL - y0));
    const long long columns = Set.Columns();
    for (long long overlay = 0; overlay < Layout.OverlayColumns; ++overlay) {
      const long long x0 = Set.MinX + overlay * KmzOverlayTiles;
      const int width = static_cast<int>(std::min<long long>(KmzOverlayTiles, Set.MaxX + 1LL - x0));
      std::vector<std::optional<std::string>> tiles;
      for (int row = 0; row < rows; ++row)
        for (int column = 0; column < width; ++column)
          tiles.push_back(
              std::move(Band[static_cast<std::size_t>(row * columns + overlay * KmzOverlayTiles + column)]));
      Encoders.Submit([this, y0, width, rows, tiles = std::move(tiles)] {
        return KmzOverlayImage(Set, y0, width, rows, tiles, Quality);
      });
    }
    Band.clear();
    Encoding = overlayRow;
  }

  // Puts each image of the row being made in its file.
  void WriteEncoded() {
    if (Encoding < 0) return;
    const long long overlayRow = std::exchange(Encoding, -1);
    TZipWriter* open = nullptr;
    const long long fileRow = overlayRow / Layout.BlockRows;
    for (long long overlay = 0; overlay < Layout.OverlayColumns; ++overlay) {
      const std::string jpeg = Encoders.Next();
      const long long file = fileRow * Layout.FileColumns + overlay / Layout.BlockColumns;
      TZipWriter& zip = *Zips[static_cast<std::size_t>(file)];
      if (open != &zip && open) open->Pause();
      open = &zip;
      // doc.kml first: readers take the first .kml of the archive.
      if (!zip.Started()) zip.Add("doc.kml", KmzDocument(Set, file), true);
      zip.Add(ImageName(overlayRow, overlay), jpeg, false);
    }
    if (open) open->Pause();
  }
};

TKmzSink::TKmzSink(fs::path path, const TTileSet& set, int quality)
    : Impl(std::make_unique<TImpl>(std::move(path), set, quality)) {}

TKmzSink::~TKmzSink() = default;

void TKmzSink::Add(int x, int y, std::optional<std::string_view> bytes) {
  TImpl& s = *Impl;
  const long long row = s.Added / s.Set.Columns(), column = s.Added % s.Set.Columns();
  if (row >= s.Set.Rows() || x != s.Set.MinX + column || y != s.Set.MinY + row)
    throw std::logic_error("KMZ: tile out of order");
  ++s.Added;
  s.Band.push_back(bytes ? std::optional<std::string>(*bytes) : std::nullopt);
  const bool bandEnd =
      column == s.Set.Columns() - 1 && (row % KmzOverlayTiles == KmzOverlayTiles - 1 || row == s.Set.Rows() - 1);
  if (bandEnd) s.EncodeBand(row / KmzOverlayTiles);
}

void TKmzSink::Finish() {
  TImpl& s = *Impl;
  if (s.Added != s.Set.Count()) throw std::logic_error("KMZ: tiles missing at the end");
  s.WriteEncoded();
  for (const auto& zip : s.Zips) zip->Finish();
}

}  // namespace meridane
