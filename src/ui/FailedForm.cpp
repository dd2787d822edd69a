#include "ui/FailedForm.h"

#include <chrono>
#include <optional>
#include <string_view>
#include <thread>

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "download/DownThread.h"
#include "download/TileFetcher.h"
#include "task/TextFile.h"
#include "task/TileGrid.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// Why a list line's file may not be written, or nothing when it may. Lists are
// shared between users and machines, so a line may only name what a download
// task writes: a tile file, in a folder that exists, missing or a regular file.
std::optional<std::string> Refusal(const std::string& path) {
  // The system would take the path as ending at the byte: another file.
  if (path.find('\0') != std::string::npos) return TfrmFlt::NulInPath;
  const fs::path file(path);
  if (!ParseTileFileName(file.filename().string())) return TfrmFlt::NotTileFile + path;
  // Tasks write absolute paths; a relative one would depend on where the run starts.
  if (!file.is_absolute()) return TfrmFlt::NotAbsolutePath + path;
  // Every folder on the way is checked, not only the last: a link or a ".."
  // anywhere would lead out of the folder the line names.
  std::error_code ec;
  fs::path folder;
  for (const fs::path& part : file.parent_path()) {
    if (part == "..") return TfrmFlt::ParentInPath + path;
    folder /= part;
    if (fs::is_symlink(fs::symlink_status(folder, ec))) return TfrmFlt::LinkInPath + folder.string();
  }
  if (!fs::is_directory(file.parent_path(), ec)) return TfrmFlt::NoSuchFolder + file.parent_path().string();
  // Never a link (whatever it points to), a device, a pipe or a folder. A status
  // that cannot be read is left to the writer, which reports it.
  const fs::file_type type = fs::symlink_status(file, ec).type();
  if (type != fs::file_type::not_found && type != fs::file_type::regular && type != fs::file_type::none)
    return TfrmFlt::NotRegularFile + path;
  return std::nullopt;
}

}  // namespace

// The run's fetches, one line after another, away from the window's thread.
// Its lines reach the form only through the main thread's queue.
class TfrmFlt::TFetchThread : public TThread {
 public:
  // lines: the list, read as the run goes; first: its first line, read already.
  TFetchThread(TfrmFlt& form, std::unique_ptr<IHttpClient> client, TLineReader lines, std::string first)
      : TThread(form.Toolkit.MainThread()),
        Form(form),
        Client(std::move(client)),
        Fetcher(*Client, RedownloadRetryPolicy(), Sleeper, StopSignal()),
        Lines(std::move(lines)),
        Line(std::move(first)) {
    // Stop cuts the transfer at hand short instead of waiting for a slow server.
    Client->Settings.StopRequested = [this] { return Terminated(); };
  }

 protected:
  void Execute() override {
    std::optional<std::string> error;
    try {
      Fetch();
      if (Stopped) AddLine(StoppedLine(NotTried()));
      AddLine(EndLine);
    } catch (const std::exception& e) {
      error = e.what();
    } catch (...) {
      // Nothing to tell, but the run must end all the same.
    }
    HandOver([&form = Form, error] { form.Finish(error); });
  }

 private:
  void Fetch();
  // The line at hand and every one after it: what a stop left for another run.
  long long NotTried() {
    long long count = 1;
    for (std::string rest; Lines.Next(rest);) ++count;
    return count;
  }
  void AddLine(std::string line, bool failure = false) {
    HandOver([&form = Form, line = std::move(line), failure] { form.AddLine(line, failure); });
  }
  // A line whose file may not be written: a failure line, and on with the next.
  // No fetch failure: a "403" in a path does not end the run.
  void Refuse(const std::string& why, const std::string& url) { AddLine(why + "->" + url, true); }

  TfrmFlt& Form;
  const std::unique_ptr<IHttpClient> Client;
  TRealSleeper Sleeper;  // the policy never pauses; a stop would end a pause at once
  TTileFetcher Fetcher;
  TLineReader Lines;
  std::string Line;
  bool Stopped = false;  // by Stop, with Line not done
};

TfrmFlt::TfrmFlt(IToolkit& toolkit, TConfigSource config, std::function<std::unique_ptr<IHttpClient>()> makeClient)
    : Toolkit(toolkit), Config(std::move(config)), MakeClient(std::move(makeClient)) {
  Memo1.Backed = false;  // a transcript: shown, never saved
}

TfrmFlt::~TfrmFlt() {
  if (!Worker) return;
  Destroying = true;
  OnLine = nullptr;  // the window that showed the lines may be gone already
  OnEnd = nullptr;
  Worker->Terminate();
  // Its calls still to come name this form: they run before it goes.
  while (Worker) {
    Toolkit.MainThread().RunHandedOver();
    if (Worker) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string TfrmFlt::StoppedLine(long long notTried) {
  return "Stopped by the user: " + std::to_string(notTried) + (notTried == 1 ? " line" : " lines") +
         " of the list not tried.";
}

void TfrmFlt::AddLine(const std::string& line, bool failure) {
  if (failure) ++Failures;
  Memo1.Add(line);
  if (OnLine) OnLine(line);
}

void TfrmFlt::Finish(const std::optional<std::string>& error) {
  Worker.reset();  // past its last call: the wait is short
  if (OnEnd) OnEnd();
  if (error && !Destroying) Toolkit.ShowError(*error);
}

void TfrmFlt::Button1Click() {
  // One run at a time.
  if (Running()) return;
  RunHandler(Toolkit, [this] { Run(); });
}

void TfrmFlt::Button2Click() {
  if (Worker) Worker->Terminate();
}

void TfrmFlt::Run() {
  const auto chosen = Toolkit.OpenFile("Open ftl file:", "Projects(*.ftl)|*.ftl", "");
  if (!chosen) return;
  Memo1.Clear();
  Failures = 0;
  // A device or a pipe would be read without end, or wait for a writer for ever.
  std::error_code ec;
  if (!fs::is_regular_file(*chosen, ec)) throw EFileError(CannotOpenMessage(*chosen));

  const TStartConfig config = TConfig(Config.Read()).ReadStart();
  std::unique_ptr<IHttpClient> client = MakeClient();
  // The reduced profile: no proxy and no cookie, whatever the settings say.
  client->Settings.Referer = config.HomePage;
  client->Settings.UserAgent = TDownThread::DefaultUserAgentForMaps;
  client->Settings.Connection = "Keep_Alive";
  client->Settings.ConnectTimeoutSeconds = config.ConnectTimeoutSeconds;
  client->Settings.StallTimeoutSeconds = config.StallTimeoutSeconds;
  client->Settings.TransferTimeoutSeconds = config.TileTimeoutSeconds;
  client->Settings.MaxBodyBytes = config.MaxTileBytes;

  // Streamed: a list of millions of lines is never held whole.
  TLineReader lines(*chosen);
  std::string first;
  if (!lines.Next(first)) return AddLine(EmptyList);
  AddLine(StartLine);
  Worker = std::make_unique<TFetchThread>(*this, std::move(client), std::move(lines), std::move(first));
  Worker->Start();
}

void TfrmFlt::TFetchThread::Fetch() {
  do {
    const std::string& line = Line;
    // Stop ends the run before the next line.
    if (Terminated()) {
      Stopped = true;
      return;
    }
    const std::size_t bar = line.find('|');
    const std::string path = bar == std::string::npos ? std::string() : line.substr(0, bar);
    const std::string url = bar == std::string::npos ? line : line.substr(bar + 1);
    if (const auto refusal = Refusal(path)) {
      Refuse(*refusal, url);
      continue;
    }
    const TFetchResult result = Fetcher.Fetch(url);
    // A stop leaves the line as it was: no file written, no line for it.
    if (result.Status == TFetchStatus::Stopped) {
      Stopped = true;
      return;
    }
    if (result.Status == TFetchStatus::Fetched) {
      // Again, as the file may have changed during the fetch. What changes it after
      // this is replaced, not written through: the writer puts a new file in its place.
      if (const auto refusal = Refusal(path)) {
        Refuse(*refusal, url);
        continue;
      }
      WriteFileAtomic(path, result.Body, TFlush::Cache);
      AddLine(path + ":" + url + " ->OK");
      continue;
    }
    // A failure without text is a failure all the same.
    AddLine(result.Message.value_or("") + "->" + url, true);
    if (result.StopsRun) {
      AddLine(BannedLine);
      break;
    }
    if (result.Kind == TFailureKind::NotFound) AddLine(url + ":" + TDownThread::NotFoundMessage);
  } while (Lines.Next(Line));
}

}  // namespace meridane
