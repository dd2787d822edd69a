#include "tiles/PmtilesReader.h"

#include <fcntl.h>
#include <sys/stat.h>
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
#include "tiles/Projection.h"

namespace meridane {

namespace {

constexpr std::size_t HeaderSize = PmtilesHeaderSize;
constexpr int CompressionNone = PmtilesCompressionNone, CompressionGzip = PmtilesCompressionGzip;

// The most bytes one entry of a directory takes: varints of a tile id step,
// a run length, a length and an offset.
constexpr std::size_t MaxEntryBytes = 10 + 5 + 5 + 10;
constexpr std::size_t MaxDirectoryBytes = 10 + TPmtilesReader::MaxDirectoryEntries * MaxEntryBytes;
// The tile ids of zooms 0 to 30: no file addresses more tiles.
constexpr std::uint64_t TileIdEnd = ((std::uint64_t{1} << 62) - 1) / 3;

// Whether the section of length bytes at offset lies within a file of size bytes.
bool Within(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

std::uint64_t Little(std::string_view bytes, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

TPmtilesReader::TPmtilesReader(const std::filesystem::path& path, std::size_t maxTileBytes)
    : Path(path), MaxTileBytes(maxTileBytes) {
  Descriptor = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Descriptor < 0) throw std::runtime_error(CannotOpenMessage(Path));
  try {
    struct stat info {};
    if (::fstat(Descriptor, &info) != 0)
      throw std::runtime_error(CannotOpenMessage(Path) + ": " + std::strerror(errno));
    FileSize = static_cast<std::uint64_t>(info.st_size);
    const std::string h = Read(0, HeaderSize);
    if (!h.starts_with(PmtilesMagic)) Damaged();
    if (h[7] != 3) throw std::runtime_error(CannotOpenMessage(Path) + ": not a PMTiles file of version 3");
    std::uint64_t* sections[] = {&Head.RootOffset,     &Head.RootLength,  &Head.MetadataOffset, &Head.MetadataLength,
                                 &Head.LeafOffset,     &Head.LeafLength,  &Head.DataOffset,     &Head.DataLength,
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
      throw std::runtime_error(CannotOpenMessage(Path) +
                               ": its directories are compressed in a way this program cannot read");

    // Every number of the header is checked before it is used. The tile data
    // may run past the end of a file cut short: the tiles it still holds are
    // read, and a tile beyond its end is damaged when it is asked for.
    if (!Within(Head.RootOffset, Head.RootLength, FileSize) ||
        !Within(Head.MetadataOffset, Head.MetadataLength, FileSize) ||
        !Within(Head.LeafOffset, Head.LeafLength, FileSize) || Head.DataOffset > FileSize ||
        Head.DataLength > std::numeric_limits<std::uint64_t>::max() - Head.DataOffset)
      Damaged("its sections lie beyond its end");
    if (Head.AddressedTiles > TileIdEnd || (Head.AddressedTiles && Head.TileEntries > Head.AddressedTiles) ||
        (Head.TileEntries && Head.TileContents > Head.TileEntries))
      Damaged("its tile counts are impossible");
    if (Head.MinZoom > Head.MaxZoom || Head.MaxZoom > MaxZoom)
      Damaged("its zooms " + std::to_string(Head.MinZoom) + " to " + std::to_string(Head.MaxZoom) +
              " are not within 0 to " + std::to_string(MaxZoom));
    if (const auto fault = BoundsFault(Head.MinLon, Head.MinLat, Head.MaxLon, Head.MaxLat)) Damaged(*fault);

    Root = DirectoryAt(Head.RootOffset, Head.RootLength);
    if (Head.MetadataLength > 0) {
      if (Head.MetadataLength > MaxMetadataBytes) Damaged("its metadata is longer than it may be");
      std::string json = Read(Head.MetadataOffset, Head.MetadataLength);
      if (Head.InternalCompression == CompressionGzip) {
        auto plain = Gunzip(json, MaxMetadataBytes);
        if (!plain) Damaged("its metadata is damaged");
        json = std::move(*plain);
      }
      auto meta = JsonTopLevel(json);
      if (!meta) Damaged("its metadata is damaged");
      Meta = std::move(*meta);
    }
    TTileSet fallback;
    fallback.Zoom = Head.MaxZoom;
    fallback.West = Head.MinLon;
    fallback.South = Head.MinLat;
    fallback.East = Head.MaxLon;
    fallback.North = Head.MaxLat;
    fallback.Format = PmtilesFormatOfType(Head.TileType);
    try {
      Set = TileSetFromMetadata(Meta, fallback);
    } catch (const std::invalid_argument& e) {
      Damaged(e.what());
    }
  } catch (...) {
    ::close(Descriptor);
    throw;
  }
}

TPmtilesReader::~TPmtilesReader() { ::close(Descriptor); }

void TPmtilesReader::Damaged(const std::string& reason) const {
  throw std::runtime_error(CannotOpenMessage(Path) + ": " + reason);
}

std::string TPmtilesReader::Read(std::uint64_t offset, std::uint64_t length) const {
  // Nothing is allocated for bytes the file does not have.
  if (!Within(offset, length, FileSize)) Damaged();
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
  // Compressed or not, a directory is no longer than its entries can be.
  if (length > MaxDirectoryBytes) Damaged();
  std::string bytes = Read(offset, length);
  if (Head.InternalCompression == CompressionGzip) {
    auto plain = Gunzip(bytes, MaxDirectoryBytes);
    if (!plain) Damaged();
    bytes = std::move(*plain);
  }
  try {
    return DecodePmtilesDirectory(bytes, MaxDirectoryEntries);
  } catch (const std::runtime_error&) {
    Damaged();
  }
}

std::optional<std::string> TPmtilesReader::Get(int zoom, int x, int y) {
  if (zoom < 0 || zoom > MaxZoom || x < 0 || y < 0 || x >= GridSize(zoom) || y >= GridSize(zoom)) return std::nullopt;
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
      if (!Within(entry.Offset, entry.Length, Head.DataLength)) Damaged();
      if (entry.Length > MaxTileBytes)
        Damaged("the tile " + std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y) +
                " is longer than " + std::to_string(MaxTileBytes) + " bytes");
      return Read(Head.DataOffset + entry.Offset, entry.Length);
    }
    auto leaf = Leaves.find(entry.Offset);
    if (leaf == Leaves.end()) {
      if (!Within(entry.Offset, entry.Length, Head.LeafLength)) Damaged();
      std::vector<TPmtilesEntry> entries = DirectoryAt(Head.LeafOffset + entry.Offset, entry.Length);
      const std::size_t bytes = entries.size() * sizeof(TPmtilesEntry);
      // The cache is bounded in bytes: large leaves would otherwise add up.
      if (Leaves.size() >= 64 || LeafBytes + bytes > LeafCacheBytes) {
        Leaves.clear();
        LeafBytes = 0;
      }
      LeafBytes += bytes;
      leaf = Leaves.emplace(entry.Offset, std::move(entries)).first;
    }
    directory = &leaf->second;
  }
  Damaged();
}

std::vector<int> TPmtilesReader::Zooms() const {
  // The header's range, up to the zoom the tiles are shown at.
  std::vector<int> zooms;
  for (int zoom = std::min(Head.MinZoom, Set.Zoom); zoom <= Set.Zoom; ++zoom) zooms.push_back(zoom);
  return zooms;
}

}  // namespace meridane
