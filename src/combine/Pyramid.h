#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tiles/Decode.h"

namespace meridane {

// A file open for reading and writing in folder ("": the current one) that
// has no name, so nothing is left of it however the program ends; where the
// file system has no unnamed files, a named one removed at once. -1, with
// errno set, when neither can be made.
int OpenUnnamedFile(const std::string& folder);

// A file for data too big to keep in memory, in a given folder; it has no name
// (removed as soon as it is opened), so nothing is left behind whatever happens.
class TScratchFile {
 public:
  explicit TScratchFile(const std::string& folder);
  ~TScratchFile();
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;

  // Adds bytes at the end and answers where they begin.
  unsigned long long Append(std::string_view bytes);
  // Sets aside size bytes at the end, for Write and Read, and answers where.
  unsigned long long Reserve(unsigned long long size);
  void Write(unsigned long long offset, const void* data, std::size_t size);
  void Read(unsigned long long offset, void* data, std::size_t size) const;
  // For copies the kernel makes (copy_file_range).
  int Descriptor() const { return Fd; }

 private:
  std::string Folder;
  int Fd = -1;
  unsigned long long End = 0;
};

// The overviews of an image made of 256x256 tiles, each half the size of the
// one below, down to the first whose larger side is at most 256 pixels. The
// image's tiles come row by row from the top, left to right; each overview's
// tiles come out in the same order as soon as they are complete. A level
// keeps the upper halves of one row of its tiles: in memory within the given
// budget, beyond it in a scratch file in scratchFolder.
class TPyramid {
 public:
  // level (1 = half size), row and column of a completed overview tile; its
  // pixels outside the overview are transparent.
  using TEmit = std::function<void(int level, long long row, long long column, const TRgba& pixels)>;

  TPyramid(long long width, long long height, std::size_t memoryBudget, const std::string& scratchFolder);
  ~TPyramid();

  // How many overviews, and the size in pixels of level 0 (the image) up to Levels().
  int Levels() const;
  long long Width(int level) const;
  long long Height(int level) const;

  // Takes the image's tile at row and column.
  void Add(long long row, long long column, const TRgba& pixels, const TEmit& emit);

 private:
  class TLevel;
  void Feed(std::size_t level, long long row, long long column, const TRgba& pixels, const TEmit& emit);
  TScratchFile* ScratchFile();  // opened when a level first needs it

  long long BaseWidth, BaseHeight;
  std::string ScratchFolder;
  std::unique_ptr<TScratchFile> Scratch;
  std::vector<std::unique_ptr<TLevel>> Overviews;
};

// The overviews' sizes, halved (rounding up) until the larger side is at most 256.
std::vector<std::pair<long long, long long>> OverviewSizes(long long width, long long height);

}  // namespace meridane
