#include "ui/FailedForm.h"

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "download/DownThread.h"
#include "task/TextFile.h"

namespace meridane {

TfrmFlt::TfrmFlt(IToolkit& toolkit, std::filesystem::path configPath,
                 std::function<std::unique_ptr<IHttpClient>()> makeClient)
    : Toolkit(toolkit), ConfigPath(std::move(configPath)), MakeClient(std::move(makeClient)) {}

void TfrmFlt::AddLine(const std::string& line) {
  Memo1.Add(line);
  if (OnLine) OnLine(line);
}

void TfrmFlt::Button1Click() {
  RunHandler(Toolkit, [this] { Run(); });
}

void TfrmFlt::Run() {
  const auto chosen = Toolkit.OpenFile("Open ftl file:", "Projects(*.ftl)|*.ftl", "");
  if (!chosen) return;
  Memo1.Clear();
  Failures = 0;

  const TStartConfig config = TConfig(ConfigPath).ReadStart();
  const std::unique_ptr<IHttpClient> client = MakeClient();
  // The reduced profile: no proxy and no cookie, whatever the settings say.
  client->Settings.Referer = config.HomePage;
  client->Settings.UserAgent = TDownThread::DefaultUserAgentForMaps;
  client->Settings.Connection = "Keep_Alive";
  client->Settings.ConnectTimeoutSeconds = config.ConnectTimeoutSeconds;
  client->Settings.StallTimeoutSeconds = config.StallTimeoutSeconds;

  const std::vector<std::string> lines = ReadLines(*chosen);
  if (lines.empty()) return AddLine(EmptyList);
  AddLine(StartLine);
  Toolkit.ProcessPendingEvents();

  for (const std::string& line : lines) {
    const std::size_t bar = line.find('|');
    const std::string path = bar == std::string::npos ? std::string() : line.substr(0, bar);
    const std::string url = bar == std::string::npos ? line : line.substr(bar + 1);
    std::string buffer;
    std::string message;
    bool fetched = false;
    for (int repeats = 0;; ++repeats) {
      buffer.clear();  // a repeat must not add to what a broken answer left
      message.clear();
      try {
        client->Get(url, buffer);
        // An error page sent as 200 must not replace a placeholder.
        fetched = IsImageData(buffer);
        if (!fetched) message = InvalidImageMessage;
      } catch (const std::exception& e) {
        message = e.what();  // may be empty: a failure without text is a failure all the same
      }
      if (fetched || message.find("10054") == std::string::npos || repeats >= MaxResetRepeats) break;
    }
    if (fetched) {
      WriteFileAtomic(path, buffer);
      AddLine(path + ":" + url + " ->OK");
      continue;
    }
    ++Failures;
    AddLine(message + "->" + url);
    if (message.find("302") != std::string::npos || message.find("403") != std::string::npos) {
      AddLine(BannedLine);
      break;
    }
    if (message.find("404") != std::string::npos) AddLine(url + ":" + TDownThread::NotFoundMessage);
  }
  AddLine(EndLine);
}

}  // namespace meridane
