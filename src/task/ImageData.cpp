#include "task/ImageData.h"

namespace meridane {

TImageFormat ImageFormatOf(std::string_view b) {
  if (b.starts_with("\xFF\xD8\xFF")) return TImageFormat::Jpeg;
  if (b.starts_with("\x89PNG\r\n\x1A\n")) return TImageFormat::Png;
  if (b.starts_with("GIF87a") || b.starts_with("GIF89a")) return TImageFormat::Gif;
  if (b.size() >= 12 && b.starts_with("RIFF") && b.substr(8, 4) == "WEBP") return TImageFormat::WebP;
  return TImageFormat::None;
}

}  // namespace meridane
