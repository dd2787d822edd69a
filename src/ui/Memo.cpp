#include "ui/Memo.h"

#include <sys/stat.h>

#include <algorithm>

#include "config/AtomicFile.h"
#include "task/TextFile.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// Enough of a file's end for the lines a window shows.
constexpr std::uintmax_t TailBytes = 256 * 1024;

}  // namespace

void TMemo::Add(std::string_view line) {
  Hold(line);
  if (Backed) (Unsaved += line) += "\r\n";
  if (OnAdd) OnAdd(line);
}

void TMemo::Hold(std::string_view line) {
  Recent.emplace_back(line);
  if (Recent.size() > Kept) Recent.pop_front();
  ++Total;
}

void TMemo::Clear() {
  Recent.clear();
  Unsaved.clear();
  Total = 0;
  ++Replaced;
}

std::string TMemo::Text() const {
  std::string text;
  for (const std::string& line : Recent) (text += line) += "\r\n";
  return text;
}

std::size_t TMemo::MemoryUsed() const {
  std::size_t bytes = Unsaved.capacity();
  for (const std::string& line : Recent) bytes += sizeof(line) + line.capacity();
  return bytes;
}

void TMemo::LoadFromFile(const fs::path& path) {
  const TDescriptor file = OpenRegularFile(path);
  struct stat opened {};
  if (::fstat(file.Get(), &opened) != 0) throw EFileError(CannotOpenMessage(path));
  const auto size = static_cast<std::uintmax_t>(opened.st_size);
  const std::uintmax_t start = size > TailBytes ? size - TailBytes : 0;
  std::string tail(static_cast<std::size_t>(size - start), '\0');
  for (std::size_t done = 0; done < tail.size();) {
    const ssize_t n = ::pread(file.Get(), tail.data() + done, tail.size() - done, static_cast<off_t>(start + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EFileError(CannotOpenMessage(path));
    done += static_cast<std::size_t>(n);
  }
  std::string_view text = tail;
  // The first line of a tail may have begun before it.
  if (start > 0) {
    const std::size_t end = std::min(text.size(), text.find_first_of("\r\n"));
    const bool crlf = text.substr(end).starts_with("\r\n");
    text.remove_prefix(std::min(text.size(), end + (crlf ? 2 : 1)));
  }
  Clear();
  ForEachLine(text, [this](std::string_view line) { Hold(line); });
}

void TMemo::SaveToFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(path, ec))
    WriteFileAtomic(path, Unsaved);
  else if (!Unsaved.empty())
    AppendLines(path, Unsaved);
  Unsaved.clear();
}

}  // namespace meridane
