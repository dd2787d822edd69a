#pragma once

#include <cstddef>
#include <string>

#include "tiles/TileKind.h"

namespace meridane {

// A tile is read no further than this unless the configuration's MaxTileBytes
// says otherwise: anything longer is no tile.
inline constexpr std::size_t DefaultMaxTileBytes = 16 * 1024 * 1024;

// The one way every program reads a tile file. Only a regular file of the
// folder itself is a tile: a link is not followed (it would read files out of
// the task), a pipe or device is not waited on, and nothing longer than
// maxBytes is read. Safe to use from several threads at once.
class TTileReader {
 public:
  // folder: the open tile folder (-1: a missing folder, which holds no tile);
  // blank: the placeholder's bytes (empty: no tile is one).
  TTileReader(int folder, std::string blank, std::size_t maxBytes = DefaultMaxTileBytes);

  // Sorts the tile by its bytes: Missing, Empty, NotImage (no regular file, a
  // link, unreadable, too long, or not an image's first bytes), Placeholder or
  // Good. A good tile's bytes are appended to out; out is left as it was otherwise.
  TTileKind Read(const char* name, std::string& out) const;
  // As Read, and a good tile must decode to its end at TileSide square: else
  // NotDecodable or OtherSize.
  TTileKind ReadDecodable(const char* name, std::string& out) const;
  // As Read without decoding, reading only as many first bytes as tell the
  // kind (the check's quick pass over millions of tiles).
  TTileKind Peek(const char* name, std::string& scratch) const;

  const std::string& Blank() const { return Placeholder; }

 private:
  TTileKind ReadAtMost(const char* name, std::size_t wanted, std::string& out) const;

  int Folder;
  std::string Placeholder;
  std::size_t MaxBytes;
};

// The kind of good tile bytes once decoded: Good, NotDecodable or OtherSize.
TTileKind DecodedKind(std::string_view bytes);

}  // namespace meridane
