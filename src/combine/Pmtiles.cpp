#include "combine/Pmtiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "combine/ArchiveWrite.h"
#include "combine/Pyramid.h"
#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "tiles/Gzip.h"
#include "tiles/Json.h"

namespace meridane {

namespace {

constexpr std::size_t HeaderSize = PmtilesHeaderSize;
constexpr int CompressionNone = PmtilesCompressionNone, CompressionGzip = PmtilesCompressionGzip;

void PutLittle(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Every byte of a tile, hashed in four lanes at once: std::hash took a fifth
// of a run's time over tiles of tens of KB. It only picks the tiles that are
// then compared byte for byte.
std::uint64_t HashBytes(std::string_view bytes) {
  constexpr std::uint64_t K = 0x9e3779b97f4a7c15;
  std::uint64_t lanes[4] = {K, K ^ 1, K ^ 2, K ^ 3};
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  const auto mix = [](std::uint64_t& lane, const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    lane = (lane ^ word) * K;
    lane ^= lane >> 29;
  };
  for (; n >= 32; p += 32, n -= 32)
    for (int i = 0; i < 4; ++i) mix(lanes[i], p + 8 * i);
  for (int i = 0; n >= 8; p += 8, n -= 8) mix(lanes[i++], p);
  char tail[8] = {};
  std::memcpy(tail, p, n);
  mix(lanes[3], tail);
  std::uint64_t h = bytes.size();
  for (const std::uint64_t lane : lanes) h = (h ^ lane) * K, h ^= h >> 32;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccd;
  return h ^ (h >> 33);
}

std::int32_t Degrees7(double degrees) { return static_cast<std::int32_t>(std::lround(degrees * 1e7)); }

// A file descriptor that writes through a buffer and says why it failed.
class TFile {
 public:
  TFile() = default;
  ~TFile() {
    if (Descriptor >= 0) ::close(Descriptor);
  }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  void Open(int descriptor, std::filesystem::path target) {
    Descriptor = descriptor;
    Target = std::move(target);
    if (Descriptor < 0) Fail(errno);
  }
  std::uint64_t Size() const { return Written + Buffer.size(); }
  std::uint64_t Flushed() const { return Written; }
  std::string_view Pending() const { return Buffer; }

  void Write(std::string_view data) {
    if (Buffer.size() + data.size() > Capacity) Flush();
    if (data.size() >= Capacity)
      Put(data);
    else
      Buffer.append(data);
  }
  void Flush() {
    Put(Buffer);
    Buffer.clear();
  }
  // Appends length bytes of source from offset on, in the kernel where it can.
  void CopyFrom(const TFile& source, std::uint64_t offset, std::uint64_t length) {
    Flush();
    while (length > 0 && CopyInKernel) {
      auto in = static_cast<off_t>(offset);
      const ssize_t moved = ::copy_file_range(source.Descriptor, &in, Descriptor, nullptr, length, 0);
      if (moved < 0 && errno == EINTR) continue;
      if (moved < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        CopyInKernel = false;
      } else if (moved <= 0) {
        Fail(moved < 0 ? errno : EIO);
      } else {
        offset += static_cast<std::uint64_t>(moved);
        length -= static_cast<std::uint64_t>(moved);
        Written += static_cast<std::uint64_t>(moved);
      }
    }
    std::string piece;
    for (std::uint64_t step = 0; length > 0; offset += step, length -= step) {
      step = std::min<std::uint64_t>(length, Capacity);
      source.ReadAt(offset, static_cast<std::size_t>(step), piece);
      Write(piece);
    }
  }
  // Writes data at offset, past the buffer: the caller has flushed up to there.
  void WriteAt(std::uint64_t offset, std::string_view data) {
    while (!data.empty()) {
      const ssize_t written = ::pwrite(Descriptor, data.data(), data.size(), static_cast<off_t>(offset));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) Fail(written < 0 ? errno : ENOSPC);
      data.remove_prefix(static_cast<std::size_t>(written));
      offset += static_cast<std::uint64_t>(written);
    }
  }
  // Empties the file, to be written again from its start.
  void Restart() {
    Buffer.clear();
    Written = 0;
    if (::ftruncate(Descriptor, 0) != 0 || ::lseek(Descriptor, 0, SEEK_SET) != 0) Fail(errno);
  }
  void ReadAt(std::uint64_t offset, std::size_t length, std::string& out) const {
    out.resize(length);
    std::size_t done = 0;
    while (done < length) {
      const ssize_t got = ::pread(Descriptor, out.data() + done, length - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) Fail(got < 0 ? errno : EIO);
      done += static_cast<std::size_t>(got);
    }
  }
  // On the disk before the caller gives the file its name.
  void Close() {
    Flush();
    const int descriptor = std::exchange(Descriptor, -1);
    int error = 0;
    if (::fdatasync(descriptor) != 0 && errno != EINVAL) error = errno;
    if (::close(descriptor) != 0 && !error) error = errno;
    if (error) Fail(error);
  }

 private:
  static constexpr std::size_t Capacity = std::size_t{1} << 20;

  void Put(std::string_view data) {
    while (!data.empty()) {
      const ssize_t written = ::write(Descriptor, data.data(), data.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) Fail(written < 0 ? errno : ENOSPC);
      data.remove_prefix(static_cast<std::size_t>(written));
      Written += static_cast<std::uint64_t>(written);
    }
  }
  [[noreturn]] void Fail(int error) const { throw EWriteError(Target, WriteFailureReason(error)); }

  int Descriptor = -1;
  bool CopyInKernel = true;
  std::filesystem::path Target;  // named in messages, also for the unnamed tile file
  std::string Buffer;
  std::uint64_t Written = 0;
};

}  // namespace

// ---------------------------------------------------------------------------

struct TPmtilesWriter::TState {
  // A tile given; once Finish has sorted them, a run of tiles alike.
  struct TEntry {
    std::uint64_t TileId;
    std::uint32_t Content;
    std::uint32_t Run;
  };
  // Distinct bytes, where they are in the data file (Data()).
  struct TContent {
    std::uint64_t Offset;
    std::uint64_t Hash;
    std::uint32_t Length;
  };

  std::filesystem::path Path;
  TTileSet Set;
  // While the tiles come in tile id order they go straight into the output,
  // after room for the header and the root; the first one out of order moves
  // them to Tiles, an unnamed file that Finish copies from in order.
  TFile Output, Tiles;
  bool Direct = true;
  TTileFormats Formats;
  std::vector<TEntry> Entries;
  std::vector<TContent> Contents;
  std::vector<std::uint32_t> Slots;  // open addressing: a content's index + 1, 0 when free
  std::string Scratch;
  int MinZoom = 0;  // of the tiles given
  bool Finished = false;
  // Set while a step runs, and left set when it throws: what follows a half
  // done step would write a damaged file.
  bool Broken = false;

  TFile& Data() { return Direct ? Output : Tiles; }

  void Begin() {
    if (Broken) throw EWriteError(Path, "an earlier write failed");
    Broken = true;
  }

  void Put(int zoom, int x, int y, std::string_view bytes);
  std::uint32_t Store(std::string_view bytes);
  bool Same(const TContent& content, std::string_view bytes);
  void Grow();
  void LeaveOrder();
  std::pair<std::string, std::string> Directories(const std::vector<std::uint64_t>& placed);
  // Each section's offset and length.
  struct TSections {
    std::uint64_t Root[2], Metadata[2], Leaves[2], Data[2];
  };
  std::string HeaderBytes(const TSections& at) const;
};

bool TPmtilesWriter::TState::Same(const TContent& content, std::string_view bytes) {
  // A tile is all in the buffer or all in the file.
  TFile& data = Data();
  if (content.Offset >= data.Flushed()) return data.Pending().substr(content.Offset - data.Flushed(), content.Length) == bytes;
  data.ReadAt(content.Offset, content.Length, Scratch);
  return Scratch == bytes;
}

void TPmtilesWriter::TState::Grow() {
  std::vector<std::uint32_t> grown(std::max<std::size_t>(Slots.size() * 2, 1024), 0);
  const std::size_t mask = grown.size() - 1;
  for (std::uint32_t slot : Slots) {
    if (!slot) continue;
    std::size_t at = Contents[slot - 1].Hash & mask;
    while (grown[at]) at = (at + 1) & mask;
    grown[at] = slot;
  }
  Slots.swap(grown);
}

std::uint32_t TPmtilesWriter::TState::Store(std::string_view bytes) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max())
    throw EWriteError(Path, "a tile is larger than 4 GB");
  if ((Contents.size() + 1) * 2 > Slots.size()) Grow();
  const std::uint64_t hash = HashBytes(bytes);
  const std::size_t mask = Slots.size() - 1;
  std::size_t at = hash & mask;
  for (; Slots[at]; at = (at + 1) & mask) {
    const TContent& content = Contents[Slots[at] - 1];
    if (content.Hash == hash && content.Length == bytes.size() && Same(content, bytes)) return Slots[at] - 1;
  }
  Contents.push_back({Data().Size(), hash, static_cast<std::uint32_t>(bytes.size())});
  Data().Write(bytes);
  Slots[at] = static_cast<std::uint32_t>(Contents.size());
  return static_cast<std::uint32_t>(Contents.size() - 1);
}

std::pair<std::string, std::string> TPmtilesWriter::TState::Directories(const std::vector<std::uint64_t>& placed) {
  const auto entries = [&](std::size_t from, std::size_t count) {
    std::vector<TPmtilesEntry> out;
    out.reserve(count);
    for (std::size_t i = from; i < from + count; ++i) {
      const TEntry& e = Entries[i];
      out.push_back({e.TileId, placed[e.Content], Contents[e.Content].Length, e.Run});
    }
    return out;
  };
  const std::size_t room = RootLimit - HeaderSize;
  std::string root = Gzip(EncodePmtilesDirectory(entries(0, Entries.size())));
  if (root.size() <= room) return {root, {}};
  // Leaves of equal size, larger until the root of their first ids fits.
  for (std::size_t leafSize = 4096;; leafSize *= 2) {
    std::string leaves;
    std::vector<TPmtilesEntry> top;
    for (std::size_t from = 0; from < Entries.size(); from += leafSize) {
      const std::string leaf = Gzip(EncodePmtilesDirectory(entries(from, std::min(leafSize, Entries.size() - from))));
      top.push_back({Entries[from].TileId, leaves.size(), static_cast<std::uint32_t>(leaf.size()), 0});
      leaves += leaf;
    }
    root = Gzip(EncodePmtilesDirectory(top));
    if (root.size() <= room) return {root, leaves};
  }
}

std::string TPmtilesWriter::TState::HeaderBytes(const TSections& at) const {
  std::uint64_t addressed = 0;
  for (const TEntry& e : Entries) addressed += e.Run;
  std::string out(PmtilesMagic);
  out.push_back(3);
  for (const std::uint64_t* section : {at.Root, at.Metadata, at.Leaves, at.Data}) {
    PutLittle(out, section[0], 8);
    PutLittle(out, section[1], 8);
  }
  PutLittle(out, addressed, 8);
  PutLittle(out, Entries.size(), 8);
  PutLittle(out, Contents.size(), 8);
  out.push_back(1);  // clustered: written straight or copied at the end, the tiles are in tile id order
  out.push_back(CompressionGzip);
  out.push_back(CompressionNone);  // tiles as downloaded
  out.push_back(static_cast<char>(PmtilesTileType(Set.Format)));
  out.push_back(static_cast<char>(MinZoom));
  out.push_back(static_cast<char>(Set.Zoom));
  for (const double degrees : {Set.West, Set.South, Set.East, Set.North})
    PutLittle(out, static_cast<std::uint32_t>(Degrees7(degrees)), 4);
  out.push_back(static_cast<char>(Set.Zoom));
  PutLittle(out, static_cast<std::uint32_t>(Degrees7((Set.West + Set.East) / 2)), 4);
  PutLittle(out, static_cast<std::uint32_t>(Degrees7((Set.South + Set.North) / 2)), 4);
  return out;
}

TPmtilesWriter::TPmtilesWriter(std::filesystem::path path, const TTileSet& set) : State(std::make_unique<TState>()) {
  State->Path = std::move(path);
  State->Set = set;
  State->MinZoom = set.Zoom;
  // Read too: a tile's bytes are compared with the ones stored.
  State->Output.Open(::open(State->Path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666), State->Path);
  State->Output.Write(std::string(RootLimit, '\0'));
}

// Tiles out of tile id order: those written move to the tile file, the output
// starts again empty, and Finish puts them in order.
void TPmtilesWriter::TState::LeaveOrder() {
  Tiles.Open(OpenUnnamedFile(Path.parent_path().string()), Path);
  Output.Flush();
  Tiles.CopyFrom(Output, RootLimit, Output.Size() - RootLimit);
  for (TContent& content : Contents) content.Offset -= RootLimit;
  Output.Restart();
  Direct = false;
}

TPmtilesWriter::~TPmtilesWriter() = default;

void TPmtilesWriter::TState::Put(int zoom, int x, int y, std::string_view bytes) {
  if (Finished) throw std::logic_error("tile added to a finished archive");
  if (x < 0 || y < 0 || x >= GridSize(zoom) || y >= GridSize(zoom))
    throw std::invalid_argument("tile outside the zoom's grid");
  Begin();
  const std::uint64_t id = PmtilesTileId(zoom, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
  if (Direct && !Entries.empty() && Entries.back().TileId >= id) LeaveOrder();
  const std::uint32_t content = Store(bytes);
  Formats.Count(bytes);
  Entries.push_back({id, content, 1});
  Broken = false;
}

void TPmtilesWriter::Add(int x, int y, std::optional<std::string_view> bytes) {
  if (bytes) State->Put(State->Set.Zoom, x, y, *bytes);
}

void TPmtilesWriter::AddLevelTile(int zoom, int x, int y, std::string_view bytes) {
  if (zoom == State->Set.Zoom) throw std::logic_error("a level tile of the set's own zoom");
  State->Put(zoom, x, y, bytes);
  State->MinZoom = std::min(State->MinZoom, zoom);
}

void TPmtilesWriter::Finish() {
  TState& s = *State;
  if (s.Finished) return;
  s.Begin();
  s.Data().Flush();
  std::vector<std::uint32_t>().swap(s.Slots);
  if (!s.Direct)
    std::sort(s.Entries.begin(), s.Entries.end(), [](const auto& a, const auto& b) { return a.TileId < b.TileId; });

  // Distinct tiles are placed in the order of their first tile id (tiles
  // written straight are so already); tiles alike at consecutive ids become
  // one entry.
  constexpr std::uint64_t NotPlaced = std::numeric_limits<std::uint64_t>::max();
  std::vector<std::uint64_t> placed(s.Contents.size(), NotPlaced);
  std::uint64_t data = 0;
  std::size_t kept = 0;
  for (const TState::TEntry& e : s.Entries) {
    if (placed[e.Content] == NotPlaced) {
      placed[e.Content] = data;
      data += s.Contents[e.Content].Length;
    }
    if (kept > 0) {
      TState::TEntry& last = s.Entries[kept - 1];
      if (last.TileId + last.Run > e.TileId) throw std::logic_error("tile added twice");
      if (last.Content == e.Content && last.TileId + last.Run == e.TileId) {
        ++last.Run;
        continue;
      }
    }
    s.Entries[kept++] = e;
  }
  s.Entries.resize(kept);

  const auto [root, leaves] = s.Directories(placed);
  // The header's tile type and the metadata's format are the tiles' own.
  s.Set.Format = s.Formats.Majority(s.Set.Format);
  std::string json = "{";
  for (const auto& [name, value] : ArchiveMetadata(s.Set, s.MinZoom)) json += (json.size() > 1 ? "," : "") + JsonText(name) + ":" + JsonText(value);
  const std::string metadata = Gzip(json + "}");

  if (s.Direct) {
    // The tiles lie after the room kept for the header and the root; the
    // rest follows them.
    if (s.Output.Size() != RootLimit + data) throw std::logic_error("tiles written out of their places");
    const std::uint64_t end = RootLimit + data;
    const TState::TSections at{.Root = {HeaderSize, root.size()},
                               .Metadata = {end, metadata.size()},
                               .Leaves = {end + metadata.size(), leaves.size()},
                               .Data = {RootLimit, data}};
    s.Output.Write(metadata);
    s.Output.Write(leaves);
    s.Output.Flush();
    s.Output.WriteAt(0, s.HeaderBytes(at) + root);
  } else {
    const std::uint64_t metadataAt = HeaderSize + root.size(), leavesAt = metadataAt + metadata.size();
    const TState::TSections at{.Root = {HeaderSize, root.size()},
                               .Metadata = {metadataAt, metadata.size()},
                               .Leaves = {leavesAt, leaves.size()},
                               .Data = {leavesAt + leaves.size(), data}};
    s.Output.Write(s.HeaderBytes(at));
    s.Output.Write(root);
    s.Output.Write(metadata);
    s.Output.Write(leaves);
    // Tiles that lie one after the other in the tile file move as one piece.
    std::uint64_t copied = 0, from = 0, length = 0;
    for (const TState::TEntry& e : s.Entries) {
      if (placed[e.Content] != copied) continue;
      const TState::TContent& content = s.Contents[e.Content];
      if (content.Offset != from + length) {
        s.Output.CopyFrom(s.Tiles, from, length);
        from = content.Offset;
        length = 0;
      }
      length += content.Length;
      copied += content.Length;
    }
    s.Output.CopyFrom(s.Tiles, from, length);
  }
  s.Output.Close();
  s.Finished = true;
  s.Broken = false;
}

}  // namespace meridane
