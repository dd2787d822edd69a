#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "task/Descriptor.h"

namespace meridane {

// Text files of the task: lines of bytes, each ended by CR LF.

// Splits at CR LF, LF or a lone CR; a last line without an ending still counts.
void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& line);
std::vector<std::string> SplitLines(std::string_view text);
std::string JoinLines(const std::vector<std::string>& lines);

// Every file of a task (and the cookie file) is opened for reading here, as its
// tiles are: a regular file only, opened without waiting, since a pipe or a
// device under such a name would hold the open or the reads for ever. Throws EFileError "Cannot
// open file %s" or "Not a regular file: %s".
TDescriptor OpenRegularFile(const std::filesystem::path& path);
// The whole file, opened by OpenRegularFile. Throws EFileError as it does, and
// "File larger than N MB: %s" beyond limit bytes.
std::string ReadRegularFile(const std::filesystem::path& path, std::uintmax_t limit);

std::vector<std::string> ReadLines(const std::filesystem::path& path);
// Replaces the file atomically.
void WriteLines(const std::filesystem::path& path, const std::vector<std::string>& lines);

// The lines of a file one by one, split as ForEachLine splits them, with one
// block of the file in memory: a list of millions of lines is never held whole.
class TLineReader {
 public:
  // Throws EFileError "Cannot open file %s".
  explicit TLineReader(const std::filesystem::path& path);
  // The next line without its end; false after the last. Throws EFileError
  // "Cannot open file %s" when the file cannot be read.
  bool Next(std::string& line);

 private:
  bool Fill();

  std::filesystem::path Path;
  TDescriptor In;
  std::string Block;
  std::size_t Position = 0;
  bool AfterCr = false;  // a LF next ends nothing: it is the CR's
};

}  // namespace meridane
