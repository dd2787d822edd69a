#include "tiles/PmtilesReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "tiles/Gzip.h"
#include "tiles/Json.h"

namespace meridane {

namespace {

constexpr std::size_t HeaderSize = PmtilesHeaderSize;
constexpr int CompressionNone = PmtilesCompressionNone, CompressionGzip = PmtilesCompressionGzip;
constexpr int TypePng = PmtilesTypePng, TypeJpeg = PmtilesTypeJpeg;

// Directories and metadata of other writers may be large, but not without end.
constexpr std::size_t MaxInflated = std::size_t{1} << 28;

std::uint64_t Little(std::string_view bytes, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

TPmtilesReader::TPmtilesReader(const std::filesystem::path& path) : Path(path) {
  Descriptor = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Descriptor < 0) throw std::runtime_error(CannotOpenMessage(Path));
  try {
    const std::string h = Read(0, HeaderSize);
    if (!h.starts_with(PmtilesMagic)) Damaged();
    if (h[7] != 3) throw std::runtime_error(CannotOpenMessage(Path) + ": not a PMTiles file of version 3");
    std::uint64_t* sections[] = {&Head.RootOffset, &Head.RootLength,   &Head.MetadataOffset, &Head.MetadataLength,
                                 &Head.LeafOffset, &Head.LeafLength,   &Head.DataOffset,     &Head.DataLength,
                                 &Head.AddressedTiles, &Head.TileEntries, &Head.TileContents};
    for (std::size_t i = 0; i < std::size(sections); ++i) *sections[i] = Little(h, 8 + 8 * i, 8);
    const auto byte = [&](std::size_t at) { return static_cast<int>(static_cast<unsigned char>(h[at])); };
    const auto degrees = [&](std::size_t at) { return static_cast<std::int32_t>(Little(h, at, 4)) / 1e7; };
    Head.Clustered = byte(96) == 1;
    Head.InternalCompression = byte(97);
    Head.TileCompression = byte(98);
    Head.TileType = byte(99);
    Head.MinZoom = byte(100);
    Head.MaxZoom = byte(101);
    Head.MinLon = degrees(102);
    Head.MinLat = degrees(106);
    Head.MaxLon = degrees(110);
    Head.MaxLat = degrees(114);
    Head.CenterZoom = byte(118);
    Head.CenterLon = degrees(119);
    Head.CenterLat = degrees(123);
    if (Head.InternalCompression != CompressionNone && Head.InternalCompression != CompressionGzip)
      throw std::runtime_error(CannotOpenMessage(Path) + ": its directories are compressed in a way this program cannot read");

    Root = DirectoryAt(Head.RootOffset, Head.RootLength);
    if (Head.MetadataLength > 0) {
      const std::string json = Inflated(Read(Head.MetadataOffset, Head.MetadataLength));
      // Damaged metadata leaves what the header tells.
      Meta = JsonTopLevel(json).value_or(std::map<std::string, std::string>());
    }
    TTileSet fallback;
    fallback.Zoom = std::min(Head.MaxZoom, 30);
    fallback.West = Head.MinLon;
    fallback.South = Head.MinLat;
    fallback.East = Head.MaxLon;
    fallback.North = Head.MaxLat;
    fallback.Format = Head.TileType == TypePng ? "png" : Head.TileType == TypeJpeg ? "jpg" : "";
    Set = TileSetFromMetadata(Meta, fallback);
  } catch (...) {
    ::close(Descriptor);
    throw;
  }
}

TPmtilesReader::~TPmtilesReader() { ::close(Descriptor); }

void TPmtilesReader::Damaged() const { throw std::runtime_error(CannotOpenMessage(Path) + ": the file is damaged"); }

std::string TPmtilesReader::Read(std::uint64_t offset, std::uint64_t length) const {
  if (length > MaxInflated || offset > std::numeric_limits<std::uint64_t>::max() - length) Damaged();
  std::string out(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(Descriptor, out.data() + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw std::runtime_error(CannotOpenMessage(Path) + ": " + std::strerror(errno));
    if (got == 0) Damaged();
    done += static_cast<std::size_t>(got);
  }
  return out;
}

std::vector<TPmtilesEntry> TPmtilesReader::DirectoryAt(std::uint64_t offset, std::uint64_t length) const {
  const std::string bytes = Inflated(Read(offset, length));
  try {
    return DecodePmtilesDirectory(bytes);
  } catch (const std::runtime_error&) {
    Damaged();
  }
}

std::string TPmtilesReader::Inflated(std::string bytes) const {
  if (Head.InternalCompression == CompressionNone) return bytes;
  std::optional<std::string> out = Gunzip(bytes, MaxInflated);
  if (!out) Damaged();
  return std::move(*out);
}

std::optional<std::string> TPmtilesReader::Get(int zoom, int x, int y) {
  if (zoom < 0 || zoom > 30 || x < 0 || y < 0 || x >= GridSize(zoom) || y >= GridSize(zoom)) return std::nullopt;
  const std::uint64_t id = PmtilesTileId(zoom, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
  const std::vector<TPmtilesEntry>* directory = &Root;
  // The root, and leaves below it: a few levels are all a file needs.
  for (int depth = 0; depth < 4; ++depth) {
    const auto after = std::upper_bound(directory->begin(), directory->end(), id,
                                        [](std::uint64_t wanted, const TPmtilesEntry& e) { return wanted < e.TileId; });
    if (after == directory->begin()) return std::nullopt;
    const TPmtilesEntry& entry = *std::prev(after);
    if (entry.RunLength > 0) {
      if (id - entry.TileId >= entry.RunLength) return std::nullopt;
      if (entry.Offset > Head.DataLength || entry.Length > Head.DataLength - entry.Offset) Damaged();
      return Read(Head.DataOffset + entry.Offset, entry.Length);
    }
    auto leaf = Leaves.find(entry.Offset);
    if (leaf == Leaves.end()) {
      if (entry.Offset > Head.LeafLength || entry.Length > Head.LeafLength - entry.Offset) Damaged();
      if (Leaves.size() >= 64) Leaves.clear();
      leaf = Leaves.emplace(entry.Offset, DirectoryAt(Head.LeafOffset + entry.Offset, entry.Length)).first;
    }
    directory = &leaf->second;
  }
  Damaged();
}

}  // namespace meridane
