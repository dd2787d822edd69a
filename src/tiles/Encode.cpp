#include "tiles/Encode.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace meridane {

namespace {

struct TJpegErrors {
  jpeg_error_mgr Manager;  // first: libjpeg hands its address back as info->err
  std::jmp_buf Jump;
};

void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->Jump, 1); }

// The RGB rows of a tile laid over white.
std::vector<unsigned char> OverWhite(const TRgba& pixels) {
  std::vector<unsigned char> rgb(TilePixels * 3);
  for (std::size_t i = 0; i < TilePixels; ++i) {
    const unsigned alpha = pixels[i * 4 + 3];
    for (int c = 0; c < 3; ++c)
      rgb[i * 3 + c] = static_cast<unsigned char>((pixels[i * 4 + c] * alpha + 255 * (255 - alpha) + 127) / 255);
  }
  return rgb;
}

}  // namespace

std::string CompressJpegTile(const unsigned char* rows, int components, int quality, bool jfif) {
  jpeg_compress_struct info;
  TJpegErrors errors;
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JpegFail;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  volatile bool done = false;
  if (setjmp(errors.Jump) == 0) {
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = info.image_height = TileSide;
    info.input_components = components;
    info.in_color_space = components == 4 ? JCS_EXT_RGBA : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.write_JFIF_header = jfif ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
      JSAMPROW row = const_cast<unsigned char*>(rows) + static_cast<std::size_t>(info.next_scanline) * TileSide * components;
      jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    done = true;
  }
  jpeg_destroy_compress(&info);
  std::string bytes = done ? std::string(reinterpret_cast<const char*>(buffer), size) : std::string();
  std::free(buffer);
  if (!done) throw std::runtime_error("Cannot compress a tile as JPEG");
  return bytes;
}

std::string EncodeJpegTile(const TRgba& pixels, int quality) {
  if (pixels.size() != TilePixels * 4) throw std::invalid_argument("not a tile's pixels");
  return CompressJpegTile(OverWhite(pixels).data(), 3, quality);
}

std::string EncodePngTile(const TRgba& pixels) {
  if (pixels.size() != TilePixels * 4) throw std::invalid_argument("not a tile's pixels");
  bool opaque = true;
  for (std::size_t i = 3; i < pixels.size() && opaque; i += 4) opaque = pixels[i] == 255;
  std::vector<unsigned char> rgb;
  if (opaque) {
    rgb.resize(TilePixels * 3);
    for (std::size_t i = 0; i < TilePixels; ++i)
      for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = pixels[i * 4 + c];
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = TileSide;
  image.format = opaque ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
  const void* data = opaque ? rgb.data() : pixels.data();
  png_alloc_size_t size = 0;
  std::string bytes;
  if (png_image_write_get_memory_size(image, size, 0, data, 0, nullptr)) {
    bytes.resize(size);
    if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, data, 0, nullptr)) bytes.clear();
    bytes.resize(size);
  }
  png_image_free(&image);
  if (bytes.empty()) throw std::runtime_error("Cannot compress a tile as PNG");
  return bytes;
}

void HalveTile(const unsigned char* pixels, TRgba& out) {
  constexpr int Half = TileSide / 2;
  out.resize(static_cast<std::size_t>(Half) * Half * 4);
  for (int y = 0; y < Half; ++y)
    for (int x = 0; x < Half; ++x) {
      const unsigned char* p[4] = {pixels + ((2 * y) * TileSide + 2 * x) * 4, pixels + ((2 * y) * TileSide + 2 * x + 1) * 4,
                                   pixels + ((2 * y + 1) * TileSide + 2 * x) * 4,
                                   pixels + ((2 * y + 1) * TileSide + 2 * x + 1) * 4};
      const unsigned alpha = p[0][3] + p[1][3] + p[2][3] + p[3][3];
      unsigned char* o = out.data() + (static_cast<std::size_t>(y) * Half + x) * 4;
      o[3] = static_cast<unsigned char>((alpha + 2) / 4);
      for (int c = 0; c < 3; ++c) {
        if (alpha == 0) {
          o[c] = 0;
          continue;
        }
        const unsigned weighted = p[0][c] * p[0][3] + p[1][c] * p[1][3] + p[2][c] * p[2][3] + p[3][c] * p[3][3];
        o[c] = static_cast<unsigned char>((weighted + alpha / 2) / alpha);
      }
    }
}

}  // namespace meridane
