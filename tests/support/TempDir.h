#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace meridane::test {

// A fresh folder under the system's temporary folder, removed with its contents.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "meridane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    Root = pattern;
  }
  // A folder of a chosen name, for pictures that show a path a reader knows
  // ("/home/ann"): it must not exist yet, as it is removed with its contents.
  explicit TTempDir(const std::filesystem::path& fresh) : Root(fresh) {
    if (!std::filesystem::create_directory(Root)) std::abort();
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Root, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return Root; }
  std::filesystem::path operator/(const std::string& name) const { return Root / name; }
  // The folder as the main window passes it: with a trailing separator.
  std::string Folder() const { return Root.string() + "/"; }

 private:
  std::filesystem::path Root;
};

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Names of the entries of a folder, for checks that no stray file was left.
inline int EntryCount(const std::filesystem::path& folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

}  // namespace meridane::test
