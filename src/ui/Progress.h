#pragma once

#include <chrono>
#include <string>

#include "download/DownThread.h"
#include "task/DownloadTask.h"

namespace meridane {

// Counts the workers' tile events as they reach the main thread: tiles handled,
// failures, speed and the time left, for a status line or a progress bar.
class TProgress {
 public:
  // Starts counting for a task; tiles finished by an earlier run count as handled.
  void Begin(const TDownloadTask& task);
  void Count(const TTileEvent& event);

  long Handled() const { return Before + Saved + Substituted; }
  long SavedNow() const { return Saved; }
  // Tiles given up or not found, with the blank image in their place or not.
  long SubstitutedNow() const { return Substituted; }
  long Failures() const { return Substituted + Stops; }
  long Tiles() const { return Total; }
  // "12/40 tiles, " and the rate line.
  std::string StatusLine() const;
  // "3.5 tiles/s, 0 failed, 0:00:08 left".
  std::string RateLine() const;
  // How the run went: "10 saved, 2 substituted (see the failed-tile list), 28
  // left for the next Start"; empty before the first run.
  std::string Summary() const;
  // The first line of an error that stopped a worker; empty when none did.
  const std::string& StopReason() const { return FirstStop; }
  // Whether a run has begun: what the window shows after it.
  bool HasRun() const { return Begun; }

 private:
  long Total = 0, Before = 0, Saved = 0, Substituted = 0, Stops = 0;
  bool Begun = false;
  std::string FirstStop;
  std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
};

}  // namespace meridane
