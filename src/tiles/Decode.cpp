#include "tiles/Decode.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "task/ImageData.h"

namespace meridane {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back into DecodeJpeg. Only libjpeg's C frames lie between, and
// DecodeJpeg holds nothing with a destructor, so the jump skips no C++ clean-up.
struct TJpegErrors {
  jpeg_error_mgr Manager;  // first: libjpeg hands its address back as info->err
  std::jmp_buf Jump;
  bool Warned;
};

void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->Jump, 1); }

// Warnings (level -1) tell of data libjpeg skipped or made up, such as the end
// of a truncated file; nothing is printed.
void JpegMessage(j_common_ptr info, int level) {
  if (level < 0) reinterpret_cast<TJpegErrors*>(info->err)->Warned = true;
}

TImageCheck DecodeJpeg(std::string_view bytes, unsigned width, unsigned height, unsigned char* out, int scale) {
  jpeg_decompress_struct info;
  TJpegErrors errors;
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JpegFail;
  errors.Manager.emit_message = JpegMessage;
  errors.Warned = false;
  // Written after setjmp and read after the jump: volatile keeps its value.
  volatile TImageCheck result = TImageCheck::Undecodable;
  if (setjmp(errors.Jump) == 0) {
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    if (info.image_width != width || info.image_height != height) {
      result = TImageCheck::OtherSize;
    } else {
      info.scale_num = 1;
      info.scale_denom = static_cast<unsigned>(scale);
      if (out) {
        // libjpeg-turbo writes RGBA itself, grey and colour alike.
        info.out_color_space = JCS_EXT_RGBA;
      } else {
        // Only read through: an eighth of the size still reads every
        // coefficient, which is what finds damage, and the fast transform will do.
        info.scale_denom = 8;
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
      }
      jpeg_start_decompress(&info);
      const unsigned rowBytes = info.output_width * static_cast<unsigned>(info.output_components);
      JSAMPARRAY scratch =
          out ? nullptr : (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, rowBytes, 1);
      while (info.output_scanline < info.output_height) {
        JSAMPROW row = out ? out + static_cast<std::size_t>(info.output_scanline) * rowBytes : scratch[0];
        jpeg_read_scanlines(&info, &row, 1);
      }
      jpeg_finish_decompress(&info);
      if (!errors.Warned) result = TImageCheck::Sound;
    }
  }
  jpeg_destroy_decompress(&info);
  return result;
}

// libpng's simplified reader catches its own errors inside libpng.
TImageCheck DecodePng(std::string_view bytes, unsigned width, unsigned height, unsigned char* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return TImageCheck::Undecodable;
  if (image.width != width || image.height != height) {
    png_image_free(&image);
    return TImageCheck::OtherSize;
  }
  if (out)
    image.format = PNG_FORMAT_RGBA;
  else
    image.format &= ~static_cast<png_uint_32>(PNG_FORMAT_FLAG_COLORMAP);  // pixels, not indices
  // Kept from tile to tile when only read through: the same size every time.
  thread_local std::vector<unsigned char> scratch;
  if (!out) scratch.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out ? out : scratch.data(), 0, nullptr)) return TImageCheck::Undecodable;
  return (image.warning_or_error & PNG_IMAGE_WARNING) ? TImageCheck::Undecodable : TImageCheck::Sound;
}

}  // namespace

TImageCheck DecodeImage(std::string_view bytes, int width, int height, unsigned char* out, int scale) {
  if (width <= 0 || height <= 0) return TImageCheck::OtherSize;
  const auto w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  switch (ImageFormatOf(bytes)) {
    case TImageFormat::Jpeg: return DecodeJpeg(bytes, w, h, out, scale);
    case TImageFormat::Png: return scale == 1 || !out ? DecodePng(bytes, w, h, out) : TImageCheck::Undecodable;
    // Not decoded here: sound when only checked, no pixels when asked for.
    case TImageFormat::Gif:
    case TImageFormat::WebP: return out ? TImageCheck::Undecodable : TImageCheck::Sound;
    case TImageFormat::None: break;
  }
  return TImageCheck::Undecodable;
}

bool DecodeTile(std::string_view bytes, TRgba& pixels) {
  pixels.resize(TilePixels * 4);
  const bool sound = DecodeImage(bytes, TileSide, TileSide, pixels.data()) == TImageCheck::Sound;
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
    sound = DecodeImage(bytes, TileSide, TileSide, pixels.data(), 8) == TImageCheck::Sound;
  } else if (DecodeTile(bytes, pixels)) {
    ShrinkToEighth(pixels);
    sound = true;
  }
  pixels.resize(size);
  if (!sound) std::fill(pixels.begin(), pixels.end(), 0);
  return sound;
}

}  // namespace meridane
