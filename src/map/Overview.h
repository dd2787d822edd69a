#pragma once

#include <functional>
#include <optional>

#include "map/MapSource.h"
#include "map/TileCache.h"

namespace meridane {

// Overview tiles: a tile of a zoom below the source's, 2^k x 2^k source tiles
// scaled into one. Building one exactly takes 4^k source tiles, far too many
// for a view of a whole large task, so it is built from at most samples x
// samples of them, each standing for its block of source tiles: a coarse
// picture first, a finer one when the view stays.

// Samples a side of the first, quick build and of the refined one.
inline constexpr int CoarseSamples = 8;
inline constexpr int FineSamples = 32;

// Whether an overview tile of the level would change when built again with
// more samples.
bool Refinable(const TDecodedTile& tile, int level, int samples);

// Builds the overview tile key (its zoom below the source's) from at most
// samples x samples source tiles, those already in the cache taken from it
// and not read again. Pixels no source tile covers, and those of missing,
// placeholder and damaged tiles, are transparent; a tile with none is
// Missing. Nothing when stop answers true (asked between source tiles).
std::optional<TDecodedTile> BuildOverview(IMapSource& source, TTileCache& cache, const TTileKey& key, int samples,
                                          const std::function<bool()>& stop = {});

}  // namespace meridane
