#include "combine/Pmtiles.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <utility>

#include "combine/Pyramid.h"
#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"

namespace meridane {

namespace {

constexpr std::size_t HeaderSize = 127;
constexpr int CompressionNone = 1, CompressionGzip = 2;
constexpr int TypeUnknown = 0, TypePng = 2, TypeJpeg = 3;
// Directories and metadata of other writers may be large, but not without end.
constexpr std::size_t MaxInflated = std::size_t{1} << 28;

void PutVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

void PutLittle(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t Little(std::string_view bytes, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::int32_t Degrees7(double degrees) { return static_cast<std::int32_t>(std::lround(degrees * 1e7)); }

std::string Gzip(std::string_view data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::bad_alloc();
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int done = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (done != Z_STREAM_END) throw std::bad_alloc();
  return out;
}

std::string JsonText(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The top level of a JSON object: texts and numbers kept, other values skipped.
// Returns nothing for text that is not such an object.
class TJsonReader {
 public:
  explicit TJsonReader(std::string_view text) : Text(text) {}

  std::optional<std::map<std::string, std::string>> Object() {
    std::map<std::string, std::string> values;
    if (!Eat('{')) return std::nullopt;
    if (Eat('}')) return values;
    do {
      std::string key;
      if (!String(key) || !Eat(':')) return std::nullopt;
      Space();
      if (Peek() == '"') {
        if (!String(values[key])) return std::nullopt;
      } else if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) {
        const std::size_t start = At;
        if (!Skip()) return std::nullopt;
        values[key] = std::string(Text.substr(start, At - start));
      } else if (!Skip()) {
        return std::nullopt;
      }
    } while (Eat(','));
    return Eat('}') ? std::optional(values) : std::nullopt;
  }

 private:
  char Peek() const { return At < Text.size() ? Text[At] : '\0'; }
  void Space() {
    while (At < Text.size() && (Text[At] == ' ' || Text[At] == '\t' || Text[At] == '\n' || Text[At] == '\r')) ++At;
  }
  bool Eat(char c) {
    Space();
    if (Peek() != c) return false;
    ++At;
    return true;
  }
  bool Hex4(unsigned& value) {
    if (At + 4 > Text.size()) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = Text[At++];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
  }
  static void Utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xc0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xe0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    }
  }
  bool String(std::string& out) {
    if (!Eat('"')) return false;
    while (At < Text.size()) {
      const char c = Text[At++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (At >= Text.size()) return false;
      const char kind = Text[At++];
      unsigned code = 0;
      switch (kind) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u':
          if (!Hex4(code)) return false;
          // A pair of surrogates is one character.
          if (code >= 0xd800 && code < 0xdc00 && Text.substr(At, 2) == "\\u") {
            At += 2;
            unsigned low = 0;
            if (!Hex4(low) || low < 0xdc00 || low >= 0xe000) return false;
            code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
          }
          Utf8(out, code);
          break;
        default: out += kind;
      }
    }
    return false;
  }
  // Any value, nested ones too.
  bool Skip() {
    Space();
    const char c = Peek();
    if (c == '"') {
      std::string ignored;
      return String(ignored);
    }
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++At;
      if (Eat(close)) return true;
      do {
        if (c == '{') {
          std::string ignored;
          if (!String(ignored) || !Eat(':')) return false;
        }
        if (!Skip()) return false;
      } while (Eat(','));
      return Eat(close);
    }
    const std::size_t start = At;
    while (At < Text.size() && Text[At] != '\0' && std::strchr("+-.0123456789eEtruefalsn", Text[At])) ++At;
    return At > start;
  }

  std::string_view Text;
  std::size_t At = 0;
};

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

std::uint64_t PmtilesTileId(int zoom, std::uint32_t x, std::uint32_t y) {
  // (4^zoom - 1) / 3 tiles of the lower zooms.
  const std::uint64_t before = ((std::uint64_t{1} << (2 * zoom)) - 1) / 3;
  std::uint64_t index = 0;
  for (std::uint64_t s = (std::uint64_t{1} << zoom) >> 1; s > 0; s >>= 1) {
    const std::uint64_t rx = (x & s) ? 1 : 0;
    const std::uint64_t ry = (y & s) ? 1 : 0;
    index += s * s * ((3 * rx) ^ ry);
    // The quadrant turned so the curve enters it where the next one starts.
    if (ry == 0) {
      if (rx == 1) {
        x = static_cast<std::uint32_t>(s - 1 - (x & (s - 1)));
        y = static_cast<std::uint32_t>(s - 1 - (y & (s - 1)));
      }
      std::swap(x, y);
    }
  }
  return before + index;
}

std::string EncodePmtilesDirectory(std::span<const TPmtilesEntry> entries) {
  std::string out;
  out.reserve(entries.size() * 6 + 8);
  PutVarint(out, entries.size());
  std::uint64_t last = 0;
  for (const TPmtilesEntry& e : entries) {
    PutVarint(out, e.TileId - last);
    last = e.TileId;
  }
  for (const TPmtilesEntry& e : entries) PutVarint(out, e.RunLength);
  for (const TPmtilesEntry& e : entries) PutVarint(out, e.Length);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const bool follows = i > 0 && entries[i].Offset == entries[i - 1].Offset + entries[i - 1].Length;
    PutVarint(out, follows ? 0 : entries[i].Offset + 1);
  }
  return out;
}

std::vector<TPmtilesEntry> DecodePmtilesDirectory(std::string_view bytes) {
  std::size_t at = 0;
  const auto varint = [&] {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at >= bytes.size()) throw std::runtime_error("damaged directory");
      const auto byte = static_cast<unsigned char>(bytes[at++]);
      value |= std::uint64_t{byte & 0x7fu} << shift;
      if (!(byte & 0x80)) return value;
    }
    throw std::runtime_error("damaged directory");
  };
  const std::uint64_t count = varint();
  // Every entry takes at least four bytes.
  if (count > bytes.size() / 4) throw std::runtime_error("damaged directory");
  std::vector<TPmtilesEntry> entries(count);
  std::uint64_t id = 0;
  for (TPmtilesEntry& e : entries) e.TileId = id += varint();
  const auto small = [&] {
    const std::uint64_t value = varint();
    if (value > std::numeric_limits<std::uint32_t>::max()) throw std::runtime_error("damaged directory");
    return static_cast<std::uint32_t>(value);
  };
  for (TPmtilesEntry& e : entries) e.RunLength = small();
  for (TPmtilesEntry& e : entries) e.Length = small();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint64_t value = varint();
    if (value == 0 && i == 0) throw std::runtime_error("damaged directory");
    entries[i].Offset = value == 0 ? entries[i - 1].Offset + entries[i - 1].Length : value - 1;
  }
  if (at != bytes.size()) throw std::runtime_error("damaged directory");
  return entries;
}

// ---------------------------------------------------------------------------

struct TPmtilesWriter::TState {
  // A tile given; once Finish has sorted them, a run of tiles alike.
  struct TEntry {
    std::uint64_t TileId;
    std::uint32_t Content;
    std::uint32_t Run;
  };
  // Distinct bytes, where they wait in the tile file.
  struct TContent {
    std::uint64_t Offset;
    std::uint64_t Hash;
    std::uint32_t Length;
  };

  std::filesystem::path Path;
  TTileSet Set;
  TFile Output, Tiles;
  std::vector<TEntry> Entries;
  std::vector<TContent> Contents;
  std::vector<std::uint32_t> Slots;  // open addressing: a content's index + 1, 0 when free
  std::string Scratch;
  bool Finished = false;
  // Set while a step runs, and left set when it throws: what follows a half
  // done step would write a damaged file.
  bool Broken = false;

  void Begin() {
    if (Broken) throw EWriteError(Path, "an earlier write failed");
    Broken = true;
  }

  std::uint32_t Store(std::string_view bytes);
  bool Same(const TContent& content, std::string_view bytes);
  void Grow();
  std::pair<std::string, std::string> Directories(const std::vector<std::uint64_t>& placed);
  std::string HeaderBytes(std::size_t root, std::size_t metadata, std::size_t leaves, std::uint64_t data) const;
};

bool TPmtilesWriter::TState::Same(const TContent& content, std::string_view bytes) {
  // A tile is all in the buffer or all in the file.
  if (content.Offset >= Tiles.Flushed()) return Tiles.Pending().substr(content.Offset - Tiles.Flushed(), content.Length) == bytes;
  Tiles.ReadAt(content.Offset, content.Length, Scratch);
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
  const std::uint64_t hash = std::hash<std::string_view>()(bytes);
  const std::size_t mask = Slots.size() - 1;
  std::size_t at = hash & mask;
  for (; Slots[at]; at = (at + 1) & mask) {
    const TContent& content = Contents[Slots[at] - 1];
    if (content.Hash == hash && content.Length == bytes.size() && Same(content, bytes)) return Slots[at] - 1;
  }
  Contents.push_back({Tiles.Size(), hash, static_cast<std::uint32_t>(bytes.size())});
  Tiles.Write(bytes);
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

std::string TPmtilesWriter::TState::HeaderBytes(std::size_t root, std::size_t metadata, std::size_t leaves,
                                                std::uint64_t data) const {
  std::uint64_t addressed = 0;
  for (const TEntry& e : Entries) addressed += e.Run;
  std::string out(PmtilesMagic);
  out.push_back(3);
  const std::uint64_t sections[] = {HeaderSize, root, HeaderSize + root, metadata, HeaderSize + root + metadata, leaves,
                                    HeaderSize + root + metadata + leaves, data};
  for (const std::uint64_t value : sections) PutLittle(out, value, 8);
  PutLittle(out, addressed, 8);
  PutLittle(out, Entries.size(), 8);
  PutLittle(out, Contents.size(), 8);
  out.push_back(1);  // clustered: tiles in tile id order
  out.push_back(CompressionGzip);
  out.push_back(CompressionNone);  // tiles as downloaded
  out.push_back(Set.Format == "png" ? TypePng : Set.Format == "jpg" ? TypeJpeg : TypeUnknown);
  out.push_back(static_cast<char>(Set.Zoom));
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
  State->Output.Open(::open(State->Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666), State->Path);
  State->Tiles.Open(OpenUnnamedFile(State->Path.parent_path().string()), State->Path);
}

TPmtilesWriter::~TPmtilesWriter() = default;

void TPmtilesWriter::Add(int x, int y, std::optional<std::string_view> bytes) {
  if (!bytes) return;
  TState& s = *State;
  if (s.Finished) throw std::logic_error("tile added to a finished archive");
  if (x < 0 || y < 0 || x >= GridSize(s.Set.Zoom) || y >= GridSize(s.Set.Zoom))
    throw std::invalid_argument("tile outside the zoom's grid");
  s.Begin();
  const std::uint32_t content = s.Store(*bytes);
  s.Entries.push_back({PmtilesTileId(s.Set.Zoom, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)), content, 1});
  s.Broken = false;
}

void TPmtilesWriter::Finish() {
  TState& s = *State;
  if (s.Finished) return;
  s.Begin();
  s.Tiles.Flush();
  std::vector<std::uint32_t>().swap(s.Slots);
  std::sort(s.Entries.begin(), s.Entries.end(), [](const auto& a, const auto& b) { return a.TileId < b.TileId; });

  // Distinct tiles are placed in the order of their first tile id; tiles
  // alike at consecutive ids become one entry.
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
  std::string json = "{";
  for (const auto& [name, value] : ArchiveMetadata(s.Set)) json += (json.size() > 1 ? "," : "") + JsonText(name) + ":" + JsonText(value);
  const std::string metadata = Gzip(json + "}");

  s.Output.Write(s.HeaderBytes(root.size(), metadata.size(), leaves.size(), data));
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
  s.Output.Close();
  s.Finished = true;
  s.Broken = false;
}

// ---------------------------------------------------------------------------

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
      Meta = TJsonReader(json).Object().value_or(std::map<std::string, std::string>());
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
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) throw std::bad_alloc();
  std::string out(std::max<std::size_t>(bytes.size() * 4, 4096), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(bytes.data());
  stream.avail_in = static_cast<uInt>(bytes.size());
  int result = Z_OK;
  while (result == Z_OK) {
    if (stream.total_out == out.size()) {
      if (out.size() >= MaxInflated) break;
      out.resize(out.size() * 2);
    }
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + stream.total_out);
    stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
    result = inflate(&stream, Z_NO_FLUSH);
  }
  out.resize(stream.total_out);
  inflateEnd(&stream);
  if (result != Z_STREAM_END) Damaged();
  return out;
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
