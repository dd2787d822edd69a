#include "task/TextFile.h"

#include <sys/stat.h>

#include <limits>

#include "config/AtomicFile.h"

namespace meridane {

void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& line) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) {
      line(text.substr(begin));
      break;
    }
    line(text.substr(begin, end - begin));
    begin = end + 1;
    if (text[end] == '\r' && begin < text.size() && text[begin] == '\n') ++begin;
  }
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  ForEachLine(text, [&lines](std::string_view l) { lines.emplace_back(l); });
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines) (text += line) += "\r\n";
  return text;
}

namespace {

// Up to size bytes, fewer only at the end of the file. Throws EFileError
// "Cannot open file %s".
std::size_t ReadSome(int descriptor, char* data, std::size_t size, const std::filesystem::path& path) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(descriptor, data + done, size - done);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EFileError(CannotOpenMessage(path));
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

TDescriptor OpenRegularFile(const std::filesystem::path& path) {
  TDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Get() < 0) throw EFileError(CannotOpenMessage(path));
  struct stat opened {};
  if (::fstat(file.Get(), &opened) != 0) throw EFileError(CannotOpenMessage(path));
  if (!S_ISREG(opened.st_mode)) throw EFileError("Not a regular file: " + path.string());
  return file;
}

std::string ReadRegularFile(const std::filesystem::path& path, std::uintmax_t limit) {
  const TDescriptor file = OpenRegularFile(path);
  std::string text;
  // A byte past the limit tells a file that is too large, however it grew.
  for (char chunk[1 << 16];;) {
    const std::size_t n = ReadSome(file.Get(), chunk, sizeof chunk, path);
    text.append(chunk, n);
    if (text.size() > limit)
      throw EFileError("File larger than " + std::to_string(limit >> 20) + " MB: " + path.string());
    if (n < sizeof chunk) return text;
  }
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  return SplitLines(ReadRegularFile(path, std::numeric_limits<std::uintmax_t>::max()));
}

TLineReader::TLineReader(const std::filesystem::path& path) : Path(path), In(OpenRegularFile(path)) {}

bool TLineReader::Fill() {
  Block.resize(1 << 16);
  Block.resize(ReadSome(In.Get(), Block.data(), Block.size(), Path));
  Position = 0;
  return !Block.empty();
}

bool TLineReader::Next(std::string& line) {
  line.clear();
  bool started = false;
  for (;;) {
    if (Position == Block.size() && !Fill()) return started;
    if (AfterCr) {
      AfterCr = false;
      if (Block[Position] == '\n') {
        ++Position;
        continue;
      }
    }
    const std::size_t end = Block.find_first_of("\r\n", Position);
    line.append(Block, Position, end - Position);
    started = true;
    if (end == std::string::npos) {
      Position = Block.size();
      continue;
    }
    Position = end + 1;
    AfterCr = Block[end] == '\r';
    return true;
  }
}

void WriteLines(const std::filesystem::path& path, const std::vector<std::string>& lines) {
  WriteFileAtomic(path, JoinLines(lines));
}

}  // namespace meridane
