#include "combine/GeoTiff.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "combine/ArchiveWrite.h"
#include "combine/Pyramid.h"
#include "combine/Workers.h"
#include "task/ImageData.h"
#include "tiles/Encode.h"

namespace meridane {

namespace {

// One tile as a complete JPEG stream in YCbCr with 2x2 chroma subsampling,
// as the TIFF's tags declare. Transparent pixels are black.
std::string JpegTile(const TRgba& pixels, int quality) { return CompressJpegTile(pixels.data(), 4, quality, false); }

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
std::string MaskTile(const TRgba& pixels) {
  std::vector<unsigned char> bits(TilePixels / 8);
  for (std::size_t i = 0; i < TilePixels; ++i)
    if (pixels[i * 4 + 3] >= 128) bits[i / 8] |= static_cast<unsigned char>(0x80 >> (i % 8));
  return Deflate(bits.data(), bits.size());
}

// Whether a tile holds nothing: no pixel with alpha or colour. Such tiles are
// written at the end from one copy, in the compression the file then has.
bool Blank(const TRgba& pixels) {
  return pixels.empty() || (pixels[0] == 0 && std::memcmp(pixels.data(), pixels.data() + 1, pixels.size() - 1) == 0);
}

void PutLe(std::string& out, unsigned long long value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

// A tile's data as the file holds it: its size before it (4 bytes, little
// endian) and its last 4 bytes repeated after it, so that a reader that
// fetches a tile with a few bytes more can check it and needs no size table.
void PutBlock(std::string& out, std::string_view data) {
  PutLe(out, data.size(), 4);
  out += data;
  const std::string tail =
      std::string(4, '\0') + std::string(data.substr(data.size() - std::min<std::size_t>(4, data.size())));
  out += tail.substr(tail.size() - 4);
}

// One image's tile, compressed: its block (image, then mask if any), ready for the file.
struct TEncoded {
  int Level = 0;
  long long Row = 0, Column = 0;
  TRgba Pixels;       // the image's tiles only, for the overviews
  std::string Block;  // empty: a blank tile
  std::uint32_t Image = 0, Mask = 0;
};

TEncoded Encode(TEncoded e, std::optional<TTiffCompression> compression, int quality) {
  if (Blank(e.Pixels)) return e;
  // Only a tile that decoded sets the compression, and it comes before any tile or overview holding its pixels.
  if (!compression) throw std::logic_error("GeoTIFF: a tile before its compression");
  std::string image, mask;
  if (*compression == TTiffCompression::Jpeg) {
    image = JpegTile(e.Pixels, quality);
    mask = MaskTile(e.Pixels);
  } else {
    image = DeflateTile(e.Pixels);
  }
  e.Image = static_cast<std::uint32_t>(image.size());
  e.Mask = static_cast<std::uint32_t>(mask.size());
  e.Block.reserve(image.size() + mask.size() + 16);
  PutBlock(e.Block, image);
  if (!mask.empty()) PutBlock(e.Block, mask);
  return e;
}

// Where a tile's block waits in a scratch file; Image 0 for a blank tile.
struct TPlaced {
  unsigned long long At = 0;
  std::uint32_t Image = 0, Mask = 0;
};

// Jobs in flight: enough to keep every worker busy while the owner writes.
constexpr std::size_t Window = 16;

// TIFF's field types used here and their sizes.
enum : std::uint16_t { Ascii = 2, Short = 3, Long = 4, Rational = 5, Double = 12, Long8 = 16 };

std::size_t TypeSize(std::uint16_t type) {
  switch (type) {
    case Ascii: return 1;
    case Short: return 2;
    case Long: return 4;
    default: return 8;
  }
}

// One field of a directory; Data is its values, little endian (the tile
// tables' only once their places are known).
struct TField {
  std::uint16_t Tag = 0, Type = 0;
  unsigned long long Count = 0;
  std::string Data;
  unsigned long long Size() const { return Count * TypeSize(Type); }
};

TField Shorts(std::uint16_t tag, std::initializer_list<unsigned> values) {
  TField f{tag, Short, values.size(), {}};
  for (const unsigned v : values) PutLe(f.Data, v, 2);
  return f;
}

TField OneLong(std::uint16_t tag, unsigned long long value) {
  TField f{tag, Long, 1, {}};
  PutLe(f.Data, value, 4);
  return f;
}

TField Doubles(std::uint16_t tag, std::initializer_list<double> values) {
  TField f{tag, Double, values.size(), {}};
  for (const double v : values) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    PutLe(f.Data, bits, 8);
  }
  return f;
}

// A directory's size in the file: its fields, then the values too long to
// sit in a field, each on an even offset.
unsigned long long DirectorySize(const std::vector<TField>& fields, bool big) {
  unsigned long long size = big ? 8 + 20 * fields.size() + 8 : 2 + 12 * fields.size() + 4;
  for (const TField& f : fields)
    if (f.Size() > (big ? 8u : 4u)) size += (f.Size() + 1) / 2 * 2;
  return size;
}

std::string DirectoryBytes(const std::vector<TField>& fields, bool big, unsigned long long at,
                           unsigned long long next) {
  const std::size_t inlineBytes = big ? 8 : 4;
  std::string out, values;
  PutLe(out, fields.size(), big ? 8 : 2);
  unsigned long long valuesAt = at + (big ? 8 + 20 * fields.size() + 8 : 2 + 12 * fields.size() + 4);
  for (const TField& f : fields) {
    if (f.Data.size() != f.Size()) throw std::logic_error("GeoTIFF: a field without its values");
    PutLe(out, f.Tag, 2);
    PutLe(out, f.Type, 2);
    PutLe(out, f.Count, big ? 8 : 4);
    if (f.Data.size() <= inlineBytes) {
      out += f.Data + std::string(inlineBytes - f.Data.size(), '\0');
      continue;
    }
    PutLe(out, valuesAt + values.size(), static_cast<int>(inlineBytes));
    values += f.Data;
    if (values.size() % 2 == 1) values += '\0';
  }
  PutLe(out, next, big ? 8 : 4);
  return out + values;
}

// The output file, written front to back through a buffer.
class TOutput {
 public:
  explicit TOutput(const std::string& path) : Path(path) {
    Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (Fd < 0) Failed();
  }
  ~TOutput() {
    if (Fd >= 0) ::close(Fd);
  }
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  void Put(std::string_view bytes) {
    Buffer += bytes;
    if (Buffer.size() >= BufferBytes) Flush();
  }

  // size bytes of the scratch file from offset, copied by the kernel where it can.
  void Copy(const TScratchFile& from, unsigned long long offset, unsigned long long size) {
    Flush();
    while (size > 0 && Kernel) {
      auto in = static_cast<off_t>(offset);
      const ssize_t n = ::copy_file_range(from.Descriptor(), &in, Fd, nullptr, size, 0);
      if (n > 0) {
        offset += static_cast<unsigned long long>(n), size -= static_cast<unsigned long long>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != ENOSYS && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP) Failed();
      Kernel = false;  // not between these files: read and write
    }
    std::string chunk;
    while (size > 0) {
      chunk.resize(static_cast<std::size_t>(std::min<unsigned long long>(size, BufferBytes)));
      from.Read(offset, chunk.data(), chunk.size());
      Write(chunk);
      offset += chunk.size(), size -= chunk.size();
    }
  }

  void Close() {
    Flush();
    const int fd = std::exchange(Fd, -1);
    if (::close(fd) != 0 && errno != EINTR) Failed();
  }

 private:
  static constexpr std::size_t BufferBytes = 1 << 20;

  [[noreturn]] void Failed() const { throw EWriteError(Path, WriteFailureReason(errno)); }

  void Flush() {
    Write(Buffer);
    Buffer.clear();
  }

  void Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(Fd, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = ENOSPC;
        Failed();
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  std::string Path;
  int Fd = -1;
  std::string Buffer;
  bool Kernel = true;
};

}  // namespace

struct TGeoTiffSink::TImpl {
  TImpl(const TTileSet& set, const std::string& path, TGeoTiffOptions options)
      : Set(set),
        Path(path),
        Options(options),
        Compression(options.Compression),
        Folder(path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1)),
        Output(path),
        Spool{TScratchFile(Folder), TScratchFile(Folder)},
        Pyramid(set.Columns() * TileSide, set.Rows() * TileSide, options.OverviewMemory, Folder),
        Placed(static_cast<std::size_t>(Pyramid.Levels()) + 1) {
    Placed[0].reserve(static_cast<std::size_t>(set.Count()));
  }

  bool Jpeg() const { return Compression == TTiffCompression::Jpeg; }

  long long Columns(int level) const { return (Pyramid.Width(level) + TileSide - 1) / TileSide; }
  long long Rows(int level) const { return (Pyramid.Height(level) + TileSide - 1) / TileSide; }

  // The first tile that decodes sets the compression, unless the options did.
  void Choose(std::string_view bytes) {
    const TImageFormat format = ImageFormatOf(bytes);
    if (format != TImageFormat::Jpeg && format != TImageFormat::Png && format != TImageFormat::WebP) return;
    TRgba pixels;
    if (DecodeTile(bytes, pixels))
      Compression = format == TImageFormat::Jpeg ? TTiffCompression::Jpeg : TTiffCompression::Deflate;
  }

  void Take(TEncoded&& e) {
    if (e.Level == 0)
      Pyramid.Add(e.Row, e.Column, e.Pixels, [this](int level, long long row, long long column, const TRgba& pixels) {
        TEncoded o;
        o.Level = level, o.Row = row, o.Column = column, o.Pixels = pixels;
        Workers.Submit([o = std::move(o), c = Compression, q = Options.JpegQuality]() mutable {
          TEncoded done = Encode(std::move(o), c, q);
          done.Pixels.clear();
          return done;
        });
      });
    TPlaced& p = Placed[static_cast<std::size_t>(e.Level)].emplace_back();
    if (e.Block.empty()) return;
    p.At = Spool[e.Level == 0 ? 0 : 1].Append(e.Block);
    p.Image = e.Image, p.Mask = e.Mask;
  }

  // The directory of one image: level 0 or an overview, pixels or mask. The
  // tile tables are left for Write.
  std::vector<TField> Directory(int level, bool mask) const {
    const long long tiles = Columns(level) * Rows(level);
    std::vector<TField> fields{OneLong(254, (level > 0 ? 1 : 0) | (mask ? 4 : 0)),  // reduced image, mask
                               OneLong(256, static_cast<unsigned long long>(Pyramid.Width(level))),
                               OneLong(257, static_cast<unsigned long long>(Pyramid.Height(level)))};
    if (mask)
      fields.insert(fields.end(), {Shorts(258, {1}), Shorts(259, {8}), Shorts(262, {4}), Shorts(277, {1})});
    else if (Jpeg())
      fields.insert(fields.end(), {Shorts(258, {8, 8, 8}), Shorts(259, {7}), Shorts(262, {6}), Shorts(277, {3})});
    else
      fields.insert(fields.end(), {Shorts(258, {8, 8, 8, 8}), Shorts(259, {8}), Shorts(262, {2}), Shorts(277, {4})});
    fields.push_back(Shorts(284, {1}));                        // samples of a pixel together
    if (!mask && !Jpeg()) fields.push_back(Shorts(317, {2}));  // horizontal predictor
    fields.insert(fields.end(), {Shorts(322, {TileSide}), Shorts(323, {TileSide}),
                                 TField{324, Big ? Long8 : Long, static_cast<unsigned long long>(tiles), {}},
                                 TField{325, Long, static_cast<unsigned long long>(tiles), {}}});
    if (!mask && !Jpeg()) fields.push_back(Shorts(338, {2}));  // the fourth sample is unassociated alpha
    if (!mask && Jpeg()) {
      fields.push_back(Shorts(530, {2, 2}));
      TField black{532, Rational, 6, {}};  // ReferenceBlackWhite: full range
      for (const unsigned v : {0u, 255u, 128u, 255u, 128u, 255u}) PutLe(black.Data, v, 4), PutLe(black.Data, 1, 4);
      fields.push_back(black);
    }
    if (level == 0 && !mask) Georeference(fields);
    return fields;
  }

  // Pixel (0, 0)'s outer corner is the set's north-west edge; the pixel size
  // spans the set's edges exactly over the image.
  void Georeference(std::vector<TField>& fields) const {
    fields.push_back(Doubles(33550, {(Set.EastMetres - Set.WestMetres) / static_cast<double>(Pyramid.Width(0)),
                                     (Set.NorthMetres - Set.SouthMetres) / static_cast<double>(Pyramid.Height(0)), 0}));
    fields.push_back(Doubles(33922, {0, 0, 0, Set.WestMetres, Set.NorthMetres, 0}));
    // The keys: projected, pixels are areas, citation (in 34737), EPSG:3857.
    fields.push_back(Shorts(34735, {1, 1, 0, 4, 1024, 0, 1, 1, 1025, 0, 1, 1, 1026, 34737, 25, 0, 3072, 0, 1, 3857}));
    TField citation{34737, Ascii, 26, "WGS 84 / Pseudo-Mercator|"};
    citation.Data += '\0';
    fields.push_back(citation);
  }

  // What GDAL and others read after the header to learn the layout.
  std::string LayoutText() const {
    std::string text =
        "LAYOUT=IFDS_BEFORE_DATA\nBLOCK_ORDER=ROW_MAJOR\nBLOCK_LEADER=SIZE_AS_UINT4\n"
        "BLOCK_TRAILER=LAST_4_BYTES_REPEATED\nKNOWN_INCOMPATIBLE_EDITION=NO\n";
    if (Jpeg()) text += "MASK_INTERLEAVED_WITH_IMAGERY=YES\n";
    char head[64];
    std::snprintf(head, sizeof head, "GDAL_STRUCTURAL_METADATA_SIZE=%06zu bytes\n", text.size());
    text = head + text;
    if (text.size() % 2 == 1) text += ' ';
    return text;
  }

  struct TImage {
    int Level;
    bool Mask;
    std::vector<TField> Fields;
    unsigned long long At = 0;
  };

  // The file's layout: where each directory and each level's data begin; its size.
  unsigned long long Lay(std::vector<TImage>& images, std::vector<unsigned long long>& levelAt) {
    images.clear();
    for (int level = 0; level <= Pyramid.Levels(); ++level) {
      images.push_back({level, false, Directory(level, false)});
      if (Jpeg()) images.push_back({level, true, Directory(level, true)});
    }
    unsigned long long at = (Big ? 16 : 8) + LayoutText().size();
    for (TImage& image : images) {
      image.At = at;
      at += DirectorySize(image.Fields, Big);
    }
    levelAt.assign(Placed.size(), 0);
    for (std::size_t level = Placed.size(); level-- > 0;) {
      levelAt[level] = at;
      for (const TPlaced& p : Placed[level]) at += BlockSize(p);
    }
    return at;
  }

  unsigned long long BlockSize(const TPlaced& p) const {
    return p.Image == 0 ? BlankBlock.size() : 8ull + p.Image + (p.Mask > 0 ? 8ull + p.Mask : 0);
  }

  void Write() {
    if (!Compression) Compression = TTiffCompression::Deflate;  // not one tile: a transparent image
    const TRgba clear(TilePixels * 4, 0);
    if (Jpeg()) {
      PutBlock(BlankBlock, JpegTile(clear, Options.JpegQuality));
      BlankImage = static_cast<std::uint32_t>(BlankBlock.size() - 8);
      PutBlock(BlankBlock, MaskTile(clear));
    } else {
      PutBlock(BlankBlock, DeflateTile(clear));
      BlankImage = static_cast<std::uint32_t>(BlankBlock.size() - 8);
    }
    BlankMask = Jpeg() ? static_cast<std::uint32_t>(BlankBlock.size() - 16 - BlankImage) : 0;

    std::vector<TImage> images;
    std::vector<unsigned long long> levelAt;
    Big = false;
    if (Lay(images, levelAt) > Options.ClassicTiffLimit) {
      Big = true;
      Lay(images, levelAt);
    }

    std::string head = Big ? std::string("II\x2b\0\x08\0\0\0", 8) : std::string("II\x2a\0", 4);
    PutLe(head, images.front().At, Big ? 8 : 4);
    Output.Put(head);
    Output.Put(LayoutText());
    for (std::size_t i = 0; i < images.size(); ++i) {
      TImage& image = images[i];
      TField& offsets =
          *std::find_if(image.Fields.begin(), image.Fields.end(), [](const TField& f) { return f.Tag == 324; });
      TField& sizes =
          *std::find_if(image.Fields.begin(), image.Fields.end(), [](const TField& f) { return f.Tag == 325; });
      unsigned long long at = levelAt[static_cast<std::size_t>(image.Level)];
      for (const TPlaced& p : Placed[static_cast<std::size_t>(image.Level)]) {
        const std::uint32_t imageSize = p.Image == 0 ? BlankImage : p.Image,
                            maskSize = p.Image == 0 ? BlankMask : p.Mask;
        PutLe(offsets.Data, image.Mask ? at + 4 + imageSize + 8 : at + 4, Big ? 8 : 4);
        PutLe(sizes.Data, image.Mask ? maskSize : imageSize, 4);
        at += BlockSize(p);
      }
      Output.Put(DirectoryBytes(image.Fields, Big, image.At, i + 1 < images.size() ? images[i + 1].At : 0));
      image.Fields.clear();
    }
    for (std::size_t level = Placed.size(); level-- > 0;) {
      const TScratchFile& spool = Spool[level == 0 ? 0 : 1];
      unsigned long long runAt = 0, runSize = 0;
      for (const TPlaced& p : Placed[level]) {
        if (p.Image != 0 && runSize > 0 && p.At == runAt + runSize) {
          runSize += BlockSize(p);
          continue;
        }
        if (runSize > 0) Output.Copy(spool, runAt, runSize);
        runSize = 0;
        if (p.Image == 0)
          Output.Put(BlankBlock);
        else
          runAt = p.At, runSize = BlockSize(p);
      }
      if (runSize > 0) Output.Copy(spool, runAt, runSize);
    }
    Output.Close();
  }

  TTileSet Set;
  std::string Path;
  TGeoTiffOptions Options;
  std::optional<TTiffCompression> Compression;
  std::string Folder;
  TOutput Output;
  // The image's blocks, and the overviews'. Apart, the image's are one run to copy.
  TScratchFile Spool[2];
  TPyramid Pyramid;
  std::vector<std::vector<TPlaced>> Placed;  // by level, row by row
  bool Big = false;
  std::string BlankBlock;
  std::uint32_t BlankImage = 0, BlankMask = 0;
  long long Added = 0;
  // Last: its jobs read the members above, so it stops first.
  TOrderedWorkers<TEncoded> Workers;
};

TGeoTiffSink::TGeoTiffSink(const TTileSet& set, const std::string& path, TGeoTiffOptions options) {
  try {
    Impl = std::make_unique<TImpl>(set, path, options);
  } catch (const EWriteError& e) {
    throw EWriteError(path, e.Reason);  // a scratch file's failure is the output's
  }
}

TGeoTiffSink::~TGeoTiffSink() = default;

void TGeoTiffSink::Add(int x, int y, std::optional<std::string_view> bytes) {
  TImpl& s = *Impl;
  const long long row = s.Added / s.Set.Columns(), column = s.Added % s.Set.Columns();
  if (row >= s.Set.Rows() || x != s.Set.MinX + column || y != s.Set.MinY + row)
    throw std::logic_error("GeoTIFF: tile out of order");
  ++s.Added;
  if (!s.Compression && bytes) s.Choose(*bytes);
  std::optional<std::string> copy;
  if (bytes) copy.emplace(*bytes);
  s.Workers.Submit([row, column, copy = std::move(copy), c = s.Compression, q = s.Options.JpegQuality] {
    TEncoded e;
    e.Row = row, e.Column = column;
    if (!copy || !DecodeTile(*copy, e.Pixels)) e.Pixels.assign(TilePixels * 4, 0);
    return Encode(std::move(e), c, q);
  });
  try {
    while (s.Workers.Size() > Window) s.Take(s.Workers.Next());
  } catch (const EWriteError& e) {
    throw EWriteError(s.Path, e.Reason);
  }
}

void TGeoTiffSink::Finish() {
  TImpl& s = *Impl;
  if (s.Added != s.Set.Count()) throw std::logic_error("GeoTIFF: tiles missing at the end");
  try {
    while (s.Workers.Size() > 0) s.Take(s.Workers.Next());
    s.Write();
  } catch (const EWriteError& e) {
    throw EWriteError(s.Path, e.Reason);
  }
}

}  // namespace meridane
