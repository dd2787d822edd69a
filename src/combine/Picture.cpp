#include "combine/Picture.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "combine/ArchiveWrite.h"
#include "combine/PngWrite.h"
#include "combine/Workers.h"
#include "tiles/Decode.h"

namespace meridane {

namespace {

// EPSG:3857 as GDAL writes it in a .aux.xml.
constexpr const char* MercatorWkt =
    "PROJCS[\"WGS 84 / Pseudo-Mercator\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,"
    "298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,"
    "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],"
    "AUTHORITY[\"EPSG\",\"4326\"]],PROJECTION[\"Mercator_1SP\"],PARAMETER[\"central_meridian\",0],"
    "PARAMETER[\"scale_factor\",1],PARAMETER[\"false_easting\",0],PARAMETER[\"false_northing\",0],"
    "UNIT[\"metre\",1,AUTHORITY[\"EPSG\",\"9001\"]],AXIS[\"Easting\",EAST],AXIS[\"Northing\",NORTH],"
    "EXTENSION[\"PROJ4\",\"+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=0 +x_0=0 +y_0=0 +k=1 +units=m "
    "+nadgrids=@null +wktext +no_defs\"],AUTHORITY[\"EPSG\",\"3857\"]]";

// The JPEG compressor reports failures by a jump back into the function that
// called it; the functions that set the jump hold only C data, so the jump
// skips no destructor. The state is used by one thread at a time.
struct TJpegState {
  jpeg_compress_struct Info;
  jpeg_error_mgr Errors;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX] = "";
};

void JpegFail(j_common_ptr info) {
  auto* state = reinterpret_cast<TJpegState*>(info->client_data);
  (*info->err->format_message)(info, state->Message);
  std::longjmp(state->Jump, 1);
}

bool JpegStart(TJpegState& s, std::FILE* file, JDIMENSION width, JDIMENSION height, int quality) {
  if (setjmp(s.Jump)) return false;
  jpeg_stdio_dest(&s.Info, file);
  s.Info.image_width = width;
  s.Info.image_height = height;
  s.Info.input_components = 3;
  s.Info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&s.Info);
  jpeg_set_quality(&s.Info, quality, TRUE);
  jpeg_start_compress(&s.Info, TRUE);
  return true;
}

bool JpegRows(TJpegState& s, unsigned char* rows, int count, std::size_t stride) {
  if (setjmp(s.Jump)) return false;
  for (int i = 0; i < count; ++i) {
    JSAMPROW row = rows + static_cast<std::size_t>(i) * stride;
    jpeg_write_scanlines(&s.Info, &row, 1);
  }
  return true;
}

bool JpegEnd(TJpegState& s) {
  if (setjmp(s.Jump)) return false;
  jpeg_finish_compress(&s.Info);
  return true;
}

// A decoded tile as it comes back from a worker; one left out, or one that
// does not decode, is all transparent.
struct TDecoded {
  long long Column = 0;
  TRgba Pixels;
  bool Opaque = false;  // every pixel's alpha 255 (asked for a PNG only)
};

bool AllOpaque(const TRgba& pixels) {
  unsigned char all = 255;
  for (std::size_t i = 3; i < pixels.size(); i += 4) all &= pixels[i];
  return all == 255;
}

constexpr std::size_t Window = 16;

void WriteText(const std::string& path, const std::string& text) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw EWriteError(path, WriteFailureReason(errno ? errno : EIO));
}

}  // namespace

std::optional<std::string> PictureSizeRefusal(const TTileSet& set, TPictureFormat format) {
  const long long width = set.Columns() * TileSide, height = set.Rows() * TileSide;
  if (width <= MaxPictureSide && height <= MaxPictureSide) return std::nullopt;
  return "The picture would be " + std::to_string(width) + " x " + std::to_string(height) + " pixels, and a " +
         (format == TPictureFormat::Jpeg ? "JPEG" : "PNG") + " picture is at most " + std::to_string(MaxPictureSide) +
         " pixels a side. Write a GeoTIFF for an area this large.";
}

std::vector<std::string> PictureFiles(const std::string& path, TPictureFormat format) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string base = hasExtension ? path.substr(0, dot) : path;
  return {path, base + (format == TPictureFormat::Png ? ".pgw" : ".jgw"), path + ".aux.xml"};
}

std::string WorldFileText(const TTileSet& set) {
  const double width = static_cast<double>(set.Columns() * TileSide), height = static_cast<double>(set.Rows() * TileSide);
  const double x = (set.EastMetres - set.WestMetres) / width, y = -(set.NorthMetres - set.SouthMetres) / height;
  char text[256];
  std::snprintf(text, sizeof text, "%.15f\n0\n0\n%.15f\n%.15f\n%.15f\n", x, y,
                set.WestMetres + x / 2, set.NorthMetres + y / 2);
  return text;
}

struct TPictureSink::TImpl {
  TImpl(const TTileSet& set, const std::string& path, TPictureFormat format, int quality)
      : Set(set), Path(path), Format(format), Channels(3), Width(set.Columns() * TileSide) {
    if (auto refusal = PictureSizeRefusal(set, format)) throw std::runtime_error(*refusal);
    Strip.resize(RowBytes() * TileSide);
    try {
      Start(quality);
    } catch (...) {
      Release();  // the destructor does not run for a constructor that throws
      throw;
    }
  }

  ~TImpl() { Release(); }

  void Start(int quality) {
    const auto height = static_cast<unsigned>(Set.Rows() * TileSide);
    if (Png()) {
      // RGB until a pixel that is not opaque comes; the writer then turns
      // what it wrote into RGBA.
      Pngs = std::make_unique<TPngWriter>(Path, static_cast<std::uint32_t>(Width), height, 3);
    } else {
      errno = 0;
      File = std::fopen(Path.c_str(), "wb");
      if (!File) Failed("");
      Encoder = std::make_unique<TOrderedWorkers<std::vector<unsigned char>>>(1);
      Jpegs.Info.err = jpeg_std_error(&Jpegs.Errors);
      Jpegs.Errors.error_exit = JpegFail;
      Jpegs.Info.client_data = &Jpegs;
      jpeg_create_compress(&Jpegs.Info);
      JpegCreated = true;
      if (!JpegStart(Jpegs, File, static_cast<JDIMENSION>(Width), height, quality)) Failed(Jpegs.Message);
    }
  }

  void Release() {
    Encoder.reset();  // no row is being written below
    Pngs.reset();
    if (JpegCreated) jpeg_destroy_compress(&Jpegs.Info);
    JpegCreated = false;
    if (File) std::fclose(File);
    File = nullptr;
  }

  bool Png() const { return Format == TPictureFormat::Png; }
  std::size_t RowBytes() const { return static_cast<std::size_t>(Width) * Channels; }

  // A full disk shows as a failed write with errno set; else the library's words.
  [[noreturn]] void Failed(const char* message) const {
    throw EWriteError(Path, errno != 0 ? WriteFailureReason(errno) : *message ? message : "unknown error");
  }

  // Runs on the encoder thread.
  void WriteRows(std::vector<unsigned char>& strip) {
    errno = 0;
    if (!JpegRows(Jpegs, strip.data(), TileSide, RowBytes())) Failed(Jpegs.Message);
  }

  // The first pixel that is not opaque makes the picture RGBA, the row
  // being filled too.
  void ToRgba() {
    Pngs->ToRgba();
    std::vector<unsigned char> wide(static_cast<std::size_t>(Width) * 4 * TileSide);
    for (std::size_t i = 0, n = static_cast<std::size_t>(Width) * TileSide; i < n; ++i) {
      std::memcpy(&wide[i * 4], &Strip[i * 3], 3);
      wide[i * 4 + 3] = 255;
    }
    Strip = std::move(wide);
    Channels = 4;
  }

  void Take(TDecoded&& tile) {
    if (Png() && Channels == 3 && !tile.Opaque) ToRgba();
    unsigned char* left = Strip.data() + static_cast<std::size_t>(tile.Column) * TileSide * Channels;
    for (std::size_t y = 0; y < TileSide; ++y) {
      const unsigned char* in = tile.Pixels.data() + y * TileSide * 4;
      unsigned char* out = left + y * RowBytes();
      if (Png() && Channels == 4) {
        std::memcpy(out, in, TileSide * 4);
        continue;
      }
      if (Png()) {
        for (std::size_t x = 0; x < TileSide; ++x, in += 4, out += 3) std::memcpy(out, in, 3);
        continue;
      }
      // JPEG has no transparency: left-out tiles are white, and so is what
      // shows through a PNG tile's transparent pixels.
      for (std::size_t x = 0; x < TileSide; ++x, in += 4, out += 3) {
        const unsigned a = in[3];
        for (int c = 0; c < 3; ++c) out[c] = static_cast<unsigned char>((in[c] * a + 255 * (255 - a) + 127) / 255);
      }
    }
    if (tile.Column == Set.Columns() - 1) HandOver();
  }

  // The filled row of tiles to the encoder thread, which gives back the one
  // it wrote before for the next row.
  void HandOver() {
    if (Png()) {
      Pngs->Add(std::move(Strip));
      Strip = Pngs->Spare();
      Strip.resize(RowBytes() * TileSide);
      return;
    }
    std::vector<unsigned char> spare = Encoder->Size() > 0 ? Encoder->Next() : std::vector<unsigned char>();
    Encoder->Submit([this, strip = std::move(Strip)]() mutable {
      WriteRows(strip);
      return std::move(strip);
    });
    Strip = std::move(spare);
    Strip.resize(RowBytes() * TileSide);
  }

  void Close() {
    if (Png()) {
      Pngs->Finish();
    } else {
      if (Encoder->Size() > 0) Encoder->Next();
      errno = 0;
      if (!JpegEnd(Jpegs)) Failed(Jpegs.Message);
      std::FILE* file = std::exchange(File, nullptr);
      errno = 0;
      if (std::fclose(file) != 0) Failed("");
    }
    const std::vector<std::string> files = PictureFiles(Path, Format);
    WriteText(files[1], WorldFileText(Set));
    WriteText(files[2], std::string("<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"1,2\">") + MercatorWkt +
                            "</SRS>\n</PAMDataset>\n");
  }

  TTileSet Set;
  std::string Path;
  TPictureFormat Format;
  std::size_t Channels;
  long long Width;
  std::FILE* File = nullptr;
  std::unique_ptr<TPngWriter> Pngs;
  TJpegState Jpegs;
  bool JpegCreated = false;
  std::vector<unsigned char> Strip;  // the row of tiles being filled
  long long Added = 0;
  // A JPEG's one thread: rows go into the file one after another.
  std::unique_ptr<TOrderedWorkers<std::vector<unsigned char>>> Encoder;
  TOrderedWorkers<TDecoded> Decoders;
};

TPictureSink::TPictureSink(const TTileSet& set, const std::string& path, TPictureFormat format, int jpegQuality)
    : Impl(std::make_unique<TImpl>(set, path, format, jpegQuality)) {}

TPictureSink::~TPictureSink() = default;

void TPictureSink::Add(int x, int y, std::optional<std::string_view> bytes) {
  TImpl& s = *Impl;
  const long long row = s.Added / s.Set.Columns(), column = s.Added % s.Set.Columns();
  if (row >= s.Set.Rows() || x != s.Set.MinX + column || y != s.Set.MinY + row)
    throw std::logic_error("Picture: tile out of order");
  ++s.Added;
  std::optional<std::string> copy;
  if (bytes) copy.emplace(*bytes);
  s.Decoders.Submit([column, copy = std::move(copy), png = s.Png()] {
    TDecoded d;
    d.Column = column;
    if (!copy || !DecodeTile(*copy, d.Pixels)) d.Pixels.assign(TilePixels * 4, 0);
    d.Opaque = png && AllOpaque(d.Pixels);
    return d;
  });
  while (s.Decoders.Size() > Window) s.Take(s.Decoders.Next());
}

void TPictureSink::LeftOutAhead() {
  TImpl& s = *Impl;
  if (s.Added != 0) throw std::logic_error("Picture: told of tiles left out too late");
  if (s.Png() && s.Channels == 3) s.ToRgba();  // no row written yet: nothing to redo
}

void TPictureSink::Finish() {
  TImpl& s = *Impl;
  if (s.Added != s.Set.Count()) throw std::logic_error("Picture: tiles missing at the end");
  while (s.Decoders.Size() > 0) s.Take(s.Decoders.Next());
  s.Close();
}

}  // namespace meridane
