// meridane_write_list TILES FOLDER: writes the image list of a task of about
// TILES tiles into FOLDER and prints its size and the time it took.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "SquareTask.h"
#include "task/DownloadTask.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TILES FOLDER\n", argv[0]);
    return 2;
  }
  const meridane::TTaskParams params = meridane::bench::SquareRequest(std::atoll(argv[1]), std::string(argv[2]) + "/");
  const meridane::TDownloadTask task(params);
  const auto start = std::chrono::steady_clock::now();
  task.WriteImageList();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("tiles %d bytes %ju seconds %.3f\n", task.TotalCount,
              static_cast<std::uintmax_t>(std::filesystem::file_size(task.ListPath)), took.count());
  return 0;
}
