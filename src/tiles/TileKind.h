#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "task/ImageData.h"
#include "tiles/Projection.h"

namespace meridane {

// What a tile's file or archive entry holds, as the check, the combiner and the
// viewer sort it alike. Every kind but Good is bad: the tile is worth fetching again.
enum class TTileKind { Good, Missing, Empty, NotImage, Placeholder, NotDecodable, OtherSize };
inline constexpr std::size_t TileKindCount = 7;

// Tiles counted by their kind.
struct TTileCounts {
  std::array<long long, TileKindCount> Counts{};

  long long Count(TTileKind kind) const { return Counts[static_cast<std::size_t>(kind)]; }
  long long Total() const {
    long long total = 0;
    for (const long long count : Counts) total += count;
    return total;
  }
};

// "good", "missing", "empty", "not an image", "placeholder", "not decodable", "not 256x256".
std::string_view TileKindName(TTileKind kind);

// What a tile file's bytes hold, without decoding them: Empty, Placeholder (the
// bytes of blank, when there is one), NotImage, or Good.
TTileKind KindOfBytes(std::string_view bytes, std::string_view blank);
// The name a tile of this format goes by in a file name, an archive's
// metadata and a tile set's Format: "jpg", "png", "gif", "webp"; empty for None.
std::string_view TileFormatName(TImageFormat format);

// The placeholder of tiles with this extension ("jpg"): blankimg/blank.jpg of
// the program folder; empty when there is none, and then no tile is one.
std::string PlaceholderBytes(const std::filesystem::path& programFolder, const std::string& extension);

}  // namespace meridane
