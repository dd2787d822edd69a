// Runs fuzz targets over their committed corpus in builds without libFuzzer, so
// every seed and every input that once crashed stays a test of the suite.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <vector>

#include "fuzz/FuzzInput.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else {
      inputs.emplace_back(argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::cerr << "no inputs\n";
    return 1;
  }
  for (const fs::path& input : inputs) {
    const std::string bytes = meridane::test::ReadAll(input);
    std::cout << input.filename().string() << '\n';
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::cout << inputs.size() << " inputs\n";
  return 0;
}
