#include "combine/PngWrite.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "combine/ArchiveWrite.h"

namespace meridane {

namespace {

constexpr unsigned char Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Raw bytes a segment aims at: enough for the compressor to find its matches
// (its window is 32 KB), small enough that a strip gives both cores work.
constexpr std::size_t SegmentBytes = 512 * 1024;

enum : unsigned char { FilterNone = 0, FilterSub = 1, FilterUp = 2, FilterAverage = 3, FilterPaeth = 4 };

std::string BigEndian(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// Without branches, so that the compiler can make it vector code.
inline unsigned char PaethOf(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  const int bc = pb <= pc ? b : c;
  return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : bc);
}

// How far a filtered row is from all zeros, bytes taken as signed: the usual
// guess at which filter deflates best.
inline unsigned long Cost(const unsigned char* p, std::size_t n) {
  unsigned long sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += p[i] < 128 ? p[i] : 256 - p[i];
  return sum;
}

// One row into out[0] (the filter) and out[1..n]: of Sub, Up and Paeth the one
// of the least cost; Sub alone without a row above, so that a segment stands
// on its own. scratch holds 2n bytes. Each filter over the whole row is vector
// code, faster than judging on a sample byte by byte.
void FilterRow(const unsigned char* row, const unsigned char* above, std::size_t n, int bpp, unsigned char* out,
               unsigned char* scratch) {
  unsigned char* sub = out + 1;
  for (int i = 0; i < bpp; ++i) sub[i] = row[i];
  for (std::size_t i = bpp; i < n; ++i) sub[i] = static_cast<unsigned char>(row[i] - row[i - bpp]);
  out[0] = FilterSub;
  if (!above) return;
  unsigned char* up = scratch;
  unsigned char* paeth = scratch + n;
  for (std::size_t i = 0; i < n; ++i) up[i] = static_cast<unsigned char>(row[i] - above[i]);
  for (int i = 0; i < bpp; ++i) paeth[i] = static_cast<unsigned char>(row[i] - above[i]);
  for (std::size_t i = bpp; i < n; ++i)
    paeth[i] = static_cast<unsigned char>(row[i] - PaethOf(row[i - bpp], above[i], above[i - bpp]));
  const unsigned long costs[3] = {Cost(sub, n), Cost(up, n), Cost(paeth, n)};
  if (costs[1] < costs[0] && costs[1] <= costs[2]) {
    out[0] = FilterUp;
    std::memcpy(sub, up, n);
  } else if (costs[2] < costs[0] && costs[2] < costs[1]) {
    out[0] = FilterPaeth;
    std::memcpy(sub, paeth, n);
  }
}

// A raw deflate stream per worker thread, reset for every segment.
struct TDeflater {
  z_stream Stream{};
  int Level = -1;
  ~TDeflater() {
    if (Level >= 0) deflateEnd(&Stream);
  }
  void Start(int level) {
    if (Level == level) {
      deflateReset(&Stream);
      return;
    }
    if (Level >= 0) deflateEnd(&Stream);
    Level = -1;
    if (deflateInit2(&Stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
    Level = level;
  }
};

}  // namespace

struct TPngWriter::TSegment {
  std::string Deflated;
  unsigned long Adler = 1;  // of the filtered bytes
  std::size_t Length = 0;   // of the filtered bytes
  std::uint32_t Rows = 0;
  bool Last = false;
};

// Filters and deflates count rows into a segment, on a worker.
TPngWriter::TSegment TPngWriter::Compress(const unsigned char* rows, std::uint32_t count, std::size_t rowBytes, int bpp,
                                          int level, bool last) {
  // Buffers of the worker's own, kept: a segment's worth of fresh memory
  // would cost page faults and clearing every time.
  thread_local std::vector<unsigned char> filtered, scratch;
  filtered.resize((rowBytes + 1) * count);
  scratch.resize(2 * rowBytes);
  for (std::uint32_t r = 0; r < count; ++r) {
    const unsigned char* row = rows + r * rowBytes;
    FilterRow(row, r ? row - rowBytes : nullptr, rowBytes, bpp, filtered.data() + r * (rowBytes + 1), scratch.data());
  }
  return Deflate(filtered, count, level, last);
}

// Deflates filtered rows into a segment, on a worker.
TPngWriter::TSegment TPngWriter::Deflate(std::vector<unsigned char>& filtered, std::uint32_t count, int level,
                                         bool last) {
  thread_local TDeflater deflater;
  thread_local std::vector<unsigned char> deflated;
  TSegment s;
  s.Rows = count, s.Last = last, s.Length = filtered.size();
  s.Adler = adler32_z(1, filtered.data(), filtered.size());
  deflater.Start(level);
  z_stream& z = deflater.Stream;
  deflated.resize(deflateBound(&z, filtered.size()) + 16);
  z.next_in = filtered.data();
  z.avail_in = static_cast<uInt>(filtered.size());
  z.next_out = deflated.data();
  z.avail_out = static_cast<uInt>(deflated.size());
  // A sync flush ends the segment on a byte boundary with the stream still
  // open, so that the next segment's blocks follow it; the last one ends it.
  // (Given deflateBound's room and more, both finish in one call.)
  const int status = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
  if (status != (last ? Z_STREAM_END : Z_OK) || z.avail_in != 0 || z.avail_out == 0)
    throw std::runtime_error("Png: deflate failed");
  s.Deflated.assign(reinterpret_cast<const char*>(deflated.data()), deflated.size() - z.avail_out);
  return s;
}

// An RGB segment as written by Compress read back from the file at old and
// widened to RGBA as it is, filtered: each row keeps its filter, under which
// an alpha of 255 throughout leaves 0 to store, but beside no pixel on the
// left (the row's first) 255 for None and Sub, 128 for Average. Segments
// need nothing from one another, so each is a job of its own.
TPngWriter::TSegment TPngWriter::Widen(int old, long long offset, std::size_t length, std::uint32_t count,
                                       std::uint32_t width, int level) {
  const std::size_t rgb = static_cast<std::size_t>(width) * 3, rgba = static_cast<std::size_t>(width) * 4;
  const auto changed = [] { return std::runtime_error("Cannot read back the picture being written: it changed"); };
  std::string deflated(length, '\0');
  errno = 0;
  if (::pread(old, deflated.data(), length, offset) != static_cast<ssize_t>(length))
    throw std::runtime_error(std::string("Cannot read back the picture being written: ") +
                             std::strerror(errno ? errno : EIO));
  std::vector<unsigned char> filtered((rgb + 1) * count);
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw std::bad_alloc();
  z.next_in = reinterpret_cast<Bytef*>(deflated.data());
  z.avail_in = static_cast<uInt>(length);
  z.next_out = filtered.data();
  z.avail_out = static_cast<uInt>(filtered.size());
  const int status = inflate(&z, Z_SYNC_FLUSH);
  inflateEnd(&z);
  if ((status != Z_OK && status != Z_BUF_ERROR) || z.avail_out != 0) throw changed();
  std::vector<unsigned char> wide((rgba + 1) * count);
  for (std::uint32_t r = 0; r < count; ++r) {
    const unsigned char* in = filtered.data() + r * (rgb + 1);
    unsigned char* out = wide.data() + r * (rgba + 1);
    const unsigned char filter = in[0];
    // Compress filters a segment's first row without the row above.
    if (filter > FilterPaeth || (r == 0 && filter != FilterNone && filter != FilterSub)) throw changed();
    *out++ = filter;
    ++in;
    for (std::size_t x = 0; x < width; ++x, in += 3, out += 4) {
      std::memcpy(out, in, 3);
      out[3] = 0;
    }
    unsigned char* first = wide.data() + r * (rgba + 1) + 1;
    first[3] = filter == FilterNone || filter == FilterSub ? 255 : filter == FilterAverage ? 128 : 0;
    if (filter == FilterNone)
      for (std::size_t x = 1; x < width; ++x) first[x * 4 + 3] = 255;
  }
  return Deflate(wide, count, level, false);
}

TPngWriter::TPngWriter(std::string path, std::uint32_t width, std::uint32_t height, int channels, int level)
    : Path(std::move(path)),
      Width(width),
      Height(height),
      ChannelCount(channels),
      Level(level),
      Workers(std::make_unique<TOrderedWorkers<TSegment>>()) {
  if (width == 0 || height == 0 || (channels != 3 && channels != 4)) throw std::logic_error("Png: no picture");
  Open();
}

TPngWriter::~TPngWriter() {
  Workers.reset();  // no job runs on the strips below
  if (File) std::fclose(File);
}

void TPngWriter::Failed() const { throw EWriteError(Path, WriteFailureReason(errno ? errno : EIO)); }

void TPngWriter::Write(const void* data, std::size_t size) {
  errno = 0;
  if (size && std::fwrite(data, 1, size, File) != size) Failed();
  Offset += static_cast<long long>(size);
}

void TPngWriter::Chunk(const char* type, const std::string& a, const std::string& b, const std::string& c) {
  const std::size_t size = a.size() + b.size() + c.size();
  if (size > 0x7FFFFFFFu) throw std::logic_error("Png: chunk too long");
  Write(BigEndian(static_cast<std::uint32_t>(size)).data(), 4);
  Write(type, 4);
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  for (const std::string* part : {&a, &b, &c}) {
    Write(part->data(), part->size());
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(part->data()), part->size());
  }
  Write(BigEndian(static_cast<std::uint32_t>(crc)).data(), 4);
}

// Creates the file with the signature and the header.
void TPngWriter::Open() {
  errno = 0;
  File = std::fopen(Path.c_str(), "wb");
  if (!File) Failed();
  Offset = 0;
  Write(Signature, sizeof Signature);
  // Colour type 2 is RGB, 6 RGBA; no interlace.
  const char tail[5] = {8, static_cast<char>(ChannelCount == 4 ? 6 : 2), 0, 0, 0};
  Chunk("IHDR", BigEndian(Width) + BigEndian(Height) + std::string(tail, 5));
}

void TPngWriter::Add(std::vector<unsigned char>&& rows) {
  const std::size_t rowBytes = RowBytes();
  if (rows.empty() || rows.size() % rowBytes != 0 || RowsSubmitted + rows.size() / rowBytes > Height)
    throw std::logic_error("Png: rows do not fit the picture");
  const auto count = static_cast<std::uint32_t>(rows.size() / rowBytes);
  auto strip = std::make_shared<std::vector<unsigned char>>(std::move(rows));
  const std::uint32_t perSegment = static_cast<std::uint32_t>(std::max<std::size_t>(1, SegmentBytes / rowBytes));
  for (std::uint32_t first = 0; first < count; first += perSegment)
    Submit(strip, first, std::min(perSegment, count - first));
  // The strip before this one is written while this one waits its turn.
  while (RowsWritten + count < RowsSubmitted) WriteNext();
  Previous = std::exchange(Current, std::move(strip));
}

std::vector<unsigned char> TPngWriter::Spare() {
  // Once its rows are written, no job holds the strip before the last.
  if (Previous && Previous.use_count() == 1) {
    std::vector<unsigned char> spare = std::move(*Previous);
    Previous.reset();
    return spare;
  }
  return {};
}

void TPngWriter::Submit(std::shared_ptr<const std::vector<unsigned char>> rows, std::size_t first,
                        std::uint32_t count) {
  const bool last = (RowsSubmitted += count) == Height;
  Workers->Submit(
      [rows = std::move(rows), first, count, last, rowBytes = RowBytes(), bpp = ChannelCount, level = Level] {
        return Compress(rows->data() + first * rowBytes, count, rowBytes, bpp, level, last);
      });
}

// The oldest segment into the file as an IDAT chunk, the stream's header
// before the first and its checksum after the last.
void TPngWriter::WriteNext() {
  TSegment s = Workers->Next();
  std::string head, tail;
  if (RowsWritten == 0) {
    const int flevel = Level <= 1 ? 0 : Level <= 5 ? 1 : Level == 6 ? 2 : 3;
    const int cmf = 0x78, flg = flevel << 6;
    head = {static_cast<char>(cmf), static_cast<char>(flg + 31 - (cmf * 256 + flg) % 31)};
  }
  Adler = adler32_combine(Adler, s.Adler, static_cast<z_off_t>(s.Length));
  if (s.Last) tail = BigEndian(static_cast<std::uint32_t>(Adler));
  if (s.Deflated.size() + 8 > 0x7FFFFFFFu) throw std::logic_error("Png: segment too long");
  Written.push_back({Offset + 8 + static_cast<long long>(head.size()), s.Deflated.size(), s.Rows});
  Chunk("IDAT", head, s.Deflated, tail);
  RowsWritten += s.Rows;
}

void TPngWriter::ToRgba() {
  if (ChannelCount == 4) return;
  if (RowsSubmitted == Height) throw std::logic_error("Png: too late for RGBA");
  while (Workers->Size() > 0) WriteNext();
  Previous.reset(), Current.reset();
  errno = 0;
  if (std::fflush(File) != 0) Failed();
  // The new file takes the name; the old one lives on through its descriptor
  // until read, and goes with it.
  const int old = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (old < 0) Failed();
  struct TCloser {
    int Fd;
    ~TCloser() { ::close(Fd); }
  } closer{old};
  std::fclose(std::exchange(File, nullptr));
  if (::unlink(Path.c_str()) != 0) Failed();
  const std::vector<TWritten> written = std::move(Written);
  Written.clear();
  ChannelCount = 4, RowsSubmitted = RowsWritten = 0, Adler = 1;
  Open();

  // Every segment on a worker; a few of them at a time, in order.
  try {
    for (const TWritten& w : written) {
      RowsSubmitted += w.Rows;
      Workers->Submit(
          [old, w, width = Width, level = Level] { return Widen(old, w.Offset, w.Length, w.Rows, width, level); });
      while (Workers->Size() > 4) WriteNext();
    }
    while (Workers->Size() > 0) WriteNext();
  } catch (...) {
    Workers = std::make_unique<TOrderedWorkers<TSegment>>();  // no job reads old once it is closed
    throw;
  }
}

void TPngWriter::Finish() {
  if (RowsSubmitted != Height) throw std::logic_error("Png: rows missing at the end");
  while (Workers->Size() > 0) WriteNext();
  Chunk("IEND", {});
  errno = 0;
  if (std::fclose(std::exchange(File, nullptr)) != 0) Failed();
}

}  // namespace meridane
