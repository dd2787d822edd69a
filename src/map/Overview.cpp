#include "map/Overview.h"

#include <algorithm>
#include <exception>

namespace meridane {

bool Refinable(const TDecodedTile& tile, int level, int samples) {
  const long long side = 1LL << std::min(level, 30);
  return tile.Samples < samples && tile.Samples < side;
}

std::optional<TDecodedTile> BuildOverview(IMapSource& source, TTileCache& cache, const TTileKey& key, int samples,
                                          const std::function<bool()>& stop) {
  const int zoom = source.TileSet().Zoom;
  const TTileRect rect = source.Rect();
  const long long side = 1LL << (zoom - key.Zoom);  // source tiles a side
  const long long count = std::min<long long>(side, std::clamp(samples, 1, TileSide));
  const long long step = side / count;  // source tiles a sample stands for, a side
  const int block = TileSide / static_cast<int>(count);  // output pixels a sample fills, a side
  // A sample filling no more than an eighth of a tile is read at that size: far quicker.
  const bool eighth = block <= EighthSide;
  const long long baseX = key.X * side, baseY = key.Y * side;
  // The source tile an output pixel's top left corner lies in.
  const auto covered = [&](int px, int py) {
    return rect.Contains(static_cast<int>(baseX + px * side / TileSide), static_cast<int>(baseY + py * side / TileSide));
  };

  TDecodedTile out;
  out.Kind = TTileKind::Missing;
  out.Samples = static_cast<int>(count);
  TRgba pixels(TilePixels * 4, 0);
  for (long long j = 0; j < count; ++j) {
    for (long long i = 0; i < count; ++i) {
      const long long x0 = std::max<long long>(baseX + i * step, rect.MinX);
      const long long x1 = std::min<long long>(baseX + (i + 1) * step - 1, rect.MaxX);
      const long long y0 = std::max<long long>(baseY + j * step, rect.MinY);
      const long long y1 = std::min<long long>(baseY + (j + 1) * step - 1, rect.MaxY);
      if (x0 > x1 || y0 > y1) continue;
      if (stop && stop()) return std::nullopt;
      // The middle tile of the block's part within the source.
      const TTileKey at{zoom, static_cast<int>((x0 + x1) / 2), static_cast<int>((y0 + y1) / 2)};
      std::shared_ptr<const TDecodedTile> tile = cache.Find(at);
      if (!tile) {
        try {
          tile = std::make_shared<const TDecodedTile>(eighth ? source.LoadEighth(at.X, at.Y) : source.Load(at.X, at.Y));
        } catch (const std::exception&) {
          continue;  // unreadable: left out like a missing tile
        }
      }
      if (tile->Kind != TTileKind::Good) continue;
      out.Kind = TTileKind::Good;
      const int sampleSide = tile->Pixels.size() == TilePixels * 4 ? TileSide : EighthSide;
      const int shrink = sampleSide / block;  // sample pixels an output pixel averages, a side
      for (int py = static_cast<int>(j) * block; py < (j + 1) * block; ++py) {
        for (int px = static_cast<int>(i) * block; px < (i + 1) * block; ++px) {
          if (!covered(px, py)) continue;
          unsigned sum[4] = {};
          const int sx = (px - static_cast<int>(i) * block) * shrink, sy = (py - static_cast<int>(j) * block) * shrink;
          for (int y = sy; y < sy + shrink; ++y) {
            const unsigned char* row = tile->Pixels.data() + (static_cast<std::size_t>(y) * sampleSide + sx) * 4;
            for (int x = 0; x < shrink * 4; ++x) sum[x % 4] += row[x];
          }
          unsigned char* target = pixels.data() + (static_cast<std::size_t>(py) * TileSide + px) * 4;
          for (int c = 0; c < 4; ++c) target[c] = static_cast<unsigned char>(sum[c] / (shrink * shrink));
        }
      }
    }
  }
  if (out.Kind == TTileKind::Good) out.Pixels = std::move(pixels);
  return out;
}

}  // namespace meridane
