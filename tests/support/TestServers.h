#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace meridane::test {

// "127.0.0.1:PORT" of the test nginx ("http") or tinyproxy ("proxy") that
// tests/servers/servers.sh started in MERIDANE_TEST_SERVERS_DIR; it picks free
// ports and writes them there. Empty when no servers run.
inline std::string TestServerAddress(const std::string& name) {
  const char* dir = std::getenv("MERIDANE_TEST_SERVERS_DIR");
  if (!dir) return {};
  std::ifstream file(std::filesystem::path(dir) / (name + ".address"));
  std::string address;
  file >> address;
  return address;
}

}  // namespace meridane::test
