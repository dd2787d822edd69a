#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>

#include "geo/Convert.h"
#include "support/ProcessState.h"
#include "ui/BackgroundTiles.h"
#include "ui/FormHarness.h"
#include "ui/MapPickForm.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::TFormRun;
using test::WriteAll;

constexpr double Tol = 0.01;  // how near an edge counts as on it
constexpr TMercatorRect Start{0.4, 0.4, 0.6, 0.6};

TEST(MapPick, SelectionDrawMoveResize) {
  const struct {
    const char* Name;
    std::optional<TMercatorRect> Before;
    TMercatorPoint Press, Release;
    std::optional<TMercatorRect> After;
  } cases[] = {
      {"draw from nothing", std::nullopt, {0.1, 0.2}, {0.3, 0.25}, TMercatorRect{0.1, 0.2, 0.3, 0.25}},
      {"draw backwards is normalised", std::nullopt, {0.3, 0.25}, {0.1, 0.2}, TMercatorRect{0.1, 0.2, 0.3, 0.25}},
      {"draw past the world is clamped", std::nullopt, {0.9, 0.5}, {1.4, -0.2}, TMercatorRect{0.9, 0, 1, 0.5}},
      {"a press outside draws anew", Start, {0.1, 0.1}, {0.2, 0.2}, TMercatorRect{0.1, 0.1, 0.2, 0.2}},
      {"a click without a drag keeps the old", Start, {0.1, 0.1}, {0.1, 0.1}, Start},
      {"a flat rectangle keeps the old", Start, {0.1, 0.1}, {0.3, 0.1}, Start},
      {"move", Start, {0.5, 0.5}, {0.55, 0.45}, TMercatorRect{0.45, 0.35, 0.65, 0.55}},
      {"move stops at the world's edge", Start, {0.5, 0.5}, {0.9, 0.1}, TMercatorRect{0.8, 0, 1, 0.2}},
      {"left edge", Start, {0.405, 0.5}, {0.3, 0.9}, TMercatorRect{0.3, 0.4, 0.6, 0.6}},
      {"bottom edge", Start, {0.5, 0.595}, {0.1, 0.7}, TMercatorRect{0.4, 0.4, 0.6, 0.7}},
      {"top-right corner", Start, {0.6, 0.4}, {0.7, 0.3}, TMercatorRect{0.4, 0.3, 0.7, 0.6}},
      {"left edge past the right swaps", Start, {0.4, 0.5}, {0.7, 0.5}, TMercatorRect{0.6, 0.4, 0.7, 0.6}},
      {"edge onto the opposite keeps the old", Start, {0.6, 0.5}, {0.4, 0.5}, Start},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TSelection s;
    s.Set(c.Before);
    s.Press(c.Press, Tol);
    EXPECT_TRUE(s.Dragging());
    s.Drag({c.Release.X + 0.123, c.Release.Y});  // an intermediate point leaves no trace
    s.Release(c.Release);
    EXPECT_FALSE(s.Dragging());
    ASSERT_EQ(s.Rect().has_value(), c.After.has_value());
    if (!c.After) continue;
    EXPECT_NEAR(s.Rect()->Left, c.After->Left, 1e-12);
    EXPECT_NEAR(s.Rect()->Top, c.After->Top, 1e-12);
    EXPECT_NEAR(s.Rect()->Right, c.After->Right, 1e-12);
    EXPECT_NEAR(s.Rect()->Bottom, c.After->Bottom, 1e-12);
  }
}

TEST(MapPick, FieldTextsAndTheirWayBack) {
  const struct {
    double Degrees;
    const char* Text;
  } cases[] = {
      {116.3, "116.300000"},          {-0.0000001, "0.000000"},  // never "-0"
      {-179.9999995, "-180.000000"},  {39.1234564, "39.123456"},
      {85.0511287798, "85.051129"},   {0, "0.000000"},
      {-33.8688, "-33.868800"},       {1e-7, "0.000000"},
  };
  const test::TLocaleGuard locale;
  // A locale whose decimal mark is ",": the texts keep ".".
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(CoordinateText(c.Degrees), c.Text);
    const auto read = ParseCoordinate(CoordinateText(c.Degrees));
    ASSERT_TRUE(read.has_value());
    EXPECT_NEAR(*read, c.Degrees, 5e-7);
  }
  // Mercator and back: the field texts of a rectangle survive the trip.
  const TGeoRect area{-12.5, 51.25, 3.75, -40.125};
  const TGeoRect back = GeoOf(MercatorOf(area));
  EXPECT_EQ(CoordinateText(back.Left), "-12.500000");
  EXPECT_EQ(CoordinateText(back.Top), "51.250000");
  EXPECT_EQ(CoordinateText(back.Right), "3.750000");
  EXPECT_EQ(CoordinateText(back.Bottom), "-40.125000");
}

// What the dialog does to the main window's fields, with the dialog's moves
// played while it is open.
TEST(MapPick, DialogFillsTheFieldsOnlyOnOk) {
  const std::array<std::string, 4> typed{"116.3", "40.1", "116.5", "39.9"};
  const struct {
    const char* Name;
    std::array<std::string, 4> Fields;
    bool Draw, Ok;
    std::optional<std::array<std::string, 4>> After;  // nothing: the fields as they were
    bool OpenedOnFields;
  } cases[] = {
      {"draw then OK", typed, true, true, std::array<std::string, 4>{"45.000000", "58.226282", "135.000000", "17.711014"}, true},
      {"draw then Cancel", typed, true, false, std::nullopt, true},
      {"OK unchanged keeps the typed texts", typed, false, true, std::nullopt, true},
      {"fields without a rectangle", {"", "40", "x", "39"}, false, true, std::nullopt, false},
      {"left above right is none", {"10", "40", "5", "39"}, false, true, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFormRun run;
    TForm1& f = run.Form;
    f.Edit1.Text = c.Fields[0], f.Edit2.Text = c.Fields[1], f.Edit3.Text = c.Fields[2], f.Edit4.Text = c.Fields[3];
    f.TrackBar1.SetPosition(3);
    bool opened = false;
    run.Toolkit.WhileModal = [&](IForm& form) {
      auto& pick = dynamic_cast<TMapPickForm&>(form);
      opened = pick.Selection.Rect().has_value();
      if (opened) {
        const TGeoRect g = GeoOf(*pick.Selection.Rect());
        EXPECT_NEAR(g.Left, 116.3, 1e-9);
        EXPECT_NEAR(g.Bottom, 39.9, 1e-9);
      }
      if (c.Draw) {
        pick.Selection.Press({0.625, 0.3}, 0.001);
        pick.Selection.Release({0.875, 0.45});
        pick.SelectionChanged();
        // At the main window's zoom 3 the world is 8 x 8 tiles: columns 5..7, rows 2..3.
        EXPECT_EQ(pick.LabelEstimate.Caption, "Tiles: 6, about 121 KB");
      }
      c.Ok ? pick.OkClick() : pick.CancelClick();
    };
    f.ButtonMapClick();
    EXPECT_EQ(opened, c.OpenedOnFields);
    const auto want = c.After.value_or(c.Fields);
    EXPECT_EQ(f.Edit1.Text, want[0]);
    EXPECT_EQ(f.Edit2.Text, want[1]);
    EXPECT_EQ(f.Edit3.Text, want[2]);
    EXPECT_EQ(f.Edit4.Text, want[3]);
    if (c.After) {
      EXPECT_EQ(f.LabelEstimate.Caption, "Tiles: 6, about 121 KB");
    }
  }
}

TEST(MapPick, OutlinesOfTheFolderTasks) {
  test::TTempDir dir;
  WriteAll(dir / "b.mrd", "[AREA]\r\nLeftLongitude=1\r\nRightLongitude=2\r\nTopLatitude=4\r\nBottomLatitude=3\r\n");
  WriteAll(dir / "a.mrd", "[AREA]\r\nLeftLongitude=-5\r\nRightLongitude=5\r\nTopLatitude=10\r\nBottomLatitude=0\r\n");
  WriteAll(dir / "bad.mrd", "[AREA]\r\nLeftLongitude=5\r\nRightLongitude=-5\r\nTopLatitude=10\r\nBottomLatitude=0\r\n");
  WriteAll(dir / "c.txt", "[AREA]\r\nLeftLongitude=1\r\nRightLongitude=2\r\nTopLatitude=4\r\nBottomLatitude=3\r\n");
  const auto outlines = FindTaskOutlines(dir.Path());
  ASSERT_EQ(outlines.size(), 2u);
  EXPECT_EQ(outlines[0].Name, "a");
  EXPECT_EQ(std::tuple(outlines[0].Area.Left, outlines[0].Area.Top), std::tuple(-5.0, 10.0));
  EXPECT_EQ(outlines[1].Name, "b");
  EXPECT_TRUE(FindTaskOutlines(dir / "missing").empty());
}

// A tile server as the background loader meets it: every GET recorded with
// the headers it would carry; failing, or answering with a tile. Script, when
// given, says what the requests answer in turn ('t' a tile, 'n' 404, 'r'
// connection refused); after it, Fails and Junk do.
struct TRecordingServer {
  std::mutex Lock;
  std::vector<std::string> Urls;
  std::vector<std::optional<std::string>> Referers;
  bool Fails = false;
  bool Junk = false;
  std::string Script;
  std::size_t Asked() {
    std::lock_guard<std::mutex> guard(Lock);
    return Urls.size();
  }
  struct TClient : IHttpClient {
    explicit TClient(TRecordingServer& server) : Server(server) {}
    void Get(const std::string& url, std::string& buffer) override {
      std::lock_guard<std::mutex> guard(Server.Lock);
      const std::size_t turn = Server.Urls.size();
      Server.Urls.push_back(url);
      Server.Referers.push_back(Settings.Referer);
      const char answer = turn < Server.Script.size() ? Server.Script[turn] : Server.Fails ? 'r' : 't';
      if (answer == 'r') throw EHttpError(SocketErrorMessage(SocketError::ConnectionRefused));
      if (answer == 'n') throw EHttpError("HTTP/1.1 404 Not Found");
      buffer += Server.Junk ? "<html>" : "\xFF\xD8\xFF\xE0 tile";
    }
    TRecordingServer& Server;
  };
};

// Records the pauses between requests; the long pause of an unreachable
// server lasts until the test lets it end (Retry) or the loader stops.
struct TRecordingSleeper : ISleeper {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<int> Pauses;
  int Retries = 0, RetriesAllowed = 0;
  void Sleep(int ms) override {
    std::lock_guard<std::mutex> guard(Lock);
    Pauses.push_back(ms);
  }
  void Pause(int ms, TStopSignal& stop) override {
    if (ms != TBackgroundLoader::RetryAfterMs) return Sleep(ms);
    std::unique_lock<std::mutex> guard(Lock);
    ++Retries;
    Changed.notify_all();
    while (RetriesAllowed < Retries && !stop.Raised()) {
      guard.unlock();
      stop.WaitFor(1);
      guard.lock();
    }
  }
  int Waiting() {
    std::lock_guard<std::mutex> guard(Lock);
    return Retries;
  }
  void Retry() {
    std::lock_guard<std::mutex> guard(Lock);
    ++RetriesAllowed;
  }
};

TEST(MapPick, BackgroundCacheAndRequestRate) {
  const int Gap = TBackgroundLoader::RequestGapMs;
  const struct {
    const char* Name;
    std::optional<std::string> CacheHome;  // relative to the temporary folder; nothing: unset
    std::string CacheFolder;               // relative to the temporary folder
    bool Fails, Junk;
    std::vector<TBackgroundTile> Wanted, Cached;
    std::vector<std::string> Urls;  // in the order asked
    std::vector<int> Pauses;
    bool Offline;
  } cases[] = {
      {"one request at a time, a pause before each after the first", "xdg", "xdg/meridane/tiles", false, false,
       {{3, 1, 2}, {2, 0, 1}, {1, 1, 1}}, {},
       {"http://h1/1/1/1", "http://h1/2/0/1", "http://h2/3/1/2"}, {Gap, Gap}, false},
      {"cached tiles are not asked for", std::nullopt, "home/.cache/meridane/tiles", false, false,
       {{2, 3, 3}, {2, 0, 0}, {0, 0, 0}}, {{0, 0, 0}, {2, 0, 0}},
       {"http://h3/2/3/3"}, {}, false},
      {"a relative cache home counts as none", "rel", "home/.cache/meridane/tiles", false, false,
       {{1, 0, 0}}, {}, {"http://h0/1/0/0"}, {}, false},
      {"no network: gives up after three", "xdg", "xdg/meridane/tiles", true, false,
       {{4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}}, {},
       {"http://h0/4/4/0", "http://h0/4/3/0", "http://h0/4/2/0"}, {Gap, Gap}, true},
      {"a page that is no image is not kept", "xdg", "xdg/meridane/tiles", false, true,
       {{1, 0, 1}}, {}, {"http://h1/1/0/1"}, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TTempDir dir;
    const test::TEnvironmentGuard home("HOME"), cacheHome("XDG_CACHE_HOME");
    home.Set((dir / "home").string());
    if (c.CacheHome)
      cacheHome.Set(*c.CacheHome == "rel" ? "rel" : (dir / *c.CacheHome).string());
    else
      ::unsetenv("XDG_CACHE_HOME");
    const fs::path folder = BackgroundCacheFolder();
    EXPECT_EQ(folder, dir / c.CacheFolder);

    TTaskParams params;
    params.Hosts = {"h0", "h1", "h2", "h3"};
    params.UrlTemplate = "http://{host}/{z}/{x}/{y}";
    params.HomePage = "http://home.example/";
    const TBackgroundSource source(params, folder);
    for (const auto& tile : c.Cached) {
      fs::create_directories(source.CachePath(tile).parent_path());
      WriteAll(source.CachePath(tile), "cached");
    }

    TRecordingServer server;
    server.Fails = c.Fails, server.Junk = c.Junk;
    TRecordingSleeper sleeper;
    TQueueDispatcher mainThread;
    std::vector<std::string> written;
    {
      TBackgroundLoader loader(mainThread, source, std::make_unique<TRecordingServer::TClient>(server), sleeper,
                               [&](const TBackgroundTile& t) { written.push_back(source.CachePath(t).string()); });
      loader.Want(c.Wanted);
      loader.Start();
      const auto asked = [&] {
        std::lock_guard<std::mutex> guard(server.Lock);
        return server.Urls.size();
      };
      mainThread.PumpUntil([&] { return asked() >= c.Urls.size() && (!c.Offline || sleeper.Waiting() > 0); });
      EXPECT_EQ(loader.Offline(), c.Offline);
    }
    mainThread.Pump();
    EXPECT_EQ(server.Urls, c.Urls);
    for (const auto& referer : server.Referers) EXPECT_EQ(referer, "http://home.example/");
    EXPECT_EQ(sleeper.Pauses, c.Pauses);
    const bool kept = !c.Fails && !c.Junk;
    EXPECT_EQ(written.size(), kept ? c.Urls.size() : 0u);
    for (const auto& path : written) EXPECT_EQ(test::ReadAll(path), "\xFF\xD8\xFF\xE0 tile");
  }
}

// A 404 is a tile the server does not have: the loader goes on. Only failures
// to reach the server count, in a row, towards giving up; after the pause it
// asks again. The status line follows each state.
TEST(MapPick, BackgroundAnswersAndOutages) {
  using S = TBackgroundState;
  const std::vector<TBackgroundTile> wanted{{5, 0, 0}, {5, 1, 0}, {5, 2, 0}, {5, 3, 0}, {5, 4, 0}};
  const struct {
    const char* Name;
    std::string Script;
    std::size_t AskedOffline;  // requests before it gives up; 0: it never does
    std::size_t Asked;          // requests in all, after a retry when it gave up
    S State;                    // once settled
  } cases[] = {
      {"404s are tiles not there", "nnnnt", 0, 5, S::Shown},
      {"404s everywhere: no tiles at this zoom", "nnnnn", 0, 5, S::NoTiles},
      {"an answer between refusals keeps it going", "rrnrrtrr", 0, 11, S::Shown},
      {"three refusals in a row: offline, then asked again", "rrrtt", 3, 8, S::Shown},
      {"refused again after the pause: offline again", "rrrr", 3, 4, S::Offline},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TTempDir dir;
    TTaskParams params;
    params.Hosts = {"h"};
    params.UrlTemplate = "http://{host}/{z}/{x}/{y}";
    const TBackgroundSource source(params, dir / "cache");
    TRecordingServer server;
    server.Script = c.Script;
    TRecordingSleeper sleeper;
    TQueueDispatcher mainThread;
    std::size_t cached = 0;
    TBackgroundLoader loader(mainThread, source, std::make_unique<TRecordingServer::TClient>(server), sleeper,
                             [&](const TBackgroundTile&) { ++cached; });
    EXPECT_EQ(BackgroundStatusText(TBackgroundStatus{}), "No map tiles: the graticule and the download folder's tasks");
    loader.Want(wanted);
    loader.Start();
    if (c.AskedOffline) {
      mainThread.PumpUntil([&] { return sleeper.Waiting() == 1; });
      EXPECT_EQ(server.Asked(), c.AskedOffline);
      const TBackgroundStatus offline = loader.Status();
      EXPECT_EQ(offline.State, S::Offline);
      EXPECT_NE(BackgroundStatusText(offline).find("(Connection refused)"), std::string::npos)
          << BackgroundStatusText(offline);
      sleeper.Retry();
    }
    const auto settled = [&] {
      const S state = loader.Status().State;
      return server.Asked() >= c.Asked && state != S::Loading && (state != S::Offline || sleeper.Waiting() == 2);
    };
    mainThread.PumpUntil(settled);
    mainThread.Pump();
    const TBackgroundStatus status = loader.Status();
    EXPECT_EQ(status.State, c.State);
    EXPECT_EQ(server.Asked(), c.Asked);
    EXPECT_EQ(cached, static_cast<std::size_t>(std::count(c.Script.begin(), c.Script.end(), 't')) +
                          (c.Asked > c.Script.size() ? c.Asked - c.Script.size() : 0));
    // Each state says something of its own.
    EXPECT_FALSE(BackgroundStatusText(status).empty());
  }
  std::set<std::string> texts;
  for (S state : {S::None, S::Loading, S::Shown, S::NoTiles, S::Offline})
    texts.insert(BackgroundStatusText({state, "Connection refused"}));
  EXPECT_EQ(texts.size(), 5u);
}

TEST(MapPickForm, PlacesAreFoundByTheStartOfAWordWithoutCaseOrAccents) {
  const struct {
    const char* Typed;
    const char* First;  // "": nothing found
  } cases[] = {
      {"zurich", "Zürich, CH (341,730)"},
      {"  ZÜR ", "Zürich, CH (341,730)"},
      {"york", "New York City, US (8,175,133)"},
      {"sao paulo", "São Paulo, BR (10,021,295)"},
      {"z", ""},
      {"qxqx", ""},
  };
  for (const auto& c : cases) {
    const std::vector<TPlace> places = FindPlaces(c.Typed, 3);
    const std::string first =
        places.empty() ? "" : places[0].Name + ", " + places[0].Country + " (" + GroupedNumber(places[0].Population) + ")";
    EXPECT_EQ(first, c.First) << c.Typed;
    EXPECT_LE(places.size(), 3u);
  }
  EXPECT_EQ(GroupedNumber(746895960), "746,895,960");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(1000), "1,000");
  EXPECT_EQ(PlaceKey("S\xC3\xA3o \t Paulo "), "sao paulo");
}

}  // namespace
}  // namespace meridane
