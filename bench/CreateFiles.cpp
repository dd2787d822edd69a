// meridane_create_files FOLDER COUNT [plain|atomic|rename]: how fast this disk
// creates COUNT small files (10-25 KB, as tiles are): written plainly, atomically
// as the engine writes tiles, or through a named temporary file and a rename.
// Prints files per second.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "config/AtomicFile.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER COUNT [atomic]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  const std::string mode = argc > 3 ? argv[3] : "plain";
  std::mt19937 random(7);
  std::string data(25 * 1024, '\0');
  for (char& c : data) c = static_cast<char>(random());
  std::uniform_int_distribution<std::size_t> size(10 * 1024, 25 * 1024);

  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const std::string path = folder + "/f_" + std::to_string(i) + ".jpg";
    const std::string_view bytes(data.data(), size(random));
    if (mode == "atomic") {
      meridane::WriteFileAtomic(path, bytes, meridane::TFlush::Cache);  // as tiles are written
      continue;
    }
    const std::string written = mode == "rename" ? path + ".tmp" : path;
    std::FILE* f = std::fopen(written.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) return 1;
    if (mode == "rename" && std::rename(written.c_str(), path.c_str()) != 0) return 1;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("files %d seconds %.3f files_per_second %.0f\n", count, took.count(), count / took.count());
  return 0;
}
