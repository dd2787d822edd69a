#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace meridane {

// A zip file written entry by entry: stored or deflated entries, no 64-bit
// extension (the file stays under 4 GB and 65535 entries, else a write
// error). The file may be closed between entries (Pause) so that a writer
// filling many zips at once holds one open file at a time; the directory
// waits in memory until Finish. Errors throw EWriteError naming the file.
class TZipWriter {
 public:
  explicit TZipWriter(std::filesystem::path path);
  ~TZipWriter();
  TZipWriter(const TZipWriter&) = delete;
  TZipWriter& operator=(const TZipWriter&) = delete;

  // Creates the file at the first entry, replacing what is there.
  void Add(std::string_view name, std::string_view data, bool deflate);
  // Closes the file until the next Add or Finish.
  void Pause();
  // Writes the directory and closes the file.
  void Finish();

  bool Started() const { return Begun; }
  const std::filesystem::path& Path() const { return File; }

 private:
  struct TEntry {
    std::string Name;
    std::uint32_t Crc = 0, Packed = 0, Size = 0, Offset = 0;
    std::uint16_t Method = 0;
  };
  void Open();
  void Write(std::string_view bytes);
  [[noreturn]] void Failed(int error);

  std::filesystem::path File;
  std::FILE* Out = nullptr;
  std::vector<TEntry> Entries;
  std::uint64_t Offset = 0;
  std::uint16_t Time = 0, Date = 0;  // the entries' modification time, DOS style
  bool Begun = false;
};

}  // namespace meridane
