#include <gtest/gtest.h>

#include <algorithm>

#include "download/TileFetcher.h"
#include "support/WorkerRun.h"

namespace meridane {
namespace {

const std::string Jpeg = "\xFF\xD8\xFF\xE0 tile";
const std::string Reset = "Socket Error # 10054\r\nConnection reset by peer.";
const std::string Closed = "Connection Closed Gracefully.";
const std::string InUse = "Socket Error # 10048\r\nAddress already in use.";
const std::string Refused = "Socket Error # 10061\r\nConnection refused.";
const std::string Ok = "<ok>", Page = "<page>";

// Answers the n-th GET with the n-th reply (the last repeats): Ok a JPEG, Page
// an error page sent as 200, any other text a failure with that text (after
// some bytes of a body).
struct TScriptedClient : IHttpClient {
  std::vector<std::string> Replies;
  std::function<void()> During;
  int Gets = 0;
  void Get(const std::string&, std::string& buffer) override {
    const std::string& reply = Replies[std::min<std::size_t>(static_cast<std::size_t>(Gets++), Replies.size() - 1)];
    if (During) During();
    buffer += reply == Ok ? Jpeg : "partial";  // what a failed GET leaves must not reach the body
    if (reply == Page) buffer = "<html>quota</html>";
    if (reply != Ok && reply != Page) throw EHttpError(reply);
  }
};

// Each caller sorts a message by its own rules, in its own order.
TEST(RetryPolicy, EachCallerSortsByItsOwnRules) {
  using K = TFailureKind;
  const struct {
    std::string Message;
    K Worker, Dialog;
  } cases[] = {
      {Reset, K::Reset, K::Reset},
      {Closed, K::Reset, K::Other},
      {InUse, K::AddressInUse, K::Other},
      {Refused, K::Network, K::Other},
      {"HTTP/1.1 302 Found", K::Banned, K::Banned},
      {"HTTP/1.1 400 Bad Request", K::NotFound, K::Other},
      {"HTTP/1.1 404 Not Found", K::NotFound, K::NotFound},
      {"HTTP/1.1 403 Not 404 Found", K::Banned, K::Banned},
      {"HTTP/1.1 404 Socket Error", K::Network, K::NotFound},
      {Closed + " 403", K::Reset, K::Banned},
      {"HTTP/1.1 500 Internal Server Error", K::Other, K::Other},
      {"", K::Other, K::Other},
  };
  const TRetryPolicy worker = WorkerRetryPolicy(), dialog = RedownloadRetryPolicy();
  for (const auto& c : cases) {
    EXPECT_EQ(worker.Classify(c.Message), c.Worker) << c.Message;
    EXPECT_EQ(dialog.Classify(c.Message), c.Dialog) << c.Message;
  }
}

// What the workers' own tests leave out: where the re-download dialog's policy
// differs (one GET a tile, only resets repeat, no pauses), the bound on paused
// repeats, a failed GET's leftovers, and a stop between repeats.
TEST(TileFetcher, AttemptsPausesAndOutcome) {
  using K = TFailureKind;
  using S = TFetchStatus;
  enum TCaller { Worker, Dialog };
  const struct {
    const char* Name;
    TCaller Caller;
    std::vector<std::string> Replies;
    int Gets;
    std::vector<int> Pauses;
    S Status;
    K Kind = K::Other;
    bool StopsRun = false;
    bool StopInGet = false;
  } cases[] = {
      {"worker: address in use for ever", Worker, {InUse}, 11, std::vector<int>(10, 8000), S::Failed, K::AddressInUse},
      {"worker: a failed GET's bytes are dropped",
       Worker,
       {"HTTP/1.1 500 Internal Server Error", Ok},
       2,
       {1000},
       S::Fetched},
      {"dialog: endless resets", Dialog, {Reset}, 11, {}, S::Failed, K::Reset},
      {"dialog: closed is final", Dialog, {Closed}, 1, {}, S::Failed},
      {"dialog: refused is final, without a pause", Dialog, {Refused}, 1, {}, S::Failed},
      {"dialog: banned", Dialog, {"HTTP/1.1 302 Found"}, 1, {}, S::Failed, K::Banned, true},
      {"dialog: a page as 200", Dialog, {Page}, 1, {}, S::Failed},
      {"dialog: stop in a reset", Dialog, {Reset}, 1, {}, S::Stopped, K::Other, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TScriptedClient client;
    client.Replies = c.Replies;
    test::TRecordingSleeper sleeper;
    TStopSignal stop;
    if (c.StopInGet) client.During = [&] { stop.Raise(); };
    TTileFetcher fetcher(client, c.Caller == Worker ? WorkerRetryPolicy() : RedownloadRetryPolicy(), sleeper, stop);
    const TFetchResult result = fetcher.Fetch("http://127.0.0.1/t");
    EXPECT_EQ(client.Gets, c.Gets);
    EXPECT_EQ(sleeper.Pauses, c.Pauses);
    EXPECT_EQ(result.Status, c.Status);
    EXPECT_EQ(result.Body, c.Status == S::Fetched ? Jpeg : "");
    if (c.Status != S::Failed) continue;
    EXPECT_EQ(result.Kind, c.Kind);
    EXPECT_EQ(result.StopsRun, c.StopsRun);
    EXPECT_EQ(result.Message, c.Replies.back() == Page ? std::string(InvalidImageMessage) : c.Replies.back());
  }
}

}  // namespace
}  // namespace meridane
