#include "task/TextFile.h"

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

std::vector<std::string> ReadLines(const std::filesystem::path& path) { return SplitLines(ReadFileBytes(path)); }

TLineReader::TLineReader(const std::filesystem::path& path) : Path(path), In(path, std::ios::binary) {
  if (!In) throw EFileError(CannotOpenMessage(Path));
}

bool TLineReader::Fill() {
  Block.resize(1 << 16);
  In.read(Block.data(), static_cast<std::streamsize>(Block.size()));
  if (In.bad()) throw EFileError(CannotOpenMessage(Path));
  Block.resize(static_cast<std::size_t>(In.gcount()));
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
