#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "tiles/Decode.h"
#include "tiles/Projection.h"
#include "tiles/TileKind.h"

namespace meridane {

// A tile as it was read: a Good one has pixels; every other kind has none and
// is drawn hatched.
struct TDecodedTile {
  TTileKind Kind = TTileKind::Missing;
  TRgba Pixels;  // TileSide * TileSide RGBA for a good tile (EighthSide a side from LoadEighth), else empty
  // An overview tile: the source tiles it was sampled from, a side (it is
  // exact once that reaches the source tiles it stands for).
  int Samples = 0;
};

// What a tile is charged against the cache's bound.
std::size_t CachedBytes(const TDecodedTile& tile);

inline constexpr std::size_t DefaultCacheBytes = 256u << 20;

// Decoded tiles, least recently used dropped first so the bytes held stay
// within the bound. Safe to use from several threads at once; a tile handed
// out stays valid while its holder keeps it, even after it is dropped.
class TTileCache {
 public:
  explicit TTileCache(std::size_t maxBytes = DefaultCacheBytes) : MaxBytes(maxBytes) {}

  // The tile, now the most recently used; null when not held.
  std::shared_ptr<const TDecodedTile> Find(const TTileKey& key);
  // Whether the tile is held, without changing the order.
  bool Contains(const TTileKey& key) const;
  // Replaces a tile held under the key.
  void Put(const TTileKey& key, std::shared_ptr<const TDecodedTile> tile);
  // Drops the tile, if held.
  void Erase(const TTileKey& key);
  void Clear();

  std::size_t Bytes() const;
  std::size_t Size() const;
  std::size_t Bound() const { return MaxBytes; }

 private:
  using TEntry = std::pair<TTileKey, std::shared_ptr<const TDecodedTile>>;
  // Erase with the lock held.
  void EraseHeld(const TTileKey& key);
  mutable std::mutex Lock;
  std::size_t MaxBytes;
  std::size_t Held = 0;
  std::list<TEntry> Order;  // most recent first
  std::unordered_map<TTileKey, std::list<TEntry>::iterator, TTileKeyHash> Index;
};

}  // namespace meridane
