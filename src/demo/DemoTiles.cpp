#include "demo/DemoTiles.h"

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace meridane {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::array<std::uint8_t, GlyphRows>, 13> Glyphs{{
    {7, 5, 5, 5, 7},  // 0
    {2, 6, 2, 2, 7},  // 1
    {7, 1, 7, 4, 7},  // 2
    {7, 1, 3, 1, 7},  // 3
    {5, 5, 7, 1, 1},  // 4
    {7, 4, 7, 1, 7},  // 5
    {7, 4, 7, 5, 7},  // 6
    {7, 1, 2, 2, 2},  // 7
    {7, 5, 7, 5, 7},  // 8
    {7, 5, 7, 1, 7},  // 9
    {7, 1, 2, 4, 7},  // Z
    {5, 5, 2, 5, 5},  // X
    {5, 5, 2, 2, 2},  // Y
}};

struct TJpegErrors {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

void Fail(j_common_ptr info) { std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->Jump, 1); }

// The steps that may fail, in a frame of their own: what a failure's jump
// leaves undefined is this frame's, and the caller's state stays sound.
bool Encode(jpeg_compress_struct& info, TJpegErrors& errors, unsigned char** buffer, unsigned long* size,
            std::vector<unsigned char>& rgb) {
  if (setjmp(errors.Jump)) return false;
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, buffer, size);
  info.image_width = TileSide;
  info.image_height = TileSide;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 85, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = &rgb[static_cast<std::size_t>(info.next_scanline) * TileSide * 3];
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  return true;
}

}  // namespace

const std::array<std::uint8_t, GlyphRows>& DemoGlyph(char name) {
  const std::size_t at = DemoGlyphNames.find(name);
  if (at == std::string_view::npos) throw std::invalid_argument(std::string("no glyph for ") + name);
  return Glyphs[at];
}

std::array<std::string, 3> DemoLabel(const TTileKey& key) {
  return {"Z" + std::to_string(key.Zoom), "X" + std::to_string(key.X), "Y" + std::to_string(key.Y)};
}

std::vector<unsigned char> DemoTilePixels(const TTileKey& key) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(TileSide) * TileSide * 3);
  const auto set = [&rgb](int x, int y, int r, int g, int b) {
    if (x < 0 || y < 0 || x >= TileSide || y >= TileSide) return;
    unsigned char* p = &rgb[(static_cast<std::size_t>(y) * TileSide + x) * 3];
    p[0] = static_cast<unsigned char>(r), p[1] = static_cast<unsigned char>(g), p[2] = static_cast<unsigned char>(b);
  };
  // Neighbours differ in colour: red steps along the columns, green down the rows,
  // blue with the zoom; a soft gradient shows which way is up.
  const int red = 70 + (key.X % 8) * 22, green = 70 + (key.Y % 8) * 22, blue = 60 + (key.Zoom % 4) * 45;
  for (int y = 0; y < TileSide; ++y)
    for (int x = 0; x < TileSide; ++x) {
      const int shade = (TileSide - y) / 16;
      const bool border = x < 3 || y < 3 || x >= TileSide - 3 || y >= TileSide - 3;
      if (border)
        set(x, y, 30, 30, 30);
      else
        set(x, y, std::min(255, red + shade), std::min(255, green + shade), std::min(255, blue + shade));
    }
  const auto lines = DemoLabel(key);
  std::size_t longest = 0;
  for (const std::string& line : lines) longest = std::max(longest, line.size());
  const int boxRight = DemoLabelLeft + static_cast<int>(longest) * DemoGlyphPitch;
  for (int y = DemoLineTop - DemoCell * 2; y < DemoLineTop + 2 * DemoLinePitch + GlyphRows * DemoCell + DemoCell * 2;
       ++y)
    for (int x = DemoLabelLeft - DemoCell * 2; x < boxRight + DemoCell; ++x) set(x, y, 255, 255, 255);
  for (std::size_t line = 0; line < lines.size(); ++line)
    for (std::size_t i = 0; i < lines[line].size(); ++i) {
      const auto& glyph = DemoGlyph(lines[line][i]);
      const int left = DemoLabelLeft + static_cast<int>(i) * DemoGlyphPitch;
      const int top = DemoLineTop + static_cast<int>(line) * DemoLinePitch;
      for (int row = 0; row < GlyphRows; ++row)
        for (int column = 0; column < GlyphColumns; ++column) {
          if (!(glyph[row] & (4 >> column))) continue;
          for (int dy = 0; dy < DemoCell; ++dy)
            for (int dx = 0; dx < DemoCell; ++dx)
              set(left + column * DemoCell + dx, top + row * DemoCell + dy, 0, 0, 0);
        }
    }
  return rgb;
}

std::string DemoTileJpeg(const TTileKey& key) {
  std::vector<unsigned char> rgb = DemoTilePixels(key);
  jpeg_compress_struct info{};
  TJpegErrors errors;
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = Fail;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool done = Encode(info, errors, &buffer, &size, rgb);
  std::string bytes = done ? std::string(reinterpret_cast<const char*>(buffer), size) : std::string();
  jpeg_destroy_compress(&info);
  std::free(buffer);
  if (!done) throw std::runtime_error("the JPEG encoder failed");
  return bytes;
}

std::vector<TTileKey> DemoTileSet(int zoom, int minX, int minY, int maxX, int maxY) {
  std::vector<TTileKey> tiles;
  for (int z = 0; z <= std::min(8, zoom - 1); ++z) {
    const int shift = zoom - z, last = (1 << z) - 1;
    const int ring = z <= 3 ? last : 2;
    const int x0 = std::max(0, (minX >> shift) - ring), x1 = std::min(last, (maxX >> shift) + ring);
    const int y0 = std::max(0, (minY >> shift) - ring), y1 = std::min(last, (maxY >> shift) + ring);
    for (int x = x0; x <= x1; ++x)
      for (int y = y0; y <= y1; ++y) tiles.push_back({z, x, y});
  }
  for (int x = minX; x <= maxX; ++x)
    for (int y = minY; y <= maxY; ++y) tiles.push_back({zoom, x, y});
  return tiles;
}

void WriteDemoTiles(const fs::path& folder, const std::vector<TTileKey>& tiles) {
  for (const TTileKey& key : tiles) {
    const fs::path path = folder / std::to_string(key.Zoom) / std::to_string(key.X) / (std::to_string(key.Y) + ".jpg");
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    const std::string bytes = DemoTileJpeg(key);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
}

}  // namespace meridane
