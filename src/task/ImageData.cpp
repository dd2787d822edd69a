#include "task/ImageData.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace meridane {

TImageFormat ImageFormatOf(std::string_view b) {
  if (b.starts_with("\xFF\xD8\xFF")) return TImageFormat::Jpeg;
  if (b.starts_with("\x89PNG\r\n\x1A\n")) return TImageFormat::Png;
  if (b.starts_with("GIF87a") || b.starts_with("GIF89a")) return TImageFormat::Gif;
  if (b.size() >= 12 && b.starts_with("RIFF") && b.substr(8, 4) == "WEBP") return TImageFormat::WebP;
  return TImageFormat::None;
}

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back into CheckJpeg. Only libjpeg's C frames lie between, and
// CheckJpeg holds nothing with a destructor, so the jump skips no C++ clean-up.
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

TImageCheck CheckJpeg(const unsigned char* data, unsigned long size, unsigned width, unsigned height) {
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
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    if (info.image_width != width || info.image_height != height) {
      result = TImageCheck::OtherSize;
    } else {
      // An eighth of the size still reads every coefficient of the data, which
      // is what finds damage; the full inverse transform would only cost time.
      info.scale_num = 1;
      info.scale_denom = 8;
      info.dct_method = JDCT_IFAST;
      info.do_fancy_upsampling = FALSE;
      jpeg_start_decompress(&info);
      JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                 info.output_width * static_cast<unsigned>(info.output_components), 1);
      while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, row, 1);
      jpeg_finish_decompress(&info);
      if (!errors.Warned) result = TImageCheck::Sound;
    }
  }
  jpeg_destroy_decompress(&info);
  return result;
}

// libpng's simplified reader catches its own errors inside libpng.
TImageCheck CheckPng(std::string_view bytes, unsigned width, unsigned height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return TImageCheck::Undecodable;
  if (image.width != width || image.height != height) {
    png_image_free(&image);
    return TImageCheck::OtherSize;
  }
  image.format &= ~static_cast<png_uint_32>(PNG_FORMAT_FLAG_COLORMAP);  // pixels, not indices
  // Kept from tile to tile: the same size every time.
  thread_local std::vector<unsigned char> pixels;
  pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return TImageCheck::Undecodable;
  return (image.warning_or_error & PNG_IMAGE_WARNING) ? TImageCheck::Undecodable : TImageCheck::Sound;
}

}  // namespace

TImageCheck CheckImage(std::string_view bytes, int width, int height) {
  if (width <= 0 || height <= 0) return TImageCheck::OtherSize;
  const auto w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  switch (ImageFormatOf(bytes)) {
    case TImageFormat::Jpeg:
      return CheckJpeg(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), w, h);
    case TImageFormat::Png: return CheckPng(bytes, w, h);
    case TImageFormat::Gif:
    case TImageFormat::WebP: return TImageCheck::Sound;
    case TImageFormat::None: break;
  }
  return TImageCheck::Undecodable;
}

}  // namespace meridane
