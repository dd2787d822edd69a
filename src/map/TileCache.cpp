#include "map/TileCache.h"

namespace meridane {

// A tile without pixels still costs its bookkeeping.
std::size_t CachedBytes(const TDecodedTile& tile) { return tile.Pixels.size() + 128; }

std::shared_ptr<const TDecodedTile> TTileCache::Find(const TTileKey& key) {
  const std::lock_guard guard(Lock);
  const auto found = Index.find(key);
  if (found == Index.end()) return nullptr;
  Order.splice(Order.begin(), Order, found->second);
  return found->second->second;
}

bool TTileCache::Contains(const TTileKey& key) const {
  const std::lock_guard guard(Lock);
  return Index.contains(key);
}

void TTileCache::Put(const TTileKey& key, std::shared_ptr<const TDecodedTile> tile) {
  const std::lock_guard guard(Lock);
  EraseHeld(key);
  Held += CachedBytes(*tile);
  Order.emplace_front(key, std::move(tile));
  Index[key] = Order.begin();
  // The newest tile stays even when it alone is over the bound.
  while (Held > MaxBytes && Order.size() > 1) {
    Held -= CachedBytes(*Order.back().second);
    Index.erase(Order.back().first);
    Order.pop_back();
  }
}

void TTileCache::Erase(const TTileKey& key) {
  const std::lock_guard guard(Lock);
  EraseHeld(key);
}

void TTileCache::EraseHeld(const TTileKey& key) {
  const auto found = Index.find(key);
  if (found == Index.end()) return;
  Held -= CachedBytes(*found->second->second);
  Order.erase(found->second);
  Index.erase(found);
}

void TTileCache::Clear() {
  const std::lock_guard guard(Lock);
  Order.clear();
  Index.clear();
  Held = 0;
}

std::size_t TTileCache::Bytes() const {
  const std::lock_guard guard(Lock);
  return Held;
}

std::size_t TTileCache::Size() const {
  const std::lock_guard guard(Lock);
  return Order.size();
}

}  // namespace meridane
