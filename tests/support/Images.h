#pragma once

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <webp/encode.h>
#include <zlib.h>

namespace meridane::test {

// A grey gradient of the given size, so the image data is not all alike.
inline std::vector<unsigned char> Gradient(int width, int height) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
          static_cast<unsigned char>((x * 7 + y * 3) & 0xFF);
  return pixels;
}

// A real JPEG file's bytes of pixels with 1 (grey), 3 (RGB) or 4 (CMYK, as
// Adobe's inverted samples) components; progressive: in several scans.
inline std::string EncodeJpegPixels(const std::vector<unsigned char>& pixels, int width, int height, int components,
                                    int quality = 75, bool progressive = false) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);  // a failure ends the test program
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(pixels.data()) +
                   static_cast<std::size_t>(info.next_scanline) * static_cast<std::size_t>(width * components);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::string bytes(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return bytes;
}

// A real JPEG file's bytes.
inline std::string EncodeJpeg(int width, int height) { return EncodeJpegPixels(Gradient(width, height), width, height, 1); }

// A real PNG file's bytes of pixels in a libpng format (PNG_FORMAT_GRAY, _RGBA, ...).
inline std::string EncodePngPixels(const std::vector<unsigned char>& pixels, int width, int height, png_uint_32 format) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = format;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, pixels.data(), 0, nullptr)) std::abort();
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr)) std::abort();
  bytes.resize(size);
  return bytes;
}

// A real PNG file's bytes.
inline std::string EncodePng(int width, int height) {
  return EncodePngPixels(Gradient(width, height), width, height, PNG_FORMAT_GRAY);
}

// A real WebP file's bytes of RGBA pixels, made by libwebp itself: lossless,
// or lossy at quality (its alpha kept exactly).
inline std::string EncodeWebpPixels(const std::vector<unsigned char>& rgba, int width, int height, bool lossless,
                                    float quality = 80) {
  std::uint8_t* out = nullptr;
  const std::size_t size = lossless ? WebPEncodeLosslessRGBA(rgba.data(), width, height, width * 4, &out)
                                    : WebPEncodeRGBA(rgba.data(), width, height, width * 4, quality, &out);
  if (size == 0) std::abort();
  std::string bytes(reinterpret_cast<const char*>(out), size);
  WebPFree(out);
  return bytes;
}

// The grey gradient, opaque, as RGBA.
inline std::vector<unsigned char> GradientRgba(int width, int height) {
  std::vector<unsigned char> rgba;
  for (const unsigned char grey : Gradient(width, height)) rgba.insert(rgba.end(), {grey, grey, grey, 255});
  return rgba;
}

// A real WebP file's bytes.
inline std::string EncodeWebp(int width, int height, bool lossless = false) {
  return EncodeWebpPixels(GradientRgba(width, height), width, height, lossless);
}

// A PNG chunk: length, type, data, CRC.
inline std::string PngChunk(const char* type, const std::string& data) {
  std::string chunk;
  for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>((data.size() >> shift) & 0xFF);
  chunk += std::string(type, 4) + data;
  const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(chunk.data() + 4), static_cast<uInt>(chunk.size() - 4));
  for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>((crc >> shift) & 0xFF);
  return chunk;
}

// A 256x256 RGBA PNG whose one compressed stream holds its rows (all black)
// and then inflates on to extraBytes more: a tile under the size cap that
// would take seconds to inflate whole.
inline std::string PngInflateBomb(std::size_t extraBytes) {
  std::string ihdr = {0, 0, 1, 0, 0, 0, 1, 0, 8, 6, 0, 0, 0};
  z_stream z{};
  if (deflateInit(&z, Z_BEST_SPEED) != Z_OK) std::abort();
  const std::vector<unsigned char> zeros(1 << 20);
  std::string idat;
  std::vector<unsigned char> out(1 << 16);
  std::size_t left = 256 * (1 + 256 * 4) + extraBytes;
  for (int flush = Z_NO_FLUSH; flush != Z_FINISH;) {
    const std::size_t piece = std::min(left, zeros.size());
    left -= piece;
    flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(piece);
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      idat.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return std::string("\x89PNG\r\n\x1A\n", 8) + PngChunk("IHDR", ihdr) + PngChunk("IDAT", idat) + PngChunk("IEND", "");
}

// A real progressive JPEG of 256x256 with its smallest scan repeated `scans`
// times more: each a pass over every block of the image.
inline std::string JpegScanBomb(int scans) {
  const std::string jpeg = EncodeJpegPixels(Gradient(256, 256), 256, 256, 1, 75, true);
  // Scans run from their marker to the next scan's or to the end marker.
  const std::size_t end = jpeg.size() - 2;
  std::string smallest;
  for (std::size_t at = jpeg.find("\xFF\xDA"); at < end;) {
    const std::size_t next = std::min(jpeg.find("\xFF\xDA", at + 2), end);
    if (smallest.empty() || next - at < smallest.size()) smallest = jpeg.substr(at, next - at);
    at = next;
  }
  std::string bomb = jpeg.substr(0, end);
  for (int i = 0; i < scans; ++i) bomb += smallest;
  return bomb + jpeg.substr(end);
}

// A real CMYK JPEG (Adobe's inverted samples): sound, but with no RGB here.
inline std::string EncodeCmykJpeg(int width, int height) {
  return EncodeJpegPixels(
      std::vector<unsigned char>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0x80), width,
      height, 4);
}

// The undecodable tile bodies every program must leave out alike.
struct TBadTile {
  const char* Name;
  std::string Bytes;
};
inline std::vector<TBadTile> UndecodableTiles() {
  const std::string jpeg = EncodeJpeg(256, 256), webp = EncodeWebp(256, 256);
  std::string stub = "\xFF\xD8\xFF\xE0";
  stub.resize(46, '\0');
  return {{"truncated jpeg", jpeg.substr(0, jpeg.size() / 2)},
          {"html page", "<html><head><title>404</title></head><body>Not Found</body></html>"},
          {"46-byte jpeg stub", stub},
          {"cmyk jpeg", EncodeCmykJpeg(256, 256)},
          {"truncated webp", webp.substr(0, webp.size() / 2)}};
}

}  // namespace meridane::test
