#include "combine/Folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "combine/ArchiveWrite.h"
#include "task/ImageData.h"
#include "tiles/Json.h"
#include "tiles/Projection.h"

namespace meridane {

namespace fs = std::filesystem;

std::string FolderTileName(int zoom, int x, int y, std::string_view bytes) {
  const char* extension = "jpg";
  switch (ImageFormatOf(bytes)) {
    case TImageFormat::Png: extension = "png"; break;
    case TImageFormat::WebP: extension = "webp"; break;
    case TImageFormat::Gif: extension = "gif"; break;
    default: break;
  }
  return std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y) + "." + extension;
}

bool IsTileFolderOutput(const fs::path& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name == "metadata.json" && entry.is_regular_file(ec)) continue;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        !entry.is_directory(ec) || entry.is_symlink(ec))
      return false;
  }
  return !ec;
}

TFolderWriter::TFolderWriter(fs::path path, const TTileSet& set) : Path(std::move(path)), Set(set), MinZoom(set.Zoom) {
  if (::mkdir(Path.c_str(), 0777) != 0) Fail(errno);
  Descriptor = ::open(Path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Descriptor < 0) Fail(errno);
}

TFolderWriter::~TFolderWriter() {
  if (Descriptor >= 0) ::close(Descriptor);
}

void TFolderWriter::Fail(int error) const { throw EWriteError(Path, WriteFailureReason(error)); }

void TFolderWriter::MakeFolder(const std::string& name) {
  if (::mkdirat(Descriptor, name.c_str(), 0777) != 0 && errno != EEXIST) Fail(errno);
}

void TFolderWriter::WriteFile(const std::string& name, std::string_view bytes) {
  const int file = ::openat(Descriptor, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (file < 0) Fail(errno == EEXIST ? EEXIST : errno);
  while (!bytes.empty()) {
    const ssize_t written = ::write(file, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      ::close(file);
      Fail(error);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(file) != 0) Fail(errno);
}

void TFolderWriter::Put(int zoom, int x, int y, std::string_view bytes) {
  if (Finished) throw std::logic_error("tile added to a finished folder");
  if (x < 0 || y < 0 || x >= TilesAcross(zoom) || y >= TilesAcross(zoom))
    throw std::invalid_argument("tile outside the zoom's grid");
  if (Zooms.insert(zoom).second) MakeFolder(std::to_string(zoom));
  if (Columns.insert({zoom, x}).second) MakeFolder(std::to_string(zoom) + "/" + std::to_string(x));
  WriteFile(FolderTileName(zoom, x, y, bytes), bytes);
}

void TFolderWriter::Add(int x, int y, std::optional<std::string_view> bytes) {
  if (bytes) Put(Set.Zoom, x, y, *bytes);
}

void TFolderWriter::AddLevelTile(int zoom, int x, int y, std::string_view bytes) {
  if (zoom == Set.Zoom) throw std::logic_error("a level tile of the set's own zoom");
  Put(zoom, x, y, bytes);
  MinZoom = std::min(MinZoom, zoom);
}

void TFolderWriter::Finish() {
  if (Finished) return;
  std::string json = "{";
  for (const auto& [name, value] : ArchiveMetadata(Set, MinZoom))
    if (name != "type" && name != "version") json += (json.size() > 1 ? ",\n" : "\n") + JsonText(name) + ": " + JsonText(value);
  WriteFile("metadata.json", json + "\n}\n");
  // Every file of the folder on the disk at once, rather than one by one.
  if (::syncfs(Descriptor) != 0) Fail(errno);
  Finished = true;
}

}  // namespace meridane
