#include "combine/GeoTiff.h"

#include <geotiff/geotiff.h>
#include <geotiff/geovalues.h>
#include <geotiff/xtiffio.h>
#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "combine/ArchiveWrite.h"
#include "combine/Pyramid.h"
#include "combine/Workers.h"

namespace meridane {

namespace {

struct TJpegErrors {
  jpeg_error_mgr Manager;  // first: libjpeg hands its address back as info->err
  std::jmp_buf Jump;
};

void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->Jump, 1); }

// One tile as a complete JPEG stream in YCbCr with 2x2 chroma subsampling,
// as the TIFF's tags declare. Transparent pixels are black.
std::string JpegTile(const TRgba& pixels, int quality) {
  jpeg_compress_struct info;
  TJpegErrors errors;
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JpegFail;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  volatile bool done = false;
  if (setjmp(errors.Jump) == 0) {
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = info.image_height = TileSide;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.write_JFIF_header = FALSE;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
      JSAMPROW row = const_cast<unsigned char*>(pixels.data()) + static_cast<std::size_t>(info.next_scanline) * TileSide * 4;
      jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    done = true;
  }
  jpeg_destroy_compress(&info);
  std::string bytes = done ? std::string(reinterpret_cast<const char*>(buffer), size) : std::string();
  std::free(buffer);
  if (!done) throw std::runtime_error("Cannot compress a tile as JPEG");
  return bytes;
}

// zlib-wrapped DEFLATE, TIFF's compression 8. One compressor a thread.
std::string Deflate(const unsigned char* data, std::size_t size) {
  struct TFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
  };
  thread_local std::unique_ptr<libdeflate_compressor, TFree> compressor(libdeflate_alloc_compressor(6));
  if (!compressor) throw std::runtime_error("Out of memory");
  std::string out(libdeflate_zlib_compress_bound(compressor.get(), size), '\0');
  out.resize(libdeflate_zlib_compress(compressor.get(), data, size, out.data(), out.size()));
  return out;
}

// RGBA with TIFF's horizontal predictor: each sample less the one a pixel to its left.
std::string DeflateTile(TRgba pixels) {
  constexpr std::size_t rowBytes = TileSide * 4;
  for (std::size_t y = 0; y < TileSide; ++y) {
    unsigned char* row = pixels.data() + y * rowBytes;
    for (std::size_t i = rowBytes - 1; i >= 4; --i) row[i] = static_cast<unsigned char>(row[i] - row[i - 4]);
  }
  return Deflate(pixels.data(), pixels.size());
}

// The 1-bit mask of a tile, set where the alpha is at least half.
struct TMaskBits {
  std::vector<unsigned char> Bits = std::vector<unsigned char>(TilePixels / 8);
  bool AllSet = true, AllClear = true;
};

TMaskBits MaskOf(const TRgba& pixels) {
  TMaskBits mask;
  for (std::size_t i = 0; i < TilePixels; ++i) {
    const bool set = pixels[i * 4 + 3] >= 128;
    if (set) mask.Bits[i / 8] |= static_cast<unsigned char>(0x80 >> (i % 8));
    mask.AllSet &= set;
    mask.AllClear &= !set;
  }
  return mask;
}

// A tile as it comes back from a worker.
struct TEncoded {
  int Level = 0;
  long long Row = 0, Column = 0;
  TRgba Pixels;  // the image's tiles only, for the overviews
  std::string Image, Mask;
};

// Jobs in flight: enough to keep every worker busy while the owner writes.
constexpr std::size_t Window = 16;

int TiffError(TIFF*, void* user, const char*, const char* format, va_list args) {
  char message[512];
  std::vsnprintf(message, sizeof message, format, args);
  *static_cast<std::string*>(user) = message;
  return 1;
}

int TiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

bool NeedsBigTiff(const TTileSet& set, TTiffCompression compression) {
  const double pixels = static_cast<double>(set.Count()) * static_cast<double>(TilePixels);
  const double perPixel = compression == TTiffCompression::Jpeg ? 3 + 1.0 / 8 : 4;
  // The overviews add a third; the tile tables and headers stay far below the margin.
  return pixels * perPixel * 4 / 3 > 4.0e9;
}

struct TGeoTiffSink::TImpl {
  TImpl(const TTileSet& set, const std::string& path, TGeoTiffOptions options)
      : Set(set), Path(path), Options(options),
        Folder(path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1)), Spool(Folder),
        Pyramid(set.Columns() * TileSide, set.Rows() * TileSide, options.OverviewMemory, Folder),
        Streams(2 * (static_cast<std::size_t>(Pyramid.Levels()) + 1)) {
    const TRgba clear(TilePixels * 4, 0);
    TRgba opaque(TilePixels * 4, 0);
    for (std::size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
    BlankImage = Jpeg() ? JpegTile(clear, Options.JpegQuality) : DeflateTile(clear);
    BlankMask = Deflate(MaskOf(clear).Bits.data(), TilePixels / 8);
    FullMask = Deflate(MaskOf(opaque).Bits.data(), TilePixels / 8);

    XTIFFInitialize();  // GeoTIFF's tags known to libtiff
    TIFFOpenOptions* open = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(open, TiffError, &Error);
    TIFFOpenOptionsSetWarningHandlerExtR(open, TiffWarning, nullptr);
    errno = 0;
    Tiff.reset(TIFFOpenExt(Path.c_str(), NeedsBigTiff(set, Options.Compression) ? "w8" : "w", open));
    TIFFOpenOptionsFree(open);
    if (!Tiff) Failed();
    Describe(0, false);
    Georeference();
  }

  bool Jpeg() const { return Options.Compression == TTiffCompression::Jpeg; }

  [[noreturn]] void Failed() const {
    throw EWriteError(Path, errno != 0 ? WriteFailureReason(errno) : Error.empty() ? "unknown error" : Error);
  }

  void Check(bool ok) const {
    if (!ok) Failed();
  }

  // The tags of one image of the file: level 0 or an overview, pixels or mask.
  void Describe(int level, bool mask) {
    TIFF* t = Tiff.get();
    const auto width = static_cast<uint32_t>(Pyramid.Width(level)), height = static_cast<uint32_t>(Pyramid.Height(level));
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, (level > 0 ? FILETYPE_REDUCEDIMAGE : 0) | (mask ? FILETYPE_MASK : 0));
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(TileSide));
    TIFFSetField(t, TIFFTAG_TILELENGTH, static_cast<uint32_t>(TileSide));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (mask) {
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MASK);
    } else if (Jpeg()) {
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
      TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
    } else {
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
      TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
  }

  // Pixel (0, 0)'s outer corner is the set's north-west edge; the pixel size
  // spans the set's edges exactly over the image.
  void Georeference() {
    double scale[3] = {(Set.EastMetres - Set.WestMetres) / static_cast<double>(Pyramid.Width(0)),
                       (Set.NorthMetres - Set.SouthMetres) / static_cast<double>(Pyramid.Height(0)), 0};
    double tie[6] = {0, 0, 0, Set.WestMetres, Set.NorthMetres, 0};
    TIFFSetField(Tiff.get(), TIFFTAG_GEOPIXELSCALE, 3, scale);
    TIFFSetField(Tiff.get(), TIFFTAG_GEOTIEPOINTS, 6, tie);
    GTIF* keys = GTIFNew(Tiff.get());
    if (!keys) throw EWriteError(Path, "out of memory");
    GTIFKeySet(keys, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected);
    GTIFKeySet(keys, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
    GTIFKeySet(keys, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, 3857);
    GTIFKeySet(keys, GTCitationGeoKey, TYPE_ASCII, 0, "WGS 84 / Pseudo-Mercator");
    GTIFWriteKeys(keys);
    GTIFFree(keys);
  }

  // Runs on a worker: the image's tile decoded, compressed, and its mask.
  TEncoded EncodeImageTile(long long row, long long column, const std::optional<std::string>& bytes) const {
    TEncoded e;
    e.Row = row, e.Column = column;
    if (!bytes || !DecodeTile(*bytes, e.Pixels)) {
      e.Pixels.assign(TilePixels * 4, 0);
      e.Image = BlankImage;
      e.Mask = BlankMask;
      return e;
    }
    Encode(e);
    return e;
  }

  // Runs on a worker.
  void Encode(TEncoded& e) const {
    if (!Jpeg()) {
      e.Image = DeflateTile(e.Pixels);
      return;
    }
    e.Image = JpegTile(e.Pixels, Options.JpegQuality);
    const TMaskBits mask = MaskOf(e.Pixels);
    e.Mask = mask.AllSet ? FullMask : mask.AllClear ? BlankMask : Deflate(mask.Bits.data(), mask.Bits.size());
  }

  void Take(TEncoded&& e) {
    if (e.Level == 0) {
      errno = 0;
      const auto index = static_cast<uint32_t>(e.Row * Set.Columns() + e.Column);
      Check(TIFFWriteRawTile(Tiff.get(), index, e.Image.data(), static_cast<tmsize_t>(e.Image.size())) >= 0);
      if (Jpeg()) Spooled(1, e.Mask);
      Pyramid.Add(e.Row, e.Column, e.Pixels, [this](int level, long long row, long long column, const TRgba& pixels) {
        Workers.Submit([this, level, row, column, pixels] {
          TEncoded o;
          o.Level = level, o.Row = row, o.Column = column, o.Pixels = pixels;
          Encode(o);
          o.Pixels.clear();
          return o;
        });
      });
      return;
    }
    Spooled(2 * static_cast<std::size_t>(e.Level), e.Image);
    if (Jpeg()) Spooled(2 * static_cast<std::size_t>(e.Level) + 1, e.Mask);
  }

  void Spooled(std::size_t stream, const std::string& bytes) {
    Streams[stream].emplace_back(Spool.Append(bytes), static_cast<unsigned>(bytes.size()));
  }

  // Each further image of the file from the scratch file, in the order GDAL
  // and others expect: each level's pixels, then its mask.
  void WriteSpooled() {
    std::string bytes;
    for (std::size_t stream = 1; stream < Streams.size(); ++stream) {
      if (Streams[stream].empty()) continue;
      errno = 0;
      Check(TIFFWriteDirectory(Tiff.get()));
      Describe(static_cast<int>(stream / 2), stream % 2 == 1);
      uint32_t index = 0;
      for (const auto& [at, size] : Streams[stream]) {
        bytes.resize(size);
        Spool.Read(at, bytes.data(), size);
        errno = 0;
        Check(TIFFWriteRawTile(Tiff.get(), index++, bytes.data(), static_cast<tmsize_t>(size)) >= 0);
      }
    }
    errno = 0;
    Check(TIFFWriteDirectory(Tiff.get()));
    Tiff.reset();
  }

  TTileSet Set;
  std::string Path;
  TGeoTiffOptions Options;
  std::string Folder;
  std::string Error;  // libtiff's last message
  struct TClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
  };
  std::unique_ptr<TIFF, TClose> Tiff;
  TScratchFile Spool;
  TPyramid Pyramid;
  // The tiles in the scratch file: 2 * level for pixels, 2 * level + 1 for masks.
  std::vector<std::vector<std::pair<unsigned long long, unsigned>>> Streams;
  std::string BlankImage, BlankMask, FullMask;
  long long Added = 0;
  // Last: its jobs read the members above, so it stops first.
  TOrderedWorkers<TEncoded> Workers;
};

TGeoTiffSink::TGeoTiffSink(const TTileSet& set, const std::string& path, TGeoTiffOptions options)
    : Impl(std::make_unique<TImpl>(set, path, options)) {}

TGeoTiffSink::~TGeoTiffSink() = default;

void TGeoTiffSink::Add(int x, int y, std::optional<std::string_view> bytes) {
  TImpl& s = *Impl;
  const long long row = s.Added / s.Set.Columns(), column = s.Added % s.Set.Columns();
  if (row >= s.Set.Rows() || x != s.Set.MinX + column || y != s.Set.MinY + row)
    throw std::logic_error("GeoTIFF: tile out of order");
  ++s.Added;
  std::optional<std::string> copy;
  if (bytes) copy.emplace(*bytes);
  s.Workers.Submit([&s, row, column, copy = std::move(copy)] { return s.EncodeImageTile(row, column, copy); });
  while (s.Workers.Size() > Window) s.Take(s.Workers.Next());
}

void TGeoTiffSink::Finish() {
  TImpl& s = *Impl;
  if (s.Added != s.Set.Count()) throw std::logic_error("GeoTIFF: tiles missing at the end");
  while (s.Workers.Size() > 0) s.Take(s.Workers.Next());
  s.WriteSpooled();
}

}  // namespace meridane
