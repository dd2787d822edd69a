#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "combine/Combine.h"

namespace meridane::test {

// One Add as a sink saw it.
struct TAdded {
  int X = 0, Y = 0;
  std::optional<std::string> Bytes;
  bool operator==(const TAdded&) const = default;
};

// What the sinks of a factory saw; it outlives them.
struct TSinkLog {
  std::vector<TAdded> Added;
  bool Finished = false;
  int LeftOutAheadAt = -1;  // the count of Adds when LeftOutAhead came
  bool TileIdOrder = false;  // what the sinks ask for
  // Before each Add, with the count so far: may throw or raise a stop.
  std::function<void(int added)> BeforeAdd;
};

// A sink that writes the tiles' bytes one after another into every file
// OutputFiles names for its path (so a picture's world file too), and logs
// its calls. A failed write throws as a real output's does.
class TRecordingSink : public ITileSink {
 public:
  TRecordingSink(TOutputFormat format, const std::filesystem::path& path, TSinkLog& log) : Log(log) {
    for (const auto& file : OutputFiles(format, path)) {
      Files.push_back(std::make_unique<std::ofstream>(file, std::ios::binary));
      if (!*Files.back()) throw std::runtime_error("Cannot create file " + file.string());
    }
  }
  void Add(int x, int y, std::optional<std::string_view> bytes) override {
    if (Log.BeforeAdd) Log.BeforeAdd(static_cast<int>(Log.Added.size()));
    Log.Added.push_back({x, y, bytes ? std::optional<std::string>(*bytes) : std::nullopt});
    for (auto& file : Files) {
      if (bytes) file->write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
      if (!file->flush()) throw std::runtime_error("Unable to write the output");
    }
  }
  void Finish() override { Log.Finished = true; }
  void LeftOutAhead() override { Log.LeftOutAheadAt = static_cast<int>(Log.Added.size()); }
  bool WantsTileIdOrder() const override { return Log.TileIdOrder; }

 private:
  TSinkLog& Log;
  std::vector<std::unique_ptr<std::ofstream>> Files;
};

inline TSinkFactory RecordingSinks(TSinkLog& log) {
  return [&log](TOutputFormat format, const std::filesystem::path& path, const TTileSet&, const TCombineOptions&) {
    return std::unique_ptr<ITileSink>(std::make_unique<TRecordingSink>(format, path, log));
  };
}

}  // namespace meridane::test
