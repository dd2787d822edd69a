#include "combine/Levels.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>

#include "combine/Workers.h"
#include "task/Descriptor.h"
#include "tiles/Encode.h"
#include "tiles/Inputs.h"
#include "tiles/Webp.h"

namespace meridane {

namespace {

constexpr int Half = TileSide / 2;

// A built tile on its way to the sink.
struct TEncodedTile {
  int Zoom = 0, X = 0, Y = 0;
  std::string Bytes;
};

// How many built tiles may wait for their compression: enough to keep the
// workers busy, few enough to keep memory small (256 KB each).
constexpr std::size_t MaxWaiting = 32;

}  // namespace

int LowestZoom(const std::vector<TTileSet>& sets) {
  if (sets.empty()) return 0;
  int top = 0, lowest = 30;
  for (const TTileSet& set : sets) top = std::max(top, set.Zoom), lowest = std::min(lowest, set.Zoom);
  // The sets' rectangles at the top zoom, joined.
  long long x0 = -1, y0 = -1, x1 = -1, y1 = -1;
  for (const TTileSet& set : sets) {
    const int shift = top - set.Zoom;
    const long long a = static_cast<long long>(set.MinX) << shift, b = static_cast<long long>(set.MinY) << shift;
    const long long c = ((static_cast<long long>(set.MaxX) + 1) << shift) - 1;
    const long long d = ((static_cast<long long>(set.MaxY) + 1) << shift) - 1;
    x0 = x0 < 0 ? a : std::min(x0, a), y0 = y0 < 0 ? b : std::min(y0, b);
    x1 = std::max(x1, c), y1 = std::max(y1, d);
  }
  int zoom = top;
  while (zoom > 0 && ((x0 >> (top - zoom)) != (x1 >> (top - zoom)) || (y0 >> (top - zoom)) != (y1 >> (top - zoom))))
    --zoom;
  return std::min(zoom, lowest);
}

TTileKind DecodeAndHalve(std::string_view bytes, bool pixels, TRgba& scratch, TRgba& half) {
  half.clear();
  const TImageFormat format = ImageFormatOf(bytes);
  if (format != TImageFormat::Jpeg && format != TImageFormat::Png && format != TImageFormat::WebP) {
    const TTileKind kind = DecodedKind(bytes);
    return kind == TTileKind::Good && pixels ? TTileKind::NotDecodable : kind;
  }
  scratch.resize(TilePixels * 4);
  switch (DecodeImage(bytes, TileSide, TileSide, scratch.data())) {
    case TImageCheck::Sound: HalveTile(scratch.data(), half); return TTileKind::Good;
    case TImageCheck::OtherSize: return TTileKind::OtherSize;
    case TImageCheck::Undecodable: break;
  }
  return TTileKind::NotDecodable;
}

TImageFormat LevelTileFormat(TImageFormat built, TImageFormat child) {
  if (built == TImageFormat::Png || child == TImageFormat::Png) return TImageFormat::Png;
  if (built == TImageFormat::WebP || child == TImageFormat::WebP) return TImageFormat::WebP;
  return TImageFormat::Jpeg;
}

std::string EncodeLevelTile(const TRgba& pixels, TImageFormat format, int quality) {
  switch (format) {
    case TImageFormat::Png: return EncodePngTile(pixels);
    case TImageFormat::Jpeg: return EncodeJpegTile(pixels, quality);
    case TImageFormat::WebP: return EncodeWebpTile(pixels, quality);
    default: break;
  }
  throw std::logic_error("no encoder for a built tile's format");
}

struct TLevelBuilder::TState {
  // A tile of a level being built from its children.
  struct TBuilt {
    TRgba Pixels;
    TImageFormat Format = TImageFormat::None;
  };
  // The tiles another input gives a level.
  struct TInput {
    const TTileSource* Source = nullptr;
    std::unique_ptr<TSourceTiles> Tiles;
    long long NextRow = 0;  // the first row not yet handed on
  };
  struct TLevel {
    int Zoom = 0;
    long long Row = -1;  // the row being built; -1 before the first
    std::map<int, TBuilt> Tiles;
    std::optional<TInput> Input;
  };

  TOptions Options;
  ITileSink& Sink;
  std::vector<TLevel> Levels;  // [0] is the zoom below the base, then down to MinZoom
  TOrderedWorkers<TEncodedTile> Workers;
  std::map<int, long long> Written;
  long long Built = 0;
  TTileCounts InputCounts;
  TRgba Scratch;  // an input tile's pixels

  TState(const TOptions& options, ITileSink& sink) : Options(options), Sink(sink) {}

  void Stored(int zoom) { ++Written[zoom]; }

  void Drain(std::size_t keep) {
    while (Workers.Size() > keep) {
      const TEncodedTile tile = Workers.Next();
      Sink.AddLevelTile(tile.Zoom, tile.X, tile.Y, tile.Bytes);
      Stored(tile.Zoom);
      ++Built;
    }
  }

  // A child's halved pixels into its quarter of the tile above it at level i.
  void Take(std::size_t i, int x, int y, const TRgba& half, TImageFormat format) {
    if (i >= Levels.size()) return;
    TLevel& level = Levels[i];
    const long long row = y / 2;
    if (row != level.Row) {
      if (level.Row >= 0) Emit(i, level.Row);
      EmitInputRowsBefore(i, row);
      level.Row = row;
    }
    TBuilt& tile = level.Tiles[x / 2];
    if (tile.Pixels.empty()) tile.Pixels.assign(TilePixels * 4, 0);
    tile.Format = LevelTileFormat(tile.Format, format);
    const int left = (x % 2) * Half, top = (y % 2) * Half;
    for (int r = 0; r < Half; ++r)
      std::copy_n(half.data() + static_cast<std::size_t>(r) * Half * 4, Half * 4,
                  tile.Pixels.data() + (static_cast<std::size_t>(top + r) * TileSide + left) * 4);
  }

  // The rows of level i's input that lie before row and are not handed on yet.
  void EmitInputRowsBefore(std::size_t i, long long row) {
    TLevel& level = Levels[i];
    if (!level.Input) return;
    const TTileSet& set = level.Input->Source->Set;
    for (long long r = std::max<long long>(level.Input->NextRow, set.MinY); r < std::min<long long>(row, set.MaxY + 1L); ++r)
      Emit(i, r);
  }

  // Reads the input's tile; a good one's bytes in bytes and, when it decodes,
  // its pixels halved in halved (else halved is empty).
  TTileKind ReadInput(const TInput& input, int x, int y, std::string& bytes, TRgba& halved) {
    bytes.clear();
    halved.clear();
    const TTileKind kind = input.Tiles->Read(x, y, bytes);
    return kind == TTileKind::Good ? DecodeAndHalve(bytes, false, Scratch, halved) : kind;
  }

  // Row r of level i complete: its tiles to the sink, the input's where it
  // has sound ones, and each down to the level below. The level below may
  // complete rows of its own meanwhile, so what is handed down is this call's own.
  void Emit(std::size_t i, long long r) {
    TLevel& level = Levels[i];
    const int zoom = level.Zoom, y = static_cast<int>(r);
    std::map<int, TBuilt> built;
    if (r == level.Row) built.swap(level.Tiles);
    if (level.Input) {
      TInput& input = *level.Input;
      const TTileSet& set = input.Source->Set;
      input.NextRow = std::max(input.NextRow, r + 1);
      std::string bytes;
      TRgba halved;
      if (r >= set.MinY && r <= set.MaxY)
        for (int x = set.MinX; x <= set.MaxX; ++x) {
          const TTileKind kind = ReadInput(input, x, y, bytes, halved);
          ++InputCounts.Counts[static_cast<std::size_t>(kind)];
          if (kind != TTileKind::Good) continue;
          Sink.AddLevelTile(zoom, x, y, bytes);
          Stored(zoom);
          built.erase(x);
          if (!halved.empty()) Take(i + 1, x, y, halved, ImageFormatOf(bytes));
        }
    }
    for (auto& [x, tile] : built) Down(i, x, y, std::move(tile));
  }

  // A built tile of row y at level i: compressed on a worker, halved down to the level below.
  void Down(std::size_t i, int x, int y, TBuilt&& tile) {
    const int zoom = Levels[i].Zoom;
    if (i + 1 < Levels.size()) {
      TRgba halved;
      HalveTile(tile.Pixels.data(), halved);
      Take(i + 1, x, y, halved, tile.Format);
    }
    Workers.Submit([zoom, x, y, quality = Options.Quality, tile = std::move(tile)] {
      return TEncodedTile{zoom, x, y, EncodeLevelTile(tile.Pixels, tile.Format, quality)};
    });
    Drain(MaxWaiting);
  }
};

TLevelBuilder::TLevelBuilder(const TTileSet& base, const std::vector<const TTileSource*>& inputs,
                             const TOptions& options, ITileSink& sink)
    : State(std::make_unique<TState>(options, sink)) {
  if (options.MinZoom < 0 || options.MinZoom > base.Zoom)
    throw ETileSourceError("The lowest zoom must be 0 to " + std::to_string(base.Zoom) + ", the zoom of the tiles.");
  for (int zoom = base.Zoom - 1; zoom >= options.MinZoom; --zoom) State->Levels.emplace_back().Zoom = zoom;
  for (const TTileSource* input : inputs) {
    const int zoom = input->Set.Zoom;
    if (zoom >= base.Zoom || zoom < options.MinZoom)
      throw ETileSourceError("An input of zoom " + std::to_string(zoom) + " lies outside the zooms " +
                             std::to_string(options.MinZoom) + " to " + std::to_string(base.Zoom) + " written.");
    TState::TLevel& level = State->Levels[static_cast<std::size_t>(base.Zoom - 1 - zoom)];
    if (level.Input) throw ETileSourceError("Two inputs are of zoom " + std::to_string(zoom) + ".");
    TState::TInput& in = level.Input.emplace();
    in.Source = input;
    in.Tiles = std::make_unique<TSourceTiles>(*input, options.ProgramFolder, options.MaxTileBytes);
  }
}

TLevelBuilder::~TLevelBuilder() = default;

void TLevelBuilder::AddHalf(int x, int y, const TRgba& half, TImageFormat format) { State->Take(0, x, y, half, format); }

void TLevelBuilder::Finish() {
  TState& s = *State;
  for (std::size_t i = 0; i < s.Levels.size(); ++i) {
    TState::TLevel& level = s.Levels[i];
    if (level.Row >= 0) s.Emit(i, level.Row);
    level.Row = -1;
    s.EmitInputRowsBefore(i, std::numeric_limits<long long>::max());
  }
  s.Drain(0);
}

const std::map<int, long long>& TLevelBuilder::Written() const { return State->Written; }
long long TLevelBuilder::Built() const { return State->Built; }
const TTileCounts& TLevelBuilder::InputCounts() const { return State->InputCounts; }

}  // namespace meridane
