#include "tiles/Pmtiles.h"

#include <limits>
#include <stdexcept>

namespace meridane {

int PmtilesTileType(std::string_view format) {
  if (format == "png") return PmtilesTypePng;
  if (format == "jpg") return PmtilesTypeJpeg;
  if (format == "webp") return PmtilesTypeWebp;
  return PmtilesTypeUnknown;
}

std::string_view PmtilesFormatOfType(int type) {
  switch (type) {
    case PmtilesTypePng: return "png";
    case PmtilesTypeJpeg: return "jpg";
    case PmtilesTypeWebp: return "webp";
    default: return "";
  }
}

void PutVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

std::uint64_t PmtilesTileId(int zoom, std::uint32_t x, std::uint32_t y) {
  // (4^zoom - 1) / 3 tiles of the lower zooms.
  const std::uint64_t before = ((std::uint64_t{1} << (2 * zoom)) - 1) / 3;
  std::uint64_t index = 0;
  for (std::uint64_t s = (std::uint64_t{1} << zoom) >> 1; s > 0; s >>= 1) {
    const std::uint64_t rx = (x & s) ? 1 : 0;
    const std::uint64_t ry = (y & s) ? 1 : 0;
    index += s * s * ((3 * rx) ^ ry);
    // The quadrant turned so the curve enters it where the next one starts.
    if (ry == 0) {
      if (rx == 1) {
        x = static_cast<std::uint32_t>(s - 1 - (x & (s - 1)));
        y = static_cast<std::uint32_t>(s - 1 - (y & (s - 1)));
      }
      std::swap(x, y);
    }
  }
  return before + index;
}

std::pair<std::uint32_t, std::uint32_t> PmtilesTileAt(int zoom, std::uint64_t step) {
  // PmtilesTileId backwards: from the smallest quadrants up, each turned back.
  std::uint64_t x = 0, y = 0;
  for (std::uint64_t s = 1; s < (std::uint64_t{1} << zoom); s <<= 1, step >>= 2) {
    const std::uint64_t rx = 1 & (step >> 1);
    const std::uint64_t ry = 1 & (step ^ rx);
    if (ry == 0) {
      if (rx == 1) {
        x = s - 1 - x;
        y = s - 1 - y;
      }
      std::swap(x, y);
    }
    x += s * rx;
    y += s * ry;
  }
  return {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)};
}

std::string EncodePmtilesDirectory(std::span<const TPmtilesEntry> entries) {
  std::string out;
  out.reserve(entries.size() * 6 + 8);
  PutVarint(out, entries.size());
  std::uint64_t last = 0;
  for (const TPmtilesEntry& e : entries) {
    PutVarint(out, e.TileId - last);
    last = e.TileId;
  }
  for (const TPmtilesEntry& e : entries) PutVarint(out, e.RunLength);
  for (const TPmtilesEntry& e : entries) PutVarint(out, e.Length);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const bool follows = i > 0 && entries[i].Offset == entries[i - 1].Offset + entries[i - 1].Length;
    PutVarint(out, follows ? 0 : entries[i].Offset + 1);
  }
  return out;
}

std::vector<TPmtilesEntry> DecodePmtilesDirectory(std::string_view bytes, std::size_t maxEntries) {
  std::size_t at = 0;
  const auto varint = [&] {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at >= bytes.size()) throw std::runtime_error("damaged directory");
      const auto byte = static_cast<unsigned char>(bytes[at++]);
      value |= std::uint64_t{byte & 0x7fu} << shift;
      if (!(byte & 0x80)) return value;
    }
    throw std::runtime_error("damaged directory");
  };
  const std::uint64_t count = varint();
  // Every entry takes at least four bytes.
  if (count > bytes.size() / 4 || count > maxEntries) throw std::runtime_error("damaged directory");
  std::vector<TPmtilesEntry> entries(count);
  std::uint64_t id = 0;
  for (TPmtilesEntry& e : entries) e.TileId = id += varint();
  const auto small = [&] {
    const std::uint64_t value = varint();
    if (value > std::numeric_limits<std::uint32_t>::max()) throw std::runtime_error("damaged directory");
    return static_cast<std::uint32_t>(value);
  };
  for (TPmtilesEntry& e : entries) e.RunLength = small();
  for (TPmtilesEntry& e : entries) e.Length = small();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint64_t value = varint();
    if (value == 0 && i == 0) throw std::runtime_error("damaged directory");
    entries[i].Offset = value == 0 ? entries[i - 1].Offset + entries[i - 1].Length : value - 1;
  }
  if (at != bytes.size()) throw std::runtime_error("damaged directory");
  return entries;
}

}  // namespace meridane
