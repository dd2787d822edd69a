#include "ui/TaskCheck.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "download/Thread.h"
#include "task/ProjectFile.h"
#include "tiles/Coverage.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// The bad tiles of a check, kept in an unnamed temporary file until the user
// is done with the repair list: a task of millions of tiles may have millions.
class TBadTileSpool {
 public:
  TBadTileSpool() : File(std::tmpfile()) {
    if (!File) throw EFileError(CannotCreateMessage(fs::temp_directory_path()), SystemReason(errno));
  }
  ~TBadTileSpool() { std::fclose(File); }
  TBadTileSpool(const TBadTileSpool&) = delete;
  TBadTileSpool& operator=(const TBadTileSpool&) = delete;

  void Add(const TBadTile& tile) {
    const int pair[2] = {tile.X, tile.Y};
    if (std::fwrite(pair, sizeof pair, 1, File) != 1)
      throw EFileError(CannotCreateMessage(fs::temp_directory_path()), SystemReason(errno));
  }
  // Reads them all from the start, as often as asked: a save may be tried again.
  template <class F>
  void ForEach(F&& visit) {
    std::rewind(File);
    for (int pair[2]; std::fread(pair, sizeof pair, 1, File) == 1;) visit(pair[0], pair[1]);
  }

 private:
  std::FILE* File;
};

}  // namespace

// One check: what the worker fills in, and the main thread reads once it has ended.
struct TTaskCheck::TResult {
  std::string Project;
  std::unique_ptr<TTileGrid> Grid;
  TBadTileSpool Spool;
  TCoverageSummary Summary;
};

// The check away from the window's thread; it reaches the window only through
// the main thread's queue.
class TTaskCheck::TCheckThread : public TThread {
 public:
  TCheckThread(TTaskCheck& check, std::shared_ptr<TResult> result, TCoverageOptions options)
      : TThread(check.Toolkit.MainThread()), Check(check), Result(std::move(result)), Options(std::move(options)) {}

 protected:
  void Execute() override {
    std::optional<std::string> error;
    try {
      Options.OnBad = [this](const TBadTile& tile) { Result->Spool.Add(tile); };
      Options.OnProgress = [this](const TCoverageSummary& sofar) {
        TBar bar{.Checked = sofar.Read,
                 .Tiles = sofar.Tiles,
                 .Line = CheckStatusLine(sofar.Read, sofar.Tiles, sofar.Bad(), sofar.Seconds)};
        HandOver([&check = Check, bar = std::move(bar)] {
          if (!check.Shown) return;
          check.Shown = bar;
          check.Changed();
        });
      };
      Options.Stop = [this] { return Terminated(); };
      Result->Summary = CheckCoverage(*Result->Grid, Options);
    } catch (const std::exception& e) {
      error = ExplainedMessage(e);
    } catch (...) {
      error = "The check ended with an unknown error";
    }
    HandOver([&check = Check, error] { check.Finish(error); });
  }

 private:
  TTaskCheck& Check;
  std::shared_ptr<TResult> Result;
  TCoverageOptions Options;
};

TTaskCheck::TTaskCheck(IToolkit& toolkit) : Toolkit(toolkit) {}

TTaskCheck::~TTaskCheck() {
  OnChange = nullptr;  // the window that showed the check may be gone already
  Close();
}

void TTaskCheck::Run(const TCheckRequest& request) {
  if (Running()) return;
  if (request.TaskRunning) return Toolkit.ShowMessage(TaskRunning);
  const auto chosen = Toolkit.OpenFile("Open project file:", "Projects(*.mrd)|*.mrd", request.InitialFolder);
  if (!chosen) return;
  const TStartConfig config = TConfig(request.ConfigPath).ReadStart();
  auto result = std::make_shared<TResult>();
  result->Project = *chosen;
  result->Grid = std::make_unique<TTileGrid>(OpenTaskReadOnly(*chosen, config));
  const bool decode = Toolkit.Ask(DecodeQuestion);

  const long long tiles = result->Grid->Count();
  Shown = TBar{.Checked = 0, .Tiles = tiles, .Line = CheckStatusLine(0, tiles, 0, 0)};
  Current = result;
  Worker = std::make_unique<TCheckThread>(*this, result,
                                          TCoverageOptions{.Decode = decode,
                                                           .ProgramFolder = request.ProgramFolder,
                                                           .MaxTileBytes = static_cast<std::size_t>(std::max(0, config.MaxTileBytes)),
                                                           .Threads = 0,
                                                           .OnBad = {},
                                                           .OnProgress = {},
                                                           .Stop = {}});
  Worker->Start();
  Changed();
}

void TTaskCheck::Stop() {
  if (Worker) Worker->Terminate();
}

void TTaskCheck::Close() {
  if (!Worker) return;
  Closing = true;
  Worker->Terminate();
  // Its calls still to come name this check: they run before it goes.
  while (Worker) {
    Toolkit.MainThread().RunHandedOver();
    if (Worker) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Closing = false;
}

void TTaskCheck::Finish(const std::optional<std::string>& error) {
  Worker.reset();  // past its last call: the wait is short
  Shown.reset();
  std::shared_ptr<TResult> result = std::move(Current);
  Changed();
  if (Closing) return;
  // Not inside the queue's call: the boxes wait for the user, and the queue must not.
  Toolkit.Post([this, alive = std::weak_ptr<char>(Alive), result, error] {
    if (alive.expired()) return;
    RunHandler(Toolkit, [&] {
      if (error) return Toolkit.ShowError(*error);
      Offer(*result);
    });
  });
}

void TTaskCheck::Offer(TResult& result) {
  const TCoverageSummary& summary = result.Summary;
  const std::string text = result.Project + "\n" + SummaryLine(summary);
  if (summary.Bad() == 0) return Toolkit.ShowMessage(text);
  // Until OK closes it: a cancelled dialog, a refused name or a failed write
  // brings the summary back, with the bad tiles still on offer.
  while (Toolkit.ShowMessageWith(text, SaveButton)) {
    const auto target = Toolkit.SaveFile("Save repair list:", "Failed tiles(*.ftl)|*.ftl",
                                         fs::path(result.Project).parent_path().string());
    if (!target) continue;
    // Refused before the question about replacing: no answer makes it right.
    if (IsTaskFile(result.Project, *target)) {
      Toolkit.ShowMessage(TaskFileRefusal(*target));
      continue;
    }
    std::error_code ec;
    if (fs::exists(*target, ec) && !Toolkit.Ask(*target + " exists. Replace it?")) continue;
    if (const auto failure = Save(result, *target)) {
      Toolkit.ShowError(*failure);
      continue;
    }
    return Toolkit.ShowMessage("The repair list of " + std::to_string(summary.Bad()) + " tiles is saved as " +
                               *target + ".\nTools > \"re-dowload failed files\" fetches them again.");
  }
}

std::optional<std::string> TTaskCheck::Save(TResult& result, const std::string& target) {
  try {
    TRepairListWriter list(target, *result.Grid);
    // The spool is read from its start at every save and left as it was.
    result.Spool.ForEach([&list](int x, int y) { list.Add(x, y); });
    list.Commit();
    return std::nullopt;
  } catch (const std::exception& e) {
    return ExplainedMessage(e);
  }
}

}  // namespace meridane
