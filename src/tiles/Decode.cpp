#include "tiles/Decode.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "task/ImageData.h"
#include "tiles/Webp.h"

namespace meridane {

namespace {

thread_local TDecodeWork Work;

// A tile is a few scans; a progressive JPEG may hold tens of thousands, each
// a pass over every block. Past this many it is not a tile worth the time.
constexpr int MaxJpegScans = 100;

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

// Called at every scan and row of input while the scans are gathered.
void JpegProgress(j_common_ptr common) {
  const int scans = reinterpret_cast<j_decompress_ptr>(common)->input_scan_number;
  Work.Scans = scans;
  if (scans > MaxJpegScans) JpegFail(common);
}

TImageCheck DecodeJpeg(std::string_view bytes, unsigned width, unsigned height, unsigned char* out, int scale) {
  jpeg_decompress_struct info;
  TJpegErrors errors;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = JpegProgress;
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JpegFail;
  errors.Manager.emit_message = JpegMessage;
  errors.Warned = false;
  // Written after setjmp and read after the jump: volatile keeps its value.
  volatile TImageCheck result = TImageCheck::Undecodable;
  if (setjmp(errors.Jump) == 0) {
    jpeg_create_decompress(&info);
    info.progress = &progress;
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    if (info.image_width != width || info.image_height != height) {
      result = TImageCheck::OtherSize;
    } else {
      info.scale_num = 1;
      info.scale_denom = static_cast<unsigned>(scale);
      // libjpeg-turbo writes RGBA itself, grey and colour alike, but not from
      // CMYK or YCCK: the check asks for the same colours as a display does,
      // so such a tile is undecodable to the check, the combiner and the viewer alike.
      info.out_color_space = JCS_EXT_RGBA;
      if (!out) {
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

// libpng's progressive reader, fed a piece at a time and left as soon as the
// last row is in: what follows the rows (more compressed data, which may
// inflate to gigabytes, text, the end) is never read. Plain data only, as
// libpng's errors jump back over these frames.
struct TPngRead {
  std::jmp_buf Jump;
  unsigned Width, Height;
  unsigned char* Out;  // Height rows of Width * 4
  bool Interlaced;
  bool Done;
  bool Warned;
  TImageCheck Result;
};

TPngRead& PngState(png_structp png) { return *static_cast<TPngRead*>(png_get_progressive_ptr(png)); }

[[noreturn]] void PngFail(png_structp png, png_const_charp) {
  std::longjmp(static_cast<TPngRead*>(png_get_error_ptr(png))->Jump, 1);
}
void PngWarn(png_structp png, png_const_charp) { static_cast<TPngRead*>(png_get_error_ptr(png))->Warned = true; }

void PngInfo(png_structp png, png_infop info) {
  TPngRead& read = PngState(png);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colour = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
  if (width != read.Width || height != read.Height) {
    read.Result = TImageCheck::OtherSize;
    PngFail(png, nullptr);
  }
  // Any PNG as 8-bit RGBA.
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  if (!(colour & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  read.Interlaced = png_set_interlace_handling(png) > 1;
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<std::size_t>(read.Width) * 4) PngFail(png, nullptr);
}

void PngRow(png_structp png, png_bytep row, png_uint_32 number, int pass) {
  TPngRead& read = PngState(png);
  if (number >= read.Height) PngFail(png, nullptr);
  // An interlaced image's rows come once in each of its seven passes.
  if (row) png_progressive_combine_row(png, read.Out + static_cast<std::size_t>(number) * read.Width * 4, row);
  if (number + 1 == read.Height && pass == (read.Interlaced ? 6 : 0)) {
    read.Done = true;
    PngFail(png, nullptr);  // leaves the reader: the rest is not wanted
  }
}

void PngEnd(png_structp png, png_infop) { PngState(png).Done = true; }

// Bounds what a PNG's chunks before its rows cost: none of these is wanted,
// and some are compressed.
const png_byte PngIgnored[] = "iCCP\0iTXt\0tEXt\0zTXt\0sPLT\0eXIf";

void ReadPngPieces(png_structp png, png_infop info, std::string_view bytes, TPngRead& read) {
  png_set_progressive_read_fn(png, &read, PngInfo, PngRow, PngEnd);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, PngIgnored, sizeof PngIgnored / 5);
  constexpr std::size_t Piece = 8 * 1024;
  for (std::size_t at = 0; at < bytes.size() && !read.Done; at += Piece) {
    const std::size_t size = std::min(Piece, bytes.size() - at);
    Work.PngBytes += size;
    png_process_data(png, info, reinterpret_cast<png_bytep>(const_cast<char*>(bytes.data() + at)), size);
  }
}

TImageCheck DecodePng(std::string_view bytes, unsigned width, unsigned height, unsigned char* out) {
  // Kept from tile to tile when only read through: the same size every time.
  thread_local std::vector<unsigned char> scratch;
  if (!out) {
    scratch.resize(static_cast<std::size_t>(width) * height * 4);
    out = scratch.data();
  }
  TPngRead read{};
  read.Width = width;
  read.Height = height;
  read.Out = out;
  read.Result = TImageCheck::Undecodable;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, PngFail, PngWarn);
  if (!png) return TImageCheck::Undecodable;
  png_infop info = png_create_info_struct(png);
  if (info && setjmp(read.Jump) == 0) ReadPngPieces(png, info, bytes, read);
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  if (read.Result == TImageCheck::OtherSize) return read.Result;
  return read.Done && !read.Warned ? TImageCheck::Sound : TImageCheck::Undecodable;
}

}  // namespace

const TDecodeWork& LastDecodeWork() { return Work; }

TImageCheck DecodeImage(std::string_view bytes, int width, int height, unsigned char* out, int scale) {
  Work = {};
  if (width <= 0 || height <= 0) return TImageCheck::OtherSize;
  const auto w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  switch (ImageFormatOf(bytes)) {
    case TImageFormat::Jpeg: return DecodeJpeg(bytes, w, h, out, scale);
    case TImageFormat::Png: return scale == 1 || !out ? DecodePng(bytes, w, h, out) : TImageCheck::Undecodable;
    case TImageFormat::WebP: return scale == 1 || !out ? DecodeWebp(bytes, width, height, out) : TImageCheck::Undecodable;
    // Not decoded here: sound when only checked, no pixels when asked for.
    case TImageFormat::Gif: return out ? TImageCheck::Undecodable : TImageCheck::Sound;
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
