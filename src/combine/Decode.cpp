#include "combine/Decode.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "task/ImageData.h"

namespace meridane {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return: it
// jumps back into DecodeJpeg, which holds nothing with a destructor.
struct TJpegErrors {
  jpeg_error_mgr Manager;  // first: libjpeg hands its address back as info->err
  std::jmp_buf Jump;
  bool Warned;
};

void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->Jump, 1); }
void JpegMessage(j_common_ptr info, int level) {
  if (level < 0) reinterpret_cast<TJpegErrors*>(info->err)->Warned = true;
}

bool DecodeJpeg(std::string_view bytes, unsigned char* out, bool eighth = false) {
  jpeg_decompress_struct info;
  TJpegErrors errors;
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JpegFail;
  errors.Manager.emit_message = JpegMessage;
  errors.Warned = false;
  volatile bool sound = false;
  if (setjmp(errors.Jump) == 0) {
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    if (info.image_width == TileSide && info.image_height == TileSide) {
      // libjpeg-turbo writes RGBA itself, grey and colour alike.
      info.out_color_space = JCS_EXT_RGBA;
      if (eighth) {
        info.scale_num = 1;
        info.scale_denom = 8;
      }
      jpeg_start_decompress(&info);
      while (info.output_scanline < info.output_height) {
        JSAMPROW row = out + static_cast<std::size_t>(info.output_scanline) * info.output_width * 4;
        jpeg_read_scanlines(&info, &row, 1);
      }
      jpeg_finish_decompress(&info);
      sound = !errors.Warned;
    }
  }
  jpeg_destroy_decompress(&info);
  return sound;
}

bool DecodePng(std::string_view bytes, unsigned char* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  if (image.width != TileSide || image.height != TileSide) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_finish_read(&image, nullptr, out, 0, nullptr)) return false;
  return !(image.warning_or_error & PNG_IMAGE_WARNING);
}

}  // namespace

bool DecodeTile(std::string_view bytes, TRgba& pixels) {
  pixels.resize(TilePixels * 4);
  bool sound = false;
  switch (ImageFormatOf(bytes)) {
    case TImageFormat::Jpeg: sound = DecodeJpeg(bytes, pixels.data()); break;
    case TImageFormat::Png: sound = DecodePng(bytes, pixels.data()); break;
    default: break;
  }
  if (!sound) std::fill(pixels.begin(), pixels.end(), 0);
  return sound;
}

void ShrinkToEighth(TRgba& pixels) {
  // Written over pixels already read: pixel (x, y) lies before block (x, y)'s rows and columns.
  for (int y = 0; y < EighthSide; ++y)
    for (int x = 0; x < EighthSide; ++x)
      for (int c = 0; c < 4; ++c) {
        unsigned sum = 0;
        for (int dy = 0; dy < 8; ++dy)
          for (int dx = 0; dx < 8; ++dx) sum += pixels[((y * 8 + dy) * TileSide + x * 8 + dx) * 4 + c];
        pixels[(y * EighthSide + x) * 4 + c] = static_cast<unsigned char>(sum / 64);
      }
  pixels.resize(static_cast<std::size_t>(EighthSide) * EighthSide * 4);
}

bool DecodeTileEighth(std::string_view bytes, TRgba& pixels) {
  const std::size_t size = static_cast<std::size_t>(EighthSide) * EighthSide * 4;
  bool sound = false;
  if (ImageFormatOf(bytes) == TImageFormat::Jpeg) {
    pixels.resize(size);
    sound = DecodeJpeg(bytes, pixels.data(), true);
  } else if (DecodeTile(bytes, pixels)) {
    ShrinkToEighth(pixels);
    sound = true;
  }
  pixels.resize(size);
  if (!sound) std::fill(pixels.begin(), pixels.end(), 0);
  return sound;
}

}  // namespace meridane
