#pragma once

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

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

// A real JPEG file's bytes of pixels with 1 (grey) or 3 (RGB) components.
inline std::string EncodeJpegPixels(const std::vector<unsigned char>& pixels, int width, int height, int components,
                                    int quality = 75) {
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
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
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

}  // namespace meridane::test
