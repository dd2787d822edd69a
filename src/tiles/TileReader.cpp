#include "tiles/TileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "task/Descriptor.h"
#include "task/ImageData.h"
#include "tiles/Decode.h"

namespace meridane {

TTileReader::TTileReader(int folder, std::string blank, std::size_t maxBytes)
    : Folder(folder), Placeholder(std::move(blank)), MaxBytes(maxBytes) {}

TTileKind TTileReader::ReadAtMost(const char* name, std::size_t wanted, std::string& out) const {
  if (Folder < 0) return TTileKind::Missing;
  // A name of a tree ("14/13490/6200.png") is walked one folder at a time:
  // a link in place of a folder is followed no more than one in place of a file.
  TDescriptor inner(-1);
  int at = Folder;
  while (const char* slash = std::strchr(name, '/')) {
    const std::string part(name, slash);
    TDescriptor next(::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (next.Get() < 0) return errno == ENOENT ? TTileKind::Missing : TTileKind::NotImage;
    inner = std::move(next);
    at = inner.Get();
    name = slash + 1;
  }
  const TDescriptor file(::openat(at, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (file.Get() < 0) return errno == ENOENT ? TTileKind::Missing : TTileKind::NotImage;
  struct stat status;
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return TTileKind::NotImage;
  if (static_cast<unsigned long long>(status.st_size) > MaxBytes) return TTileKind::NotImage;
  // One byte more than the largest tile, to tell one that is too long; a file
  // that grows while it is read is read no further either.
  wanted = std::min({wanted, static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)) + 1, MaxBytes + 1});
  const std::size_t start = out.size();
  out.resize(start + wanted);
  std::size_t size = 0;
  while (size < wanted) {
    const ssize_t n = ::read(file.Get(), out.data() + start + size, wanted - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.resize(start);
      return TTileKind::NotImage;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  const TTileKind kind =
      size > MaxBytes ? TTileKind::NotImage : KindOfBytes(std::string_view(out).substr(start, size), Placeholder);
  out.resize(kind == TTileKind::Good ? start + size : start);
  return kind;
}

TTileKind TTileReader::Read(const char* name, std::string& out) const { return ReadAtMost(name, MaxBytes + 1, out); }

TTileKind TTileReader::ReadDecodable(const char* name, std::string& out) const {
  const std::size_t start = out.size();
  TTileKind kind = Read(name, out);
  if (kind == TTileKind::Good) kind = DecodedKind(std::string_view(out).substr(start));
  if (kind != TTileKind::Good) out.resize(start);
  return kind;
}

TTileKind TTileReader::Peek(const char* name, std::string& scratch) const {
  scratch.clear();
  // A placeholder is told by its size (one byte more is asked for) and bytes,
  // an image by its first bytes.
  const TTileKind kind = ReadAtMost(name, std::max(ImageMagicSize, Placeholder.size() + 1), scratch);
  scratch.clear();
  return kind;
}

TTileKind DecodedKind(std::string_view bytes) {
  switch (CheckImage(bytes, TileSide, TileSide)) {
    case TImageCheck::Sound: return TTileKind::Good;
    case TImageCheck::OtherSize: return TTileKind::OtherSize;
    case TImageCheck::Undecodable: break;
  }
  return TTileKind::NotDecodable;
}

}  // namespace meridane
