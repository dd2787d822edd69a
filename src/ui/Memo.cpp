#include "ui/Memo.h"

#include <cstdio>

#include "config/AtomicFile.h"
#include "task/TextFile.h"

namespace meridane {

namespace fs = std::filesystem;

void TMemo::Add(std::string_view line) {
  Append(line);
  if (OnAdd) OnAdd(line);
}

void TMemo::Append(std::string_view line) {
  Chars.append(line);
  Ends.push_back(Chars.size());
}

void TMemo::Clear() {
  Chars.clear();
  Ends.clear();
  Saved.Valid = false;  // the file's lines are no longer the memo's first lines
}

std::string_view TMemo::Line(std::size_t index) const {
  const std::uint64_t begin = index == 0 ? 0 : Ends[index - 1];
  return std::string_view(Chars).substr(begin, Ends[index] - begin);
}

std::string TMemo::Text() const {
  std::string text;
  text.reserve(Chars.size() + 2 * Ends.size());
  for (std::size_t i = 0; i < Ends.size(); ++i) (text += Line(i)) += "\r\n";
  return text;
}

void TMemo::LoadFromFile(const fs::path& path) {
  const std::string bytes = ReadFileBytes(path);
  Clear();
  ForEachLine(bytes, [this](std::string_view line) { Append(line); });
  // Appending later is right only if the file is exactly what the memo would write:
  // every line ended by CR LF, which holds when each ending took two bytes.
  if (bytes.size() == Chars.size() + 2 * Count()) Remember(path);
}

bool TMemo::FileUnchanged(const fs::path& path) const {
  if (!Saved.Valid || Saved.Path != path || Saved.Lines > Count()) return false;
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec || size != Saved.Size) return false;
  const auto modified = fs::last_write_time(path, ec);
  return !ec && modified == Saved.Modified;
}

void TMemo::Remember(const fs::path& path) {
  std::error_code ec;
  Saved.Path = path;
  Saved.Size = fs::file_size(path, ec);
  Saved.Modified = fs::last_write_time(path, ec);
  Saved.Lines = Count();
  Saved.Valid = !ec;
}

void TMemo::SaveToFile(const fs::path& path) {
  if (FileUnchanged(path)) {
    if (Saved.Lines == Count()) return;
    // Only the new lines: a long task's log is not rewritten every few seconds.
    std::string tail;
    for (std::size_t i = Saved.Lines; i < Count(); ++i) (tail += Line(i)) += "\r\n";
    Saved.Valid = false;  // until the append is known to be whole
    std::FILE* file = std::fopen(path.string().c_str(), "ab");
    const bool written = file && std::fwrite(tail.data(), 1, tail.size(), file) == tail.size();
    const bool closed = file && std::fclose(file) == 0;
    if (!written || !closed) {
      // A full disk may have taken part of the lines: cut the file back to its
      // old end, so that the next save appends them whole.
      std::error_code ec;
      fs::resize_file(path, Saved.Size, ec);
      if (!ec) {
        const std::size_t lines = Saved.Lines;
        Remember(path);
        Saved.Lines = lines;
      }
      throw EFileError(CannotCreateMessage(path));
    }
    Remember(path);
    return;
  }
  TAtomicFileWriter out(path);
  std::string block;
  for (std::size_t i = 0; i < Count(); ++i) {
    (block += Line(i)) += "\r\n";
    if (block.size() >= (1u << 20)) {
      out.Write(block);
      block.clear();
    }
  }
  out.Write(block);
  out.Commit();
  Remember(path);
}

}  // namespace meridane
