#include "tiles/Inputs.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <system_error>

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "task/Descriptor.h"
#include "tiles/Archive.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

std::string ZoomList(const std::vector<int>& zooms) {
  if (zooms.size() == 1) return "zoom " + std::to_string(zooms.front());
  return "zooms " + std::to_string(zooms.front()) + " to " + std::to_string(zooms.back());
}

std::vector<TTileSource> ArchiveSources(const fs::path& input, const TInputOptions& options,
                                        const TStartConfig& config) {
  std::unique_ptr<ITileArchive> archive;
  try {
    archive = OpenTileArchive(input, static_cast<std::size_t>(std::max(config.MaxTileBytes, 0)));
  } catch (const std::runtime_error& e) {
    throw ETileSourceError(e.what());
  }
  const TTileSet& set = archive->TileSet();
  const std::vector<int> zooms = archive->Zooms();
  std::vector<TTileSource> sources;
  for (const int zoom : zooms) {
    if (options.Zoom && zoom != *options.Zoom) continue;
    TTileSource source;
    source.Set = zoom == set.Zoom ? set : TileSetAtZoom(set, zoom);
    if (source.Set.Name.empty()) source.Set.Name = input.stem().string();
    source.Archive = input.string();
    sources.push_back(std::move(source));
  }
  if (sources.empty())
    throw ETileSourceError("No tiles of zoom " + std::to_string(*options.Zoom) + " in " + input.string() +
                           " (it holds " + ZoomList(zooms) + ")");
  return sources;
}

}  // namespace

std::vector<TTileSource> InputSources(const fs::path& input, const TInputOptions& options, const TStartConfig& config) {
  std::error_code ec;
  if (fs::is_directory(input, ec)) return FolderSources(input, options.Zoom, options.FromSouth);
  if (input.extension() == ".mrd") {
    TTileSource task = TaskSource(input, config);
    if (options.Zoom && task.Set.Zoom != *options.Zoom)
      throw ETileSourceError("No tiles of zoom " + std::to_string(*options.Zoom) + " in " + input.string() +
                             " (its task is of zoom " + std::to_string(task.Set.Zoom) + ")");
    return {std::move(task)};
  }
  return ArchiveSources(input, options, config);
}

TTileSource Overlay(std::vector<TTileSource> sameZoom) {
  if (sameZoom.empty()) throw std::invalid_argument("no source to overlay");
  TTileSource top = std::move(sameZoom.front());
  int minX = top.Set.MinX, minY = top.Set.MinY, maxX = top.Set.MaxX, maxY = top.Set.MaxY;
  for (std::size_t i = 1; i < sameZoom.size(); ++i) {
    TTileSource& other = sameZoom[i];
    minX = std::min(minX, other.Set.MinX);
    minY = std::min(minY, other.Set.MinY);
    maxX = std::max(maxX, other.Set.MaxX);
    maxY = std::max(maxY, other.Set.MaxY);
    // A source given twice (an overlay of overlays) keeps the order flat.
    std::vector<TTileSource> nested = std::move(other.Also);
    other.Also.clear();
    top.Also.push_back(std::move(other));
    for (TTileSource& n : nested) top.Also.push_back(std::move(n));
  }
  TTileSet set = TileSetOfRange(top.Set.Zoom, minX, minY, maxX, maxY);
  set.Format = top.Set.Format;
  set.Name = top.Set.Name;
  set.Description = top.Set.Description;
  top.Set = set;
  return top;
}

std::vector<TTileSource> OpenInputs(const std::vector<fs::path>& inputs, const TInputOptions& options,
                                    const TStartConfig& config) {
  if (inputs.empty()) throw ETileSourceError("No input given.");
  std::map<int, std::vector<TTileSource>> byZoom;
  for (const fs::path& input : inputs)
    for (TTileSource& source : InputSources(input, options, config))
      byZoom[source.Set.Zoom].push_back(std::move(source));
  std::vector<TTileSource> sources;
  for (auto& [zoom, same] : byZoom) sources.push_back(Overlay(std::move(same)));
  return sources;
}

struct TSourceTiles::TLayer {
  TTileSource Source;
  TDescriptor Folder;
  std::optional<TTileReader> Files;
  std::unique_ptr<ITileArchive> Archive;
  std::mutex Reading;  // of the archive
  std::string Blank;
};

TSourceTiles::TSourceTiles(const TTileSource& source, const fs::path& programFolder, std::size_t maxTileBytes) {
  std::vector<const TTileSource*> all{&source};
  for (const TTileSource& also : source.Also) all.push_back(&also);
  for (const TTileSource* one : all) {
    auto layer = std::make_unique<TLayer>();
    layer->Source = *one;
    layer->Source.Also.clear();
    layer->Blank = PlaceholderBytes(programFolder, one->Set.Format);
    if (one->Archive.empty()) {
      layer->Folder = OpenTileFolder(one->Folder);
      layer->Files.emplace(layer->Folder.Get(), layer->Blank, maxTileBytes);
    } else {
      layer->Archive = OpenTileArchive(one->Archive, maxTileBytes);
    }
    LayerList.push_back(std::move(layer));
  }
}

TSourceTiles::~TSourceTiles() = default;

TTileKind TSourceTiles::Get(TLayer& layer, int x, int y, std::string& out, bool peek) {
  const TTileSet& set = layer.Source.Set;
  if (x < set.MinX || x > set.MaxX || y < set.MinY || y > set.MaxY) return TTileKind::Missing;
  if (layer.Files) {
    const std::string name = layer.Source.FileName(x, y);
    if (!peek) return layer.Files->Read(name.c_str(), out);
    std::string scratch;
    return layer.Files->Peek(name.c_str(), scratch);
  }
  std::optional<std::string> bytes;
  {
    const std::lock_guard guard(layer.Reading);
    try {
      bytes = layer.Archive->Get(set.Zoom, x, y);
    } catch (const std::runtime_error& error) {
      const std::lock_guard failure(FailureLock);
      if (!FirstFailure) FirstFailure = error.what();
      throw;
    }
  }
  if (!bytes) return TTileKind::Missing;
  const TTileKind kind = KindOfBytes(*bytes, layer.Blank);
  if (kind == TTileKind::Good && !peek) out += *bytes;
  return kind;
}

TTileKind TSourceTiles::ReadLayer(std::size_t layer, int x, int y, std::string& out) {
  return Get(*LayerList.at(layer), x, y, out, false);
}

TTileKind TSourceTiles::Read(int x, int y, std::string& out) {
  std::optional<TTileKind> first;
  for (const auto& layer : LayerList) {
    const TTileKind kind = Get(*layer, x, y, out, false);
    if (kind == TTileKind::Good) return kind;
    if (!first && kind != TTileKind::Missing) first = kind;
  }
  return first.value_or(TTileKind::Missing);
}

TTileKind TSourceTiles::Peek(int x, int y) {
  std::optional<TTileKind> first;
  std::string none;
  for (const auto& layer : LayerList) {
    const TTileKind kind = Get(*layer, x, y, none, true);
    if (kind == TTileKind::Good) return kind;
    if (!first && kind != TTileKind::Missing) first = kind;
  }
  return first.value_or(TTileKind::Missing);
}

std::optional<std::string> TSourceTiles::Failure() const {
  const std::lock_guard guard(FailureLock);
  return FirstFailure;
}

}  // namespace meridane
