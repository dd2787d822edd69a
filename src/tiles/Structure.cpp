#include "tiles/Structure.h"

#include <webp/decode.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>

#include "task/ImageData.h"

namespace meridane {

namespace {

using TBytes = const unsigned char*;

constexpr int MaxJpegScans = 100;  // as the decoder allows

unsigned Big16(TBytes p) { return static_cast<unsigned>(p[0]) << 8 | p[1]; }
std::uint32_t Big32(TBytes p) { return static_cast<std::uint32_t>(Big16(p)) << 16 | Big16(p + 2); }
std::uint32_t Little32(TBytes p) {
  return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}

TImageCheck JpegStructure(TBytes p, std::size_t n, unsigned width, unsigned height) {
  if (n < 4 || p[0] != 0xFF || p[1] != 0xD8) return TImageCheck::Undecodable;
  bool frame = false;
  int scans = 0;
  std::size_t i = 2;
  for (;;) {
    if (i + 1 >= n || p[i] != 0xFF) return TImageCheck::Undecodable;
    const unsigned char marker = p[i + 1];
    if (marker == 0xFF) {  // a fill byte before the marker
      ++i;
      continue;
    }
    i += 2;
    if (marker == 0xD9) return frame && scans > 0 ? TImageCheck::Sound : TImageCheck::Undecodable;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no segment of their own
    if (i + 2 > n) return TImageCheck::Undecodable;
    const std::size_t length = Big16(p + i);
    if (length < 2 || length > n - i) return TImageCheck::Undecodable;
    TBytes segment = p + i + 2;
    const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (startOfFrame) {
      // Baseline, extended and progressive, Huffman or arithmetic: what libjpeg-turbo decodes.
      const bool decoded = marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA;
      if (frame || !decoded || length < 8 || segment[0] != 8) return TImageCheck::Undecodable;
      if (Big16(segment + 3) != width || Big16(segment + 1) != height) return TImageCheck::OtherSize;
      const unsigned components = segment[5];
      if ((components != 1 && components != 3) || length < 8 + 3 * components) return TImageCheck::Undecodable;
      frame = true;
    }
    i += length;
    if (marker != 0xDA) continue;
    if (!frame || ++scans > MaxJpegScans) return TImageCheck::Undecodable;
    // The compressed data: 0xFF is followed by 0 (a stuffed byte) or a restart marker within it.
    for (;;) {
      const void* found = i < n ? std::memchr(p + i, 0xFF, n - i) : nullptr;
      if (!found) return TImageCheck::Undecodable;
      i = static_cast<std::size_t>(static_cast<TBytes>(found) - p);
      if (i + 1 >= n) return TImageCheck::Undecodable;
      const unsigned char next = p[i + 1];
      if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
        i += 2;
        continue;
      }
      break;
    }
  }
}

TImageCheck PngStructure(TBytes p, std::size_t n, unsigned width, unsigned height) {
  static constexpr unsigned char Signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (n < 8 || std::memcmp(p, Signature, 8) != 0) return TImageCheck::Undecodable;
  std::size_t i = 8;
  bool header = false, palette = false, data = false;
  while (n - i >= 12) {
    const std::uint32_t length = Big32(p + i);
    if (length > n - i - 12) return TImageCheck::Undecodable;
    TBytes type = p + i + 4, body = p + i + 8;
    const auto crc = crc32(crc32(0, nullptr, 0), type, length + 4);
    if (crc != Big32(body + length)) return TImageCheck::Undecodable;
    const auto is = [&](const char* name) { return std::memcmp(type, name, 4) == 0; };
    if (!header) {
      if (!is("IHDR") || length != 13) return TImageCheck::Undecodable;
      if (Big32(body) != width || Big32(body + 4) != height) return TImageCheck::OtherSize;
      const unsigned depth = body[8], colour = body[9];
      const bool depthFits = colour == 0   ? depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16
                             : colour == 3 ? depth == 1 || depth == 2 || depth == 4 || depth == 8
                             : colour == 2 || colour == 4 || colour == 6 ? depth == 8 || depth == 16
                                                                         : false;
      if (!depthFits || body[10] != 0 || body[11] != 0 || body[12] > 1) return TImageCheck::Undecodable;
      palette = colour != 3;  // only a palette image needs PLTE
      header = true;
    } else if (is("IEND")) {
      return palette && data ? TImageCheck::Sound : TImageCheck::Undecodable;
    } else if (is("PLTE")) {
      palette = true;
    } else if (is("IDAT")) {
      if (!palette || length == 0) return TImageCheck::Undecodable;
      data = true;
    } else if (type[0] >= 'A' && type[0] <= 'Z') {
      return TImageCheck::Undecodable;  // a critical chunk a decoder does not know
    }
    i += 12 + length;
  }
  return TImageCheck::Undecodable;  // no IEND
}

TImageCheck WebpStructure(TBytes p, std::size_t n, int width, int height) {
  if (n < 12 || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WEBP", 4) != 0) return TImageCheck::Undecodable;
  if (Little32(p + 4) > n - 8) return TImageCheck::Undecodable;  // cut off
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(p, n, &features) != VP8_STATUS_OK || features.has_animation) return TImageCheck::Undecodable;
  return features.width == width && features.height == height ? TImageCheck::Sound : TImageCheck::OtherSize;
}

}  // namespace

TImageCheck CheckImageStructure(std::string_view bytes, int width, int height) {
  const auto* p = reinterpret_cast<TBytes>(bytes.data());
  const auto w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  switch (ImageFormatOf(bytes)) {
    case TImageFormat::Jpeg: return JpegStructure(p, bytes.size(), w, h);
    case TImageFormat::Png: return PngStructure(p, bytes.size(), w, h);
    case TImageFormat::WebP: return WebpStructure(p, bytes.size(), width, height);
    default: break;
  }
  return DecodeImage(bytes, width, height);
}

}  // namespace meridane
