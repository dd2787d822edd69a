#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "download/HttpClient.h"
#include "download/Sleeper.h"

namespace meridane {

// What a failed GET was, read once from its message (a status line, a socket
// error text, or other words) by a policy's rules.
enum class TFailureKind {
  Reset,         // the connection was reset or closed under the request
  AddressInUse,  // no local address was free
  Banned,        // the server refuses this address ("302", "403")
  Network,       // the network does not answer
  NotFound,      // the server has no such tile
  Other,         // anything else, and a failure without text
};

// A kind and the texts that mark it: any one of them anywhere in the message.
struct TFailureRule {
  std::vector<std::string_view> Marks;
  TFailureKind Kind;
};

// What follows a failure of one kind.
struct TFailureAction {
  int PauseMs = 0;        // before the next GET; 0: none
  bool Repeats = false;   // again whatever the attempts so far, up to MaxRepeats times a tile
  bool StopsRun = false;  // once given up, the run ends with this tile
};

// How one caller retries a tile: the rules its failures are sorted by and what
// each kind does. The callers differ on purpose (the workers pace a long task,
// the re-download dialog tries each tile once), so each has a value of its own.
struct TRetryPolicy {
  struct TActions {
    TFailureAction Reset{}, AddressInUse{}, Banned{}, Network{}, NotFound{}, Other{};
  };
  std::vector<TFailureRule> Rules;  // in order: the first that matches decides; none: Other
  TActions Actions;
  int Attempts = 1;    // GETs of a tile, repeats included, before a kind that does not repeat gives up
  int MaxRepeats = 0;  // repeats of one tile; past them the tile is given up with its kind

  TFailureKind Classify(std::string_view message) const;
  const TFailureAction& Action(TFailureKind kind) const;
};

// Repeats of one tile by the kinds that repeat, before it is given up: a server
// that resets every connection must not hold a worker or the dialog for ever.
inline constexpr int MaxImmediateRepeats = 10;

// The download workers': three attempts, paced; "10054", "Connection Closed
// Gracefully" and "10048" repeat; a refusal or a network failure stops the
// worker; "404" and "400" are tiles the server does not have.
TRetryPolicy WorkerRetryPolicy();
// The re-download dialog's: one attempt; only "10054" repeats, at once; a
// refusal stops the run; only "404" is a tile the server does not have.
TRetryPolicy RedownloadRetryPolicy();

enum class TFetchStatus { Fetched, Failed, Stopped };

struct TFetchResult {
  TFetchStatus Status = TFetchStatus::Failed;
  std::string Body{};                       // Fetched: the image's bytes
  TFailureKind Kind = TFailureKind::Other;  // Failed: the kind of the last failure
  std::optional<std::string> Message{};     // Failed: its text; none when it carried none
  bool StopsRun = false;                    // Failed: the policy ends the run here
};

// Fetches one tile: GETs a URL, takes a 2xx body for the tile only when it is an
// image, and retries as the policy says. Pauses wait on stop; a stop that comes
// during a GET, after a failure or in a pause ends the fetch as Stopped, so the
// caller leaves the tile as it is. Used on one thread at a time.
class TTileFetcher {
 public:
  TTileFetcher(IHttpClient& client, TRetryPolicy policy, ISleeper& sleeper, TStopSignal& stop)
      : Client(client), Policy(std::move(policy)), Sleeper(sleeper), Stop(stop) {}

  TFetchResult Fetch(const std::string& url);

 private:
  IHttpClient& Client;
  const TRetryPolicy Policy;
  ISleeper& Sleeper;
  TStopSignal& Stop;
};

}  // namespace meridane
