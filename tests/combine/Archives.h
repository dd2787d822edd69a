#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "combine/Mbtiles.h"
#include "combine/Pmtiles.h"
#include "combine/Source.h"
#include "combine/TileSink.h"
#include "geo/Commonfunc.h"
#include "tiles/MbtilesReader.h"
#include "tiles/PmtilesReader.h"

namespace meridane::test {

// The tile set of columns x0..x1 and rows y0..y1 (from the north) of a zoom.
inline TTileSet SetOf(int zoom, int x0, int y0, int x1, int y1, std::string format = "jpg") {
  TTileSet set;
  set.Zoom = zoom;
  set.MinX = x0, set.MinY = y0, set.MaxX = x1, set.MaxY = y1;
  set.West = TileXToLon(x0, zoom), set.East = TileXToLon(x1 + 1.0, zoom);
  set.North = TileYToLat(y0, zoom, 0), set.South = TileYToLat(y1 + 1.0, zoom, 0);
  set.WestMetres = TileEdgeXMetres(x0, zoom), set.EastMetres = TileEdgeXMetres(x1 + 1LL, zoom);
  set.NorthMetres = TileEdgeYMetres(y0, zoom), set.SouthMetres = TileEdgeYMetres(y1 + 1LL, zoom);
  set.Format = std::move(format);
  set.Name = "Lake \"Ohrid\" \\ 2";
  set.Description = "tiles of\na lake";
  return set;
}

// What a tile's bytes are, or nothing for a tile left out.
using TTileRule = std::function<std::optional<std::string>(int x, int y)>;

// The orders a sink may be given a set's tiles in.
enum class TOrder {
  Rows,            // from the north, as for the zooms below
  TileIds,         // as the feed gives a sink that asks for it
  LastTwoSwapped,  // tile ids but the last two: out of order only at the end
};

// Gives a sink every tile of the set as the combiner does: row by row from the
// north, or in another order.
inline void WriteSet(ITileSink& sink, const TTileSet& set, const TTileRule& rule, TOrder order = TOrder::Rows) {
  const TTileOrder tiles(set, order != TOrder::Rows);
  for (long long i = 0; i < tiles.Count(); ++i) {
    const long long last = tiles.Count() - 1;
    const bool swapped = order == TOrder::LastTwoSwapped && i >= last - 1;
    const auto [x, y] = tiles.At(swapped ? 2 * last - 1 - i : i);
    const std::optional<std::string> bytes = rule(x, y);
    sink.Add(x, y, bytes ? std::optional<std::string_view>(*bytes) : std::nullopt);
  }
  sink.Finish();
}

enum class TArchiveKind { Mbtiles, Pmtiles };

inline std::unique_ptr<ITileSink> WriterOf(TArchiveKind kind, const std::filesystem::path& path, const TTileSet& set) {
  if (kind == TArchiveKind::Mbtiles) return std::make_unique<TMbtilesWriter>(path, set);
  return std::make_unique<TPmtilesWriter>(path, set);
}

// A command's standard output, and its exit status.
inline std::pair<std::string, int> RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {"", -1};
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, got);
  const int status = ::pclose(pipe);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

inline bool HaveProgram(const std::string& name) { return RunCommand("command -v " + name + " >/dev/null 2>&1").second == 0; }

}  // namespace meridane::test
