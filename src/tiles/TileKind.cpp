#include "tiles/TileKind.h"

#include "config/AtomicFile.h"
#include "task/ImageData.h"

namespace meridane {

namespace fs = std::filesystem;

std::string_view TileKindName(TTileKind kind) {
  switch (kind) {
    case TTileKind::Good: return "good";
    case TTileKind::Missing: return "missing";
    case TTileKind::Empty: return "empty";
    case TTileKind::NotImage: return "not an image";
    case TTileKind::Placeholder: return "placeholder";
    case TTileKind::NotDecodable: return "not decodable";
    case TTileKind::OtherSize: return "not 256x256";
  }
  return "";
}

std::string_view TileFormatName(TImageFormat format) {
  switch (format) {
    case TImageFormat::Jpeg: return "jpg";
    case TImageFormat::Png: return "png";
    case TImageFormat::Gif: return "gif";
    case TImageFormat::WebP: return "webp";
    case TImageFormat::None: break;
  }
  return "";
}

TTileKind KindOfBytes(std::string_view bytes, std::string_view blank) {
  if (bytes.empty()) return TTileKind::Empty;
  if (!blank.empty() && bytes == blank) return TTileKind::Placeholder;
  if (!IsImageData(bytes)) return TTileKind::NotImage;
  return TTileKind::Good;
}

std::string PlaceholderBytes(const fs::path& programFolder, const std::string& extension) {
  if (extension.empty()) return {};
  try {
    return ReadFileBytes(programFolder / "blankimg" / ("blank." + extension));
  } catch (const EFileError&) {
    return {};  // no blank image: no tile can be one
  }
}

}  // namespace meridane
