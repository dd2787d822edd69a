#include "download/TileFetcher.h"

#include <exception>

#include "task/ImageData.h"

namespace meridane {

TFailureKind TRetryPolicy::Classify(std::string_view message) const {
  for (const TFailureRule& rule : Rules)
    for (const std::string_view mark : rule.Marks)
      if (message.find(mark) != std::string_view::npos) return rule.Kind;
  return TFailureKind::Other;
}

const TFailureAction& TRetryPolicy::Action(TFailureKind kind) const {
  switch (kind) {
    case TFailureKind::Reset: return Actions.Reset;
    case TFailureKind::AddressInUse: return Actions.AddressInUse;
    case TFailureKind::Banned: return Actions.Banned;
    case TFailureKind::Network: return Actions.Network;
    case TFailureKind::NotFound: return Actions.NotFound;
    case TFailureKind::Other: break;
  }
  return Actions.Other;
}

TRetryPolicy WorkerRetryPolicy() {
  return {.Rules = {{{"10054", "Connection Closed Gracefully"}, TFailureKind::Reset},
                    {{"10048"}, TFailureKind::AddressInUse},
                    {{"302", "403"}, TFailureKind::Banned},
                    {{"Socket Error"}, TFailureKind::Network},
                    {{"404", "400"}, TFailureKind::NotFound}},
          .Actions = {.Reset = {.Repeats = true},
                      .AddressInUse = {.PauseMs = 8000, .Repeats = true},
                      .Banned = {.PauseMs = 1000, .StopsRun = true},
                      .Network = {.PauseMs = 2000, .StopsRun = true},
                      .NotFound = {.PauseMs = 1000},
                      .Other = {.PauseMs = 1000}},
          .Attempts = 3,
          .MaxRepeats = MaxImmediateRepeats};
}

TRetryPolicy RedownloadRetryPolicy() {
  return {.Rules = {{{"10054"}, TFailureKind::Reset},
                    {{"302", "403"}, TFailureKind::Banned},
                    {{"404"}, TFailureKind::NotFound}},
          .Actions = {.Reset = {.Repeats = true}, .Banned = {.StopsRun = true}},
          .Attempts = 1,
          .MaxRepeats = MaxImmediateRepeats};
}

namespace {

// One GET into body: nothing when it brought an image, otherwise the failure's
// text, or none for a failure that carries no text.
std::optional<std::optional<std::string>> TryGet(IHttpClient& client, const std::string& url, std::string& body) {
  try {
    client.Get(url, body);
    // An error page sent with a 2xx status would otherwise pass for a tile.
    if (!IsImageData(body)) return std::optional<std::string>(std::string(InvalidImageMessage));
    return std::nullopt;
  } catch (const std::exception& e) {
    if (*e.what() == '\0') return std::optional<std::string>();
    return std::optional<std::string>(e.what());
  } catch (...) {
    return std::optional<std::string>();
  }
}

}  // namespace

TFetchResult TTileFetcher::Fetch(const std::string& url) {
  TFetchResult result;
  int attempts = 0;
  int repeats = 0;
  for (;;) {
    result.Body.clear();  // nothing of a failed attempt may reach the tile
    ++attempts;
    std::optional<std::optional<std::string>> failure = TryGet(Client, url, result.Body);
    if (!failure) {
      result.Status = TFetchStatus::Fetched;
      return result;
    }
    // A stop ends a tile wherever it stands (a transfer it cut short, a failure,
    // a pause): the caller leaves it for a later run.
    if (Stop.Raised()) return {.Status = TFetchStatus::Stopped};
    const TFailureKind kind = Policy.Classify(failure->value_or(""));
    const TFailureAction& action = Policy.Action(kind);
    const bool again = action.Repeats ? repeats++ < Policy.MaxRepeats : attempts < Policy.Attempts;
    if (!again)
      return {
          .Status = TFetchStatus::Failed, .Kind = kind, .Message = std::move(*failure), .StopsRun = action.StopsRun};
    if (action.PauseMs > 0) {
      Sleeper.Pause(action.PauseMs, Stop);
      if (Stop.Raised()) return {.Status = TFetchStatus::Stopped};
    }
  }
}

}  // namespace meridane
