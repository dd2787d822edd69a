#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "support/Images.h"
#include "support/TempDir.h"
#include "task/Descriptor.h"
#include "tiles/TileReader.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::WriteAll;

// Every way a tile folder's entry can hold something other than a tile: none
// is followed, waited on or read whole, and each reads the same way however it
// is asked for.
TEST(TileReader, KindsOfFolderEntries) {
  test::TTempDir dir;
  const fs::path tiles = dir / "tiles";
  fs::create_directories(tiles);
  const std::string good = test::EncodeJpeg(256, 256), blank = "\xFF\xD8\xFF\xE0 blank";
  WriteAll(dir / "elsewhere.jpg", good);
  const auto at = [&](const char* name) { return (tiles / name).string(); };
  const struct {
    const char* Name;
    std::function<void(const std::string&)> Make;
    std::size_t MaxBytes;
    TTileKind Kind;
  } rows[] = {
      {"good", [&](const std::string& p) { WriteAll(p, good); }, DefaultMaxTileBytes, TTileKind::Good},
      {"empty", [&](const std::string& p) { WriteAll(p, ""); }, DefaultMaxTileBytes, TTileKind::Empty},
      {"placeholder", [&](const std::string& p) { WriteAll(p, blank); }, DefaultMaxTileBytes, TTileKind::Placeholder},
      {"html", [&](const std::string& p) { WriteAll(p, "<html>Not Found</html>"); }, DefaultMaxTileBytes,
       TTileKind::NotImage},
      {"link to a good tile", [&](const std::string& p) { fs::create_symlink(dir / "elsewhere.jpg", p); },
       DefaultMaxTileBytes, TTileKind::NotImage},
      {"fifo", [&](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, DefaultMaxTileBytes,
       TTileKind::NotImage},
      {"link to dev zero", [&](const std::string& p) { fs::create_symlink("/dev/zero", p); }, DefaultMaxTileBytes,
       TTileKind::NotImage},
      {"folder", [&](const std::string& p) { fs::create_directory(p); }, DefaultMaxTileBytes, TTileKind::NotImage},
      {"one byte too long", [&](const std::string& p) { WriteAll(p, good); }, good.size() - 1, TTileKind::NotImage},
      {"at the bound", [&](const std::string& p) { WriteAll(p, good); }, good.size(), TTileKind::Good},
      {"10 GB sparse",
       [&](const std::string& p) {
         WriteAll(p, good);
         ASSERT_EQ(::truncate(p.c_str(), 10LL << 30), 0);
       },
       DefaultMaxTileBytes, TTileKind::NotImage},
      {"missing", [](const std::string&) {}, DefaultMaxTileBytes, TTileKind::Missing},
  };
  const TDescriptor folder(::open(tiles.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_GE(folder.Get(), 0);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    row.Make(at(row.Name));
    const TTileReader reader(folder.Get(), blank, row.MaxBytes);
    std::string read = "x", decodable = "x", scratch;
    EXPECT_EQ(reader.Read(row.Name, read), row.Kind);
    EXPECT_EQ(reader.ReadDecodable(row.Name, decodable), row.Kind);
    EXPECT_EQ(reader.Peek(row.Name, scratch), row.Kind);
    // A tile's bytes are appended; anything else leaves them as they were.
    EXPECT_EQ(read, row.Kind == TTileKind::Good ? "x" + good : "x");
    EXPECT_EQ(decodable, read);
  }
  std::string out;
  EXPECT_EQ(TTileReader(-1, blank).Read("good", out), TTileKind::Missing);  // no folder

  // A truncated image starts as one: only decoding tells it.
  WriteAll(at("truncated"), good.substr(0, good.size() / 2));
  const TTileReader reader(folder.Get(), blank);
  EXPECT_EQ(reader.Read("truncated", out), TTileKind::Good);
  EXPECT_EQ(out.size(), good.size() / 2);
  EXPECT_EQ(reader.Peek("truncated", out), TTileKind::Good);
  out.clear();
  EXPECT_EQ(reader.ReadDecodable("truncated", out), TTileKind::NotDecodable);
  EXPECT_EQ(out, "");
}

// A tree's name is walked a folder at a time: a link in place of a zoom's or
// a column's folder is no more followed than one in place of a tile.
TEST(TileReader, TreeNamesFollowNoLinkedFolder) {
  test::TTempDir dir;
  const std::string good = test::EncodeJpeg(256, 256);
  fs::create_directories(dir / "tree/5/7");
  WriteAll(dir / "tree/5/7/9.jpg", good);
  fs::create_directories(dir / "outside/3");
  WriteAll(dir / "outside/3/9.jpg", good);
  fs::create_symlink(dir / "outside/3", dir / "tree/5/3");
  fs::create_symlink(dir / "outside", dir / "tree/6");
  WriteAll(dir / "tree/5/8", "a file in place of a column");
  const TDescriptor folder(::open((dir / "tree").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_GE(folder.Get(), 0);
  const TTileReader reader(folder.Get(), "");
  const struct {
    const char* Name;
    TTileKind Kind;
  } rows[] = {
      {"5/7/9.jpg", TTileKind::Good},     {"5/7/8.jpg", TTileKind::Missing},  {"5/4/9.jpg", TTileKind::Missing},
      {"4/7/9.jpg", TTileKind::Missing},  {"5/3/9.jpg", TTileKind::NotImage}, {"6/3/9.jpg", TTileKind::NotImage},
      {"5/8/9.jpg", TTileKind::NotImage},
  };
  for (const auto& row : rows) {
    std::string out;
    EXPECT_EQ(reader.Read(row.Name, out), row.Kind) << row.Name;
    EXPECT_EQ(out.size(), row.Kind == TTileKind::Good ? good.size() : 0u) << row.Name;
  }
}

}  // namespace
}  // namespace meridane
