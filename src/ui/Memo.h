#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace meridane {

// The lines of a multi-line text control, kept compactly (one buffer, one offset
// per line) because a log window of a long task holds millions of lines.
// A memo is the working copy of a file: SaveToFile appends only the lines added
// since the last save or load when the file is still exactly as the memo left it,
// and otherwise replaces the file atomically.
class TMemo {
 public:
  TMemo() = default;
  explicit TMemo(std::string_view firstLine) { Add(firstLine); }

  void Add(std::string_view line);
  void Clear();
  // Runs for every line added one by one (not for the lines a load brings).
  std::function<void(std::string_view)> OnAdd;
  std::size_t Count() const { return Ends.size(); }
  std::string_view Line(std::size_t index) const;
  // Every line followed by CR LF: the bytes SaveToFile writes.
  std::string Text() const;

  // Replaces the lines by those of a text file (CR LF, LF or CR line ends).
  // Throws EFileError "Cannot open file %s".
  void LoadFromFile(const std::filesystem::path& path);
  // Writes every line, each ended by CR LF. Throws EFileError "Cannot create file %s".
  void SaveToFile(const std::filesystem::path& path);

  // Bytes held for the lines (text and offsets), for memory measurements.
  std::size_t MemoryUsed() const { return Chars.capacity() + Ends.capacity() * sizeof(Ends[0]); }

 private:
  // What the file looked like right after this memo last wrote or read it.
  struct TFileState {
    std::filesystem::path Path;
    std::uintmax_t Size = 0;
    std::filesystem::file_time_type Modified;
    std::size_t Lines = 0;  // the memo's first Lines lines are in the file
    bool Valid = false;
  };
  void Append(std::string_view line);
  bool FileUnchanged(const std::filesystem::path& path) const;
  void Remember(const std::filesystem::path& path);

  std::string Chars;
  std::vector<std::uint64_t> Ends;  // end of each line in Chars
  TFileState Saved;
};

}  // namespace meridane
