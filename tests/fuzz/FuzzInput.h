#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "support/TempDir.h"

// An entry point for libFuzzer, or for Replay.cpp's corpus runner in other builds.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace meridane::fuzz {

// The input cut at NUL bytes into count fields; the last one takes the rest,
// missing ones are empty. Seeds stay readable text files.
inline std::vector<std::string_view> Fields(const std::uint8_t* data, std::size_t size, std::size_t count) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < count) {
    const std::size_t nul = rest.find('\0');
    fields.push_back(rest.substr(0, nul));
    rest.remove_prefix(nul == std::string_view::npos ? rest.size() : nul + 1);
  }
  fields.push_back(rest);
  return fields;
}

// A folder of the process's own for the files a target reads, removed at exit.
inline const test::TTempDir& Folder() {
  static const test::TTempDir folder;
  return folder;
}

// A property that must hold for every input: a failure is a crash libFuzzer keeps.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

}  // namespace meridane::fuzz
