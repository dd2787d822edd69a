#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "combine/Workers.h"

namespace meridane {

// The zlib level of a PNG picture. On 2,025 map-like tiles level 3 took half
// the processor time of level 6 for a file 19% larger; level 2 saved little
// more time for a file 14% larger than level 3's.
inline constexpr int PngLevel = 3;

// A PNG of 8-bit RGB or RGBA rows, compressed on every core: the rows are cut
// into segments, each filtered and deflated on its own by a worker (a fresh
// compressor ending on a byte boundary, its first row filtered without the row
// above), and the segments are written in order as the IDAT chunks of one zlib
// stream whose checksum is combined from theirs. At most two strips are held.
// Errors throw EWriteError naming path.
class TPngWriter {
 public:
  TPngWriter(std::string path, std::uint32_t width, std::uint32_t height, int channels, int level = PngLevel);
  ~TPngWriter();
  TPngWriter(const TPngWriter&) = delete;
  TPngWriter& operator=(const TPngWriter&) = delete;

  int Channels() const { return ChannelCount; }
  std::size_t RowBytes() const { return static_cast<std::size_t>(Width) * ChannelCount; }

  // The next rows of the picture, a whole number of them; the writer holds
  // them until compressed. Returns once the strip before them is in the file.
  void Add(std::vector<unsigned char>&& rows);
  // A buffer free for the next strip: one that was written, or empty.
  std::vector<unsigned char> Spare();

  // From now on RGBA: the rows written so far are read back from the file,
  // given an opaque alpha and written again, in a new file under the same name
  // (the old one is read through a descriptor until then). Before the last row.
  void ToRgba();

  // Writes the rest and the end, and closes the file. Every row must be there.
  void Finish();

 private:
  struct TSegment;
  struct TWritten {
    long long Offset = 0;  // of the segment's deflated bytes in the file
    std::size_t Length = 0;
    std::uint32_t Rows = 0;
  };

  static TSegment Compress(const unsigned char* rows, std::uint32_t count, std::size_t rowBytes, int bpp, int level,
                           bool last);
  static TSegment Deflate(std::vector<unsigned char>& filtered, std::uint32_t count, int level, bool last);
  static TSegment Widen(int old, long long offset, std::size_t length, std::uint32_t count, std::uint32_t width,
                        int level);
  [[noreturn]] void Failed() const;
  void Open();
  void Submit(std::shared_ptr<const std::vector<unsigned char>> rows, std::size_t first, std::uint32_t count);
  void WriteNext();
  void Write(const void* data, std::size_t size);
  void Chunk(const char* type, const std::string& a, const std::string& b = {}, const std::string& c = {});

  std::string Path;
  std::uint32_t Width, Height;
  int ChannelCount, Level;
  std::FILE* File = nullptr;
  long long Offset = 0;  // bytes written to File
  std::uint32_t RowsSubmitted = 0, RowsWritten = 0;
  unsigned long Adler = 1;                                        // of the stream's uncompressed bytes so far
  std::vector<TWritten> Written;                                  // where each segment went, for ToRgba
  std::shared_ptr<std::vector<unsigned char>> Previous, Current;  // the strips in flight
  std::unique_ptr<TOrderedWorkers<TSegment>> Workers;
};

}  // namespace meridane
