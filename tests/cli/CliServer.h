#pragma once

// What the tests of meridane-cli share: a configuration for the local nginx,
// the files a task leaves, and the requests nginx saw.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TestServers.h"

namespace meridane::test {

class TCliServer : public ::testing::Test {
 protected:
  // The tests count their requests by this tile-address version in nginx's log.
  static constexpr const char* Version = "v=77";

  void SetUp() override {
    if (TestServerAddress("http").empty()) GTEST_SKIP() << "no test servers";
    Served = std::getenv("MERIDANE_TEST_SERVERS_DIR");
    LogStart = std::filesystem::file_size(Served / "access.log");
    WriteConfig(0);
  }

  // download: more lines of its [Download] section.
  void WriteConfig(int pauseMs, const std::string& download = {}) {
    const std::string host = TestServerAddress("http");
    WriteAll(Config, "[Servers]\r\nHost0=" + host + "\r\nHost1=" + host + "\r\nHost2=" + host + "\r\nHost3=" + host +
                         "\r\nUrlTemplate=http://{host}/kh/" + Version +
                         "&s={galileo}&x={x}&y={y}&z={z}\r\n[Download]\r\nTilePause=" + std::to_string(pauseMs) +
                         "\r\n" + download + "[IniParas]\r\nDefaultPath=" + Dir.Folder() + "maps\r\n");
  }

  // The command line of a rectangle at zoom 10, against the test configuration.
  std::vector<std::string> Area(const char* left, const char* right, const char* top, const char* bottom) {
    return {"--config", Config.string(), "--left", left,     "--right", right,          "--top",
            top,        "--bottom",      bottom,   "--zoom", "10",      "--no-progress"};
  }

  // The log of a task that ended: the lines of its end, and the line of every tile on disk.
  void ExpectSavedLog(const std::string& task) {
    const std::filesystem::path log = Dir / "maps" / (task + "_log.txt");
    const std::string text = ReadAll(log);
    EXPECT_TRUE(text.ends_with("\r\nLog file has been saved as " + log.string() + "\r\n")) << text;
    std::vector<std::string> tiles, unlogged;
    for (const auto& tile : std::filesystem::directory_iterator(Dir / "maps" / task)) {
      tiles.push_back(tile.path().filename().string());
      if (text.find("," + tiles.back() + " OK\r\n") == std::string::npos) unlogged.push_back(tiles.back());
    }
    EXPECT_FALSE(tiles.empty());
    EXPECT_EQ(unlogged, std::vector<std::string>{});
  }

  // This test's tile requests, by URI, with how often each came.
  std::map<std::string, int> Requests() {
    std::ifstream log(Served / "access.log");
    log.seekg(static_cast<std::streamoff>(LogStart));
    std::map<std::string, int> count;
    for (std::string line; std::getline(log, line);)
      if (line.find(std::string("/kh/") + Version + "&") != std::string::npos)
        ++count[line.substr(line.rfind(' ') + 1)];
    return count;
  }

  TTempDir Dir;
  std::filesystem::path Config = Dir / "config.ini";
  std::filesystem::path Served;
  std::uintmax_t LogStart = 0;
};

}  // namespace meridane::test
