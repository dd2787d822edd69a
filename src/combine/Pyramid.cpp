#include "combine/Pyramid.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "combine/ArchiveWrite.h"

namespace meridane {

namespace {

constexpr int Half = TileSide / 2;
constexpr std::size_t HalfTileBytes = TilePixels * 4 / 2;

[[noreturn]] void ScratchFailed(const std::string& folder) {
  // Part of writing the output: the combiner names the output in the message.
  throw EWriteError(folder, WriteFailureReason(errno));
}

}  // namespace

int OpenUnnamedFile(const std::string& folder) {
  const std::string in = folder.empty() ? "." : folder;
  const int unnamed = ::open(in.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) return unnamed;
  // Not every file system takes O_TMPFILE: a named file, removed at once.
  std::string name = in + "/.meridane-scratch-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

TScratchFile::TScratchFile(const std::string& folder) : Folder(folder.empty() ? "." : folder) {
  Fd = OpenUnnamedFile(Folder);
  if (Fd < 0) ScratchFailed(Folder);
}

TScratchFile::~TScratchFile() { ::close(Fd); }

unsigned long long TScratchFile::Append(std::string_view bytes) {
  const unsigned long long at = Reserve(bytes.size());
  Write(at, bytes.data(), bytes.size());
  return at;
}

unsigned long long TScratchFile::Reserve(unsigned long long size) {
  const unsigned long long at = End;
  End += size;
  return at;
}

void TScratchFile::Write(unsigned long long offset, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(Fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      ScratchFailed(Folder);
    }
    p += n, offset += static_cast<unsigned long long>(n), size -= static_cast<std::size_t>(n);
  }
}

void TScratchFile::Read(unsigned long long offset, void* data, std::size_t size) const {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(Fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ScratchFailed(Folder);
    if (n == 0) {
      std::memset(p, 0, size);  // set aside and never written
      return;
    }
    p += n, offset += static_cast<unsigned long long>(n), size -= static_cast<std::size_t>(n);
  }
}

std::vector<std::pair<long long, long long>> OverviewSizes(long long width, long long height) {
  std::vector<std::pair<long long, long long>> sizes;
  while (std::max(width, height) > TileSide) {
    width = (width + 1) / 2, height = (height + 1) / 2;
    sizes.emplace_back(width, height);
  }
  return sizes;
}

// One overview, made from the level below it.
class TPyramid::TLevel {
 public:
  TLevel(long long sourceWidth, long long sourceHeight, std::size_t& budget, TPyramid& owner)
      : SourceWidth(sourceWidth), SourceHeight(sourceHeight),
        SourceColumns((sourceWidth + TileSide - 1) / TileSide), SourceRows((sourceHeight + TileSide - 1) / TileSide),
        Columns((SourceColumns + 1) / 2) {
    const unsigned long long bytes = static_cast<unsigned long long>(Columns) * HalfTileBytes;
    if (bytes <= budget) {
      budget -= static_cast<std::size_t>(bytes);
      Halves.resize(static_cast<std::size_t>(bytes));
    } else {
      Spill = owner.ScratchFile();
      SpillAt = Spill->Reserve(bytes);
    }
  }

  // Takes the source tile at row and column; answers whether Work is a completed tile.
  bool Add(long long row, long long column, const TRgba& pixels) {
    const long long j = column / 2;
    const bool lower = row % 2 == 1;
    if (column % 2 == 0) {
      Work.assign(TilePixels * 4, 0);
      if (lower) LoadUpper(j);
    }
    Reduce(row, column, pixels, (column % 2) * Half, lower ? Half : 0);
    if (column % 2 == 0 && column != SourceColumns - 1) return false;
    if (lower || row == SourceRows - 1) return true;
    StoreUpper(j);
    return false;
  }

  TRgba Work;

 private:
  // Halves the source tile into the quarter of Work at (left, top), each
  // pixel the mean of the up to four source pixels inside the source image,
  // weighted by their alpha.
  void Reduce(long long row, long long column, const TRgba& pixels, int left, int top) {
    const long long validWidth = std::min<long long>(TileSide, SourceWidth - column * TileSide);
    const long long validHeight = std::min<long long>(TileSide, SourceHeight - row * TileSide);
    for (int oy = 0; oy < Half && 2 * oy < validHeight; ++oy) {
      const int sy = 2 * oy;
      const int rows = sy + 1 < validHeight ? 2 : 1;
      unsigned char* out = Work.data() + (static_cast<std::size_t>(top + oy) * TileSide + left) * 4;
      for (int ox = 0; ox < Half && 2 * ox < validWidth; ++ox, out += 4) {
        const int sx = 2 * ox;
        const int cols = sx + 1 < validWidth ? 2 : 1;
        unsigned alpha = 0, red = 0, green = 0, blue = 0;
        for (int dy = 0; dy < rows; ++dy)
          for (int dx = 0; dx < cols; ++dx) {
            const unsigned char* p = pixels.data() + (static_cast<std::size_t>(sy + dy) * TileSide + sx + dx) * 4;
            alpha += p[3], red += p[0] * p[3], green += p[1] * p[3], blue += p[2] * p[3];
          }
        const unsigned n = static_cast<unsigned>(rows * cols);
        out[3] = static_cast<unsigned char>((alpha + n / 2) / n);
        if (alpha > 0) {
          out[0] = static_cast<unsigned char>((red + alpha / 2) / alpha);
          out[1] = static_cast<unsigned char>((green + alpha / 2) / alpha);
          out[2] = static_cast<unsigned char>((blue + alpha / 2) / alpha);
        }
      }
    }
  }

  void StoreUpper(long long j) {
    const auto at = static_cast<std::size_t>(j) * HalfTileBytes;
    if (Spill)
      Spill->Write(SpillAt + at, Work.data(), HalfTileBytes);
    else
      std::memcpy(Halves.data() + at, Work.data(), HalfTileBytes);
  }

  void LoadUpper(long long j) {
    const auto at = static_cast<std::size_t>(j) * HalfTileBytes;
    if (Spill)
      Spill->Read(SpillAt + at, Work.data(), HalfTileBytes);
    else
      std::memcpy(Work.data(), Halves.data() + at, HalfTileBytes);
  }

  long long SourceWidth, SourceHeight, SourceColumns, SourceRows, Columns;
  std::vector<unsigned char> Halves;
  TScratchFile* Spill = nullptr;
  unsigned long long SpillAt = 0;
};

TPyramid::TPyramid(long long width, long long height, std::size_t memoryBudget, const std::string& scratchFolder)
    : BaseWidth(width), BaseHeight(height), ScratchFolder(scratchFolder) {
  long long w = width, h = height;
  for (const auto& [ow, oh] : OverviewSizes(width, height)) {
    Overviews.push_back(std::make_unique<TLevel>(w, h, memoryBudget, *this));
    w = ow, h = oh;
  }
}

TPyramid::~TPyramid() = default;

TScratchFile* TPyramid::ScratchFile() {
  if (!Scratch) Scratch = std::make_unique<TScratchFile>(ScratchFolder);
  return Scratch.get();
}

int TPyramid::Levels() const { return static_cast<int>(Overviews.size()); }

long long TPyramid::Width(int level) const {
  return level == 0 ? BaseWidth : OverviewSizes(BaseWidth, BaseHeight)[static_cast<std::size_t>(level - 1)].first;
}

long long TPyramid::Height(int level) const {
  return level == 0 ? BaseHeight : OverviewSizes(BaseWidth, BaseHeight)[static_cast<std::size_t>(level - 1)].second;
}

void TPyramid::Add(long long row, long long column, const TRgba& pixels, const TEmit& emit) {
  Feed(0, row, column, pixels, emit);
}

void TPyramid::Feed(std::size_t level, long long row, long long column, const TRgba& pixels, const TEmit& emit) {
  if (level >= Overviews.size()) return;
  TLevel& next = *Overviews[level];
  if (!next.Add(row, column, pixels)) return;
  const TRgba done = std::move(next.Work);
  emit(static_cast<int>(level) + 1, row / 2, column / 2, done);
  Feed(level + 1, row / 2, column / 2, done, emit);
}

}  // namespace meridane
