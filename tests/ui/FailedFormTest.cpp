// The re-download dialog driven as a user would: against the local nginx for
// real tiles and status codes, and the fault server for resets and request bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "support/FaultServer.h"
#include "support/Memory.h"
#include "support/TempDir.h"
#include "support/TestServers.h"
#include "task/DownloadTask.h"
#include "ui/FailedForm.h"
#include "ui/HeadlessToolkit.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TFaultAction;
using test::TFaultServer;
using test::WriteAll;
using TLines = std::vector<std::string>;

const std::string Jpeg = "\xFF\xD8\xFF\xE0 fault tile";
const std::string Start = TfrmFlt::StartLine, End = TfrmFlt::EndLine, Banned = TfrmFlt::BannedLine;

std::string Answer(const std::string& statusLine, const std::string& body = "") {
  return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A dialog with a config.ini of its own in a temporary folder.
struct TDialog {
  explicit TDialog(const std::string& config = "",
                   std::function<std::unique_ptr<IHttpClient>()> makeClient = MakeCurlHttpClient)
      : Form(Toolkit, Dir / "config.ini", std::move(makeClient)) {
    WriteAll(Dir / "config.ini", config);
    Form.OnLine = [this](const std::string& line) { Seen.push_back(line); };
  }
  // Answers the open dialog with a list of these bytes and runs; the transcript.
  TLines Run(const std::string& list) {
    WriteAll(List, list);
    Seen.clear();
    Toolkit.OpenFileAnswers.push_back(List.string());
    Form.Button1Click();
    while (Form.Running()) Toolkit.Pump(std::chrono::milliseconds(10));
    TLines lines;
    for (std::size_t i = 0; i < Form.Memo1.Count(); ++i) lines.emplace_back(Form.Memo1.Line(i));
    EXPECT_EQ(lines, Seen);
    EXPECT_EQ(ReadAll(List), list);  // only read
    return lines;
  }
  // Runs the lines "<folder>/<name>|<url>" ("|<url>" for no name) ended by CR LF, LF,
  // CR LF..., the last by nothing, each named file holding a placeholder. In the
  // transcript returned "<path i>:<url i>" reads "@i" and "<url i>" reads "#i".
  TLines RunItems(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string list;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (!items[i].first.empty()) WriteAll(Dir / items[i].first, "placeholder");
      list += (i == 0 ? "" : i % 2 ? "\r\n" : "\n") + Path(items[i].first) + "|" + items[i].second;
    }
    TLines lines = Run(list);
    for (std::string& line : lines)
      for (std::size_t i = items.size(); i-- > 0;) {
        const std::string& url = items[i].second;
        if (line.starts_with(Path(items[i].first) + ":" + url))
          line.replace(0, Path(items[i].first).size() + 1 + url.size(), "@" + std::to_string(i));
        if (const auto at = line.find(url); at != std::string::npos)
          line.replace(at, url.size(), "#" + std::to_string(i));
      }
    return lines;
  }
  std::string Path(const std::string& name) const { return name.empty() ? "" : (Dir / name).string(); }

  test::TTempDir Dir;
  fs::path List = Dir / "failed.ftl";
  THeadlessToolkit Toolkit;
  TfrmFlt Form;
  TLines Seen;
};

TEST(FailedTiles, EmptyMissingOrCancelledList) {
  TDialog d;
  EXPECT_EQ(d.Run(""), TLines{TfrmFlt::EmptyList});
  ASSERT_EQ(d.Toolkit.Dialogs.size(), 1u);
  EXPECT_EQ(d.Toolkit.Dialogs[0].Title, "Open ftl file:");
  EXPECT_EQ(d.Toolkit.Dialogs[0].Filter, "Projects(*.ftl)|*.ftl");

  d.Toolkit.OpenFileAnswers.push_back(std::nullopt);
  d.Form.Button1Click();
  EXPECT_EQ(d.Toolkit.Dialogs.size(), 2u);
  EXPECT_EQ(d.Form.Memo1.Count(), 1u);  // a cancel keeps the last transcript

  d.Toolkit.OpenFileAnswers.push_back((d.Dir / "missing.ftl").string());
  d.Form.Button1Click();
  EXPECT_EQ(d.Toolkit.Errors, TLines{"Cannot open file " + (d.Dir / "missing.ftl").string()});
  EXPECT_EQ(d.Form.Memo1.Count(), 0u);
}

// A failure without text (the client could not even start a request) cannot be
// provoked through a server, so a stub client throws it.
TEST(FailedTiles, FailureWithoutTextIsNoSuccess) {
  struct TTextlessFailure : IHttpClient {
    void Get(const std::string&, std::string&) override { throw EHttpError(""); }
  };
  TDialog d("", [] { return std::make_unique<TTextlessFailure>(); });
  EXPECT_EQ(d.RunItems({{"gs_5_5_5.jpg", "http://127.0.0.1/t.jpg"}}), (TLines{Start, "->#0", End}));
  EXPECT_EQ(ReadAll(d.Dir / "gs_5_5_5.jpg"), "placeholder");
  EXPECT_EQ(d.Form.FailedCount(), 1);
}

// Answers every request with a JPEG and records its URL; During runs inside the request.
struct TJpegClient : IHttpClient {
  TJpegClient(TLines& urls, std::function<void()> during) : Urls(urls), During(std::move(during)) {}
  void Get(const std::string& url, std::string& buffer) override {
    Urls.push_back(url);
    if (During) During();
    buffer += Jpeg;
  }
  TLines& Urls;
  std::function<void()> During;
};

// Lists are shared: a line may only replace or create a tile file in a folder that
// exists, and the lines after one that may not are still fetched.
TEST(FailedTiles, CraftedListWritesOnlyTileFiles) {
  TLines requested;
  TDialog d("", [&] { return std::make_unique<TJpegClient>(requested, nullptr); });
  const fs::path maps = d.Dir / "maps", victim = d.Dir / ".bashrc";
  const std::string m = maps.string();
  fs::create_directory(maps);
  WriteAll(victim, "secret");
  WriteAll(maps / "ms_3_7_5.jpg", "placeholder");
  // Named like tiles: a link to the victim ("403" in a refused name does not stop the run),
  // a pipe and a folder.
  fs::create_symlink(victim, maps / "gs_403_1_10.jpg");
  ASSERT_EQ(::mkfifo((maps / "gs_2_1_10.jpg").c_str(), 0644), 0);
  fs::create_directory(maps / "gs_3_1_10.jpg");
  // A folder on the way that is a link leads elsewhere, wherever it stands.
  const fs::path elsewhere = d.Dir / "elsewhere";
  fs::create_directories(elsewhere / "sub");
  fs::create_directory_symlink(elsewhere, maps / "lnk");

  const std::string notTile = TfrmFlt::NotTileFile, notAbsolute = TfrmFlt::NotAbsolutePath,
                    notRegular = TfrmFlt::NotRegularFile;
  struct TCase {
    std::string Path, Refusal;  // no refusal: fetched and written
  };
  std::vector<TCase> cases = {
      {victim.string(), notTile + victim.string()},
      {m + "/../.bashrc", notTile + m + "/../.bashrc"},
      {fs::relative(victim).string(), notTile + fs::relative(victim).string()},
      {fs::relative(maps / "gs_1_1_10.jpg").string(), notAbsolute + fs::relative(maps / "gs_1_1_10.jpg").string()},
      {victim.string() + std::string("\0.jpg", 5), TfrmFlt::NulInPath},
      {m + "/gs_843_388_10.jpg", ""},
      {m + "/gs_403_1_10.jpg", notRegular + m + "/gs_403_1_10.jpg"},
      {m + "/gs_2_1_10.jpg", notRegular + m + "/gs_2_1_10.jpg"},
      {m + "/gs_3_1_10.jpg", notRegular + m + "/gs_3_1_10.jpg"},
      {(d.Dir / "none/gs_1_1_10.jpg").string(), TfrmFlt::NoSuchFolder + (d.Dir / "none").string()},
      {m + "/", notTile + m + "/"},
      {m + "/lnk/gs_4_1_10.jpg", TfrmFlt::LinkInPath + m + "/lnk"},
      {m + "/lnk/sub/gs_4_1_10.jpg", TfrmFlt::LinkInPath + m + "/lnk"},
      {m + "/../maps/gs_5_1_10.jpg", TfrmFlt::ParentInPath + m + "/../maps/gs_5_1_10.jpg"},
  };
  for (const char* name : {"gs_1_1_10.png", "gs_01_1_10.jpg", "gs_-0_1_10.jpg", "gs_+1_1_10.jpg", "gs_1_1_10.jpg.sh",
                           "gs_1_1_10.JPG", "xx_1_1_10.jpg", "gs_1_1.jpg", "gs_1_1_1_10.jpg", "gs_1_1__10.jpg",
                           "gs_1_1_4294967306.jpg", "_1_1_10.", ".gs_1_1_10.jpg"})
    cases.push_back({m + "/" + name, notTile + m + "/" + name});
  // Other map types, a row above the grid, a placeholder replaced; a good last line still runs.
  for (const char* name : {"gm_0_0_1.png", "os_0_-1_2.png", "mh_7_7_3.jpg", "ms_3_7_5.jpg"})
    cases.push_back({m + "/" + name, ""});

  std::string list;
  TLines expected{Start}, fetched;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string url = "http://127.0.0.1/" + std::to_string(i);
    list += cases[i].Path + "|" + url + "\r\n";
    expected.push_back(cases[i].Refusal.empty() ? cases[i].Path + ":" + url + " ->OK" : cases[i].Refusal + "->" + url);
    if (cases[i].Refusal.empty()) fetched.push_back(url);
  }
  expected.push_back(End);
  EXPECT_EQ(d.Run(list), expected);
  EXPECT_EQ(d.Toolkit.Errors, TLines{});
  EXPECT_EQ(requested, fetched);
  EXPECT_EQ(d.Form.FailedCount(), static_cast<int>(cases.size() - fetched.size()));

  EXPECT_EQ(ReadAll(victim), "secret");
  EXPECT_EQ(fs::read_symlink(maps / "gs_403_1_10.jpg"), victim);
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(maps / "gs_2_1_10.jpg")));
  EXPECT_TRUE(fs::is_directory(maps / "gs_3_1_10.jpg"));
  EXPECT_FALSE(fs::exists(d.Dir / "none"));
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(maps)) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"gs_403_1_10.jpg", "gs_2_1_10.jpg", "gs_3_1_10.jpg", "gs_843_388_10.jpg",
                                          "gm_0_0_1.png", "os_0_-1_2.png", "mh_7_7_3.jpg", "ms_3_7_5.jpg", "lnk"}));
  EXPECT_EQ(test::EntryCount(elsewhere), 1);
  EXPECT_TRUE(fs::is_empty(elsewhere / "sub"));
  for (const char* name : {"gs_843_388_10.jpg", "os_0_-1_2.png", "ms_3_7_5.jpg"})
    EXPECT_EQ(ReadAll(maps / name), Jpeg) << name;
}

// The check is made again once the tile is fetched: a link put in its place
// meanwhile is neither followed nor replaced.
TEST(FailedTiles, TileTurnedIntoLinkWhileFetched) {
  TLines requested;
  test::TTempDir dir;
  const fs::path victim = dir / "victim", tile = dir / "gs_1_1_10.jpg";
  WriteAll(victim, "secret");
  auto swap = [&] {
    fs::remove(tile);
    fs::create_symlink(victim, tile);
  };
  TDialog d("", [&] { return std::make_unique<TJpegClient>(requested, swap); });
  EXPECT_EQ(d.Run(tile.string() + "|http://127.0.0.1/t"),
            (TLines{Start, TfrmFlt::NotRegularFile + tile.string() + "->http://127.0.0.1/t", End}));
  EXPECT_EQ(requested.size(), 1u);
  EXPECT_EQ(ReadAll(victim), "secret");
  EXPECT_EQ(fs::read_symlink(tile), victim);
}

// Stop during a fetch: the transcript says so and counts the lines left,
// the one cut short among them, before the end line.
TEST(FailedTiles, StopSaysHowManyLinesWereNotTried) {
  // The request of line `stopAt` holds until Stop, then ends as a stopped transfer does.
  struct THoldingClient : IHttpClient {
    THoldingClient(std::atomic<int>& held, int stopAt) : Held(held), StopAt(stopAt) {}
    void Get(const std::string&, std::string& buffer) override {
      if (++Calls == StopAt) {
        Held = 1;
        while (!Settings.StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        throw EHttpError(std::string(StoppedMessage));
      }
      buffer += Jpeg;
    }
    std::atomic<int>& Held;
    int StopAt, Calls = 0;
  };
  const struct {
    int Lines, StopAt;
    long long NotTried;
  } cases[] = {{4, 2, 3}, {1, 1, 1}, {3, 3, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.StopAt);
    std::atomic<int> held{0};
    TDialog d("", [&] { return std::make_unique<THoldingClient>(held, c.StopAt); });
    std::string list;
    for (int i = 0; i < c.Lines; ++i) {
      const std::string name = "gs_" + std::to_string(i) + "_1_10.jpg";
      WriteAll(d.Dir / name, "placeholder");
      list += (d.Dir / name).string() + "|http://127.0.0.1/" + std::to_string(i) + "\r\n";
    }
    WriteAll(d.List, list);
    d.Toolkit.OpenFileAnswers.push_back(d.List.string());
    d.Form.Button1Click();
    while (!held) d.Toolkit.Pump(std::chrono::milliseconds(1));
    d.Form.Button2Click();
    while (d.Form.Running()) d.Toolkit.Pump(std::chrono::milliseconds(1));
    const std::size_t count = d.Form.Memo1.Count();
    ASSERT_EQ(count, static_cast<std::size_t>(c.StopAt) + 2);  // Start, the lines done, the stop, the end
    EXPECT_EQ(d.Form.Memo1.Line(count - 2), TfrmFlt::StoppedLine(c.NotTried));
    EXPECT_EQ(d.Form.Memo1.Line(count - 1), End);
    EXPECT_EQ(ReadAll(d.Dir / ("gs_" + std::to_string(c.StopAt - 1) + "_1_10.jpg")), "placeholder");
  }
  EXPECT_EQ(TfrmFlt::StoppedLine(1), "Stopped by the user: 1 line of the list not tried.");
  EXPECT_EQ(TfrmFlt::StoppedLine(12), "Stopped by the user: 12 lines of the list not tried.");
}

// A list of millions of lines is read as the run goes, and the transcript keeps
// what the window shows: memory stays flat. The first line's fetch waits, so
// the run is caught with the list open.
TEST(FailedTiles, LongListKeepsMemoryFlat) {
  if (!test::MemoryBounded) GTEST_SKIP() << "sanitizers keep memory of their own";
  struct TWaitingClient : IHttpClient {
    explicit TWaitingClient(std::shared_future<void> go) : Go(std::move(go)) {}
    void Get(const std::string&, std::string& buffer) override {
      Go.wait();
      buffer += "not an image";
    }
    std::shared_future<void> Go;
  };
  std::promise<void> go;
  TDialog d("", [&] { return std::make_unique<TWaitingClient>(go.get_future().share()); });
  constexpr int Lines = 200000;
  {
    std::string list = (d.Dir / "gs_1_1_10.jpg").string() + "|http://127.0.0.1/x\r\n";
    for (int i = 1; i < Lines; ++i) list += "/no/tile/" + std::to_string(i) + ".txt|http://127.0.0.1/x\r\n";
    WriteAll(d.List, list);
  }
  d.Form.OnLine = nullptr;
  const test::TMemoryPeak peak;
  d.Toolkit.OpenFileAnswers.push_back(d.List.string());
  d.Form.Button1Click();
  EXPECT_LT(peak.GrowthMb(), 4);
  go.set_value();
  while (d.Form.Running()) d.Toolkit.Pump(std::chrono::milliseconds(10));
  EXPECT_EQ(d.Form.Memo1.Count(), Lines + 2u);
  EXPECT_LT(d.Form.Memo1.MemoryUsed(), 1u << 20);
}

class FailedTilesNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    Host = test::TestServerAddress("http");
    if (Host.empty()) GTEST_SKIP() << "no test servers in MERIDANE_TEST_SERVERS_DIR";
    Served = std::getenv("MERIDANE_TEST_SERVERS_DIR");
    LogStart = fs::file_size(Served / "access.log");
  }
  // v= is a number no other test uses, so the access log tells this test's requests apart.
  std::string Tile(int x, int y, int v = 4317) const {
    return "http://" + Host + "/kh/v=" + std::to_string(v) + "&s=" + GalileoPrefix(x, y) + "&x=" + std::to_string(x) +
           "&y=" + std::to_string(y) + "&z=10";
  }
  // Requests logged since SetUp whose address contains part.
  int Logged(const std::string& part) const {
    std::istringstream log(ReadAll(Served / "access.log").substr(LogStart));
    int count = 0;
    for (std::string line; std::getline(log, line);) count += line.find(part) != std::string::npos;
    return count;
  }
  fs::path Served;
  std::string Host;
  std::uintmax_t LogStart = 0;
};

TEST_F(FailedTilesNginx, TranscriptAndFilesOfEachOutcome) {
  const std::string fixed = "http://" + Host;
  // Items: file name, URL, and what the file holds afterwards (a file nginx serves, or none: the placeholder).
  const struct {
    const char* Name;
    std::vector<std::tuple<std::string, std::string, fs::path>> Items;
    TLines Expected, Errors = {};
  } cases[] = {
      {"two tiles",
       {{"gs_843_388_10.jpg", Tile(843, 388), "tiles/10/843/388.jpg"},
        {"gs_852_397_10.jpg", Tile(852, 397), "tiles/10/852/397.jpg"}},
       {Start, "@0 ->OK", "@1 ->OK", End}},
      {"refused first: the rest is not requested",
       {{"gs_850_390_10.jpg", Tile(850, 390, 4318), ""},
        {"gs_844_389_10.jpg", Tile(844, 389, 4318), ""},
        {"gs_845_390_10.jpg", Tile(845, 390, 4318), ""}},
       {Start, "HTTP/1.1 403 Forbidden->#0", Banned, End}},
      {"a redirect counts as banned",
       {{"gs_1_1_1.jpg", fixed + "/redirect", ""}, {"gs_846_391_10.jpg", Tile(846, 391, 4319), ""}},
       {Start, "HTTP/1.1 302 Moved Temporarily->#0", Banned, End}},
      {"missing tile, then on",
       {{"gs_843_398_10.jpg", Tile(843, 398), ""}, {"gs_847_392_10.jpg", Tile(847, 392), "tiles/10/847/392.jpg"}},
       {Start, "HTTP/1.1 404 Not Found->#0", "#0:Error: the image is not found on server.", "@1 ->OK", End}},
      {"server error and a page instead of an image",
       {{"gs_851_393_10.jpg", Tile(851, 393), ""},
        {"gs_1_1_1.jpg", fixed + "/text", ""},
        {"gs_1_2_1.jpg", fixed + "/tile.jpg", "content/tile.jpg"}},
       {Start, "HTTP/1.1 500 Internal Server Error->#0", "Invalid image data->#1", "@2 ->OK", End}},
      {"a line without a path is not fetched, and the run goes on",
       {{"", Tile(843, 389, 4320), ""}, {"gs_844_390_10.jpg", Tile(844, 390, 4320), "tiles/10/844/390.jpg"}},
       {Start, std::string(TfrmFlt::NotTileFile) + "->#0", "@1 ->OK", End}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TDialog d;
    std::vector<std::pair<std::string, std::string>> items;
    for (const auto& [name, url, source] : c.Items) items.emplace_back(name, url);
    EXPECT_EQ(d.RunItems(items), c.Expected);
    EXPECT_EQ(d.Toolkit.Errors, c.Errors);
    for (const auto& [name, url, source] : c.Items) {
      if (name.empty()) continue;
      EXPECT_EQ(ReadAll(d.Dir / name), source.empty() ? "placeholder" : ReadAll(Served / source)) << name;
    }
  }
  EXPECT_EQ(Logged("v=4318&"), 1);
  EXPECT_EQ(Logged("v=4319&"), 0);
  EXPECT_EQ(Logged("v=4320&"), 1);
  EXPECT_EQ(Logged(Tile(843, 389, 4320).substr(7 + Host.size())), 0);  // the line without a path
}

TEST(FailedTilesFaults, ResetsAndStatusLines) {
  const std::string reset = "Socket Error # 10054\r\nConnection reset by peer.->#0";
  const struct {
    const char* Name;
    std::vector<TFaultAction> Script;
    int Lines;  // of the list
    TLines Expected;
    int Requests;  // each on a connection of its own
  } cases[] = {
      {"reset answered on the next try",
       {TFaultAction::Reset(), TFaultAction::Respond(Answer("HTTP/1.1 200 OK", Jpeg))},
       1,
       {Start, "@0 ->OK", End},
       2},
      {"reset every time", {TFaultAction::Reset()}, 1, {Start, reset, End}, 1 + TfrmFlt::MaxResetRepeats},
      {"both 403 and 404: banned",
       {TFaultAction::Respond(Answer("HTTP/1.1 403 Not 404 Found"))},
       2,
       {Start, "HTTP/1.1 403 Not 404 Found->#0", Banned, End},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFaultServer server(c.Script);
    TDialog d;
    std::vector<std::pair<std::string, std::string>> items;
    for (int i = 0; i < c.Lines; ++i)
      items.emplace_back("gs_" + std::to_string(i) + "_0_1.jpg", server.Url("/tile" + std::to_string(i)));
    EXPECT_EQ(d.RunItems(items), c.Expected);
    EXPECT_EQ(server.Requests().size(), static_cast<std::size_t>(c.Requests));
    EXPECT_EQ(server.Connections(), c.Requests);
    EXPECT_EQ(ReadAll(d.Dir / "gs_0_0_1.jpg"), c.Expected[1] == "@0 ->OK" ? Jpeg : "placeholder");
  }
}

TEST(FailedTilesFaults, RequestCarriesReducedProfile) {
  TFaultServer server({TFaultAction::Respond(Answer("HTTP/1.1 200 OK", Jpeg))});
  test::TTempDir cookies;
  WriteAll(cookies / "cookies.txt", "127.0.0.1\tFALSE\t/\tFALSE\t2147483647\tid\tsecret\n");
  // The proxy is the fault server itself: a proxied request would show an absolute URL.
  const std::string proxied =
      "[Proxy]\r\nUseProxy=1\r\nProxyServer=127.0.0.1\r\nProxyPort=" + std::to_string(server.Port()) +
      "\r\nProxyUsername=u\r\nProxyPassword=p\r\n" +
      "[Servers]\r\nHomePage=http://home.test/\r\n[Download]\r\nCookieFile=" + (cookies / "cookies.txt").string() +
      "\r\n";
  const std::pair<std::string, std::string> cases[] = {{"", "http://maps.google.com/"}, {proxied, "http://home.test/"}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].first);
    TDialog d(cases[i].first);
    // The line splits at its first "|" only.
    EXPECT_EQ(d.RunItems({{"gs_5_5_5.jpg", server.Url("/t|1.jpg")}}), (TLines{Start, "@0 ->OK", End}));
    ASSERT_EQ(server.Requests().size(), i + 1);
    const std::string request = server.Requests()[i];
    EXPECT_TRUE(request.starts_with("GET /t|1.jpg HTTP/1.1\r\n")) << request;
    for (const std::string& header : {"Referer: " + cases[i].second, std::string("Connection: Keep_Alive"),
                                      std::string("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)")})
      EXPECT_NE(request.find("\r\n" + header + "\r\n"), std::string::npos) << header << "\n" << request;
    EXPECT_EQ(request.find("Proxy"), std::string::npos) << request;
    EXPECT_EQ(request.find("Cookie"), std::string::npos) << request;
  }
}

// The dialog keeps to the download limits of config.ini: a body beyond
// MaxTileBytes and a transfer beyond TileTimeout are failure lines.
TEST(FailedTilesFaults, DownloadLimits) {
  const std::string slow = Jpeg + std::string(10000 - Jpeg.size(), 'x');
  TFaultServer server({TFaultAction::Respond(Answer("HTTP/1.1 200 OK", Jpeg + std::string(5000, 'x'))),
                       TFaultAction::Trickle("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                                             "2710\r\n" + slow + "\r\n0\r\n\r\n", 100, 100)});
  TDialog d("[Download]\r\nMaxTileBytes=4000\r\nTileTimeout=1\r\n");
  EXPECT_EQ(d.RunItems({{"gs_0_0_1.jpg", server.Url("/big")}, {"gs_1_0_1.jpg", server.Url("/slow")}}),
            (TLines{Start, "Response larger than MaxTileBytes->#0", "Socket Error # 10060\r\nConnection timed out.->#1",
                    End}));
  EXPECT_EQ(ReadAll(d.Dir / "gs_0_0_1.jpg"), "placeholder");
  EXPECT_EQ(ReadAll(d.Dir / "gs_1_0_1.jpg"), "placeholder");
}

}  // namespace
}  // namespace meridane
