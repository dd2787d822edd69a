// The download engine end to end: workers with the real client against the
// local nginx, real tile files, the lines the main window would get.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TestServers.h"
#include "support/WorkerRun.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;

const char* Env(const char* name) { return std::getenv(name); }

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::TestServerAddress("http").empty()) GTEST_SKIP() << "no test servers";
  }
  // A run whose four hosts are the local nginx, with the tile URL of config.ini's default.
  static void Local(test::TWorkerRun& run) {
    const std::string host = test::TestServerAddress("http");
    run.Params.Hosts = {host, host, host, host};
    run.Params.TilePauseMs = 0;
    run.Params.StallTimeoutSeconds = 10;
  }
  static std::string Served(int x, int y) {
    return ReadAll(fs::path(Env("MERIDANE_TEST_SERVERS_DIR")) / "tiles/10" / std::to_string(x) /
                   (std::to_string(y) + ".jpg"));
  }
  static long Count(const std::vector<std::string>& lines, const std::string& part) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
};

TEST_F(Engine, FourWorkersSaveEveryTileAsServed) {
  test::TWorkerRun run(4, 5, 4);
  Local(run);
  run.Go();
  ASSERT_EQ(run.Task().TotalCount, 20);
  for (int x = 843; x <= 846; ++x)
    for (int y = 388; y <= 392; ++y) EXPECT_EQ(ReadAll(run.Path(x, y)), Served(x, y)) << x << "," << y;
  EXPECT_EQ(Count(run.Host.Log, " OK"), 20) << ::testing::PrintToString(run.Host.Log);
  EXPECT_EQ(Count(run.Host.Log, " Finished."), 4);
  EXPECT_EQ(Count(run.Host.EventTexts(), " Saved "), 20);
  EXPECT_EQ(run.Host.Events.size(), 20u);
  EXPECT_TRUE(run.Host.Failed.empty());
  EXPECT_EQ(test::EntryCount(run.Task().TileFolder), 20);  // no temporary file left beside the tiles
}

// Column 851 answers 500, row 398 is not on the server: blanks, records for the
// 500s only, and the walk goes on to the end.
TEST_F(Engine, ServerErrorsAndMissingTilesGetBlankImages) {
  test::TWorkerRun run(2, 2, 1, 851, 397);
  Local(run);
  run.Go();
  EXPECT_EQ(ReadAll(run.Path(852, 397)), Served(852, 397));
  EXPECT_EQ(ReadAll(run.Path(851, 397)), test::BlankBytes);
  EXPECT_EQ(ReadAll(run.Path(852, 398)), test::BlankBytes);
  EXPECT_EQ(run.Host.Failed, (std::vector<std::string>{run.Path(851, 397) + "|" + run.Url(851, 397),
                                                       run.Path(851, 398) + "|" + run.Url(851, 398)}));
  EXPECT_EQ(Count(run.Host.Log, "Error: the image is not found on server.HTTP/1.1 404 Not Found"), 1);
  EXPECT_EQ(Count(run.Host.Log, "T1 HTTP/1.1 500 Internal Server Error->"), 2);
  EXPECT_EQ(run.Host.EventTexts(), (std::vector<std::string>{"T1 Substituted 851-397", "T1 Substituted 851-398",
                                                             "T1 Saved 852-397", "T1 NotFound 852-398"}));
  // Two 500 tiles, one saved tile (no pause configured), one missing tile.
  EXPECT_EQ(run.Sleeper.Pauses, (std::vector<int>{1000, 1000, 1000, 1000, 0, 1000, 1000}));
}

// Column 850 answers 403: the worker that meets it stops, the other goes on.
TEST_F(Engine, ABannedWorkerStopsAlone) {
  test::TWorkerRun run(2, 1, 2, 849, 390);
  Local(run);
  run.Go();
  // Worker 1 (T2) has sequence 1, tile (849, 390); worker 0 (T1) sequence 2, tile (850, 390).
  EXPECT_EQ(ReadAll(run.Path(849, 390)), Served(849, 390));
  EXPECT_FALSE(fs::exists(run.Path(850, 390)));
  EXPECT_EQ(Count(run.Host.Log, "T1 HTTP/1.1 403 Forbidden->" + run.Url(850, 390)), 1);
  EXPECT_EQ(Count(run.Host.Log, "Error: may be your IP is banned.\nPlease try again later."), 1);
  EXPECT_EQ(run.Host.Failed, std::vector<std::string>{run.Path(850, 390) + "|" + run.Url(850, 390)});
  EXPECT_EQ(run.Workers[0]->LastPosition(), std::make_pair(0, 0));
  EXPECT_EQ(run.Workers[1]->LastPosition(), std::make_pair(849, 390));
  std::vector<std::string> events = run.Host.EventTexts();
  std::ranges::sort(events);  // the two workers' in either order
  EXPECT_EQ(events,
            (std::vector<std::string>{"T1 Stopped 850-390: Error: may be your IP is banned.", "T2 Saved 849-390"}));
}

}  // namespace
}  // namespace meridane
