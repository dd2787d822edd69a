#include "ui/Progress.h"

#include <cstdio>

namespace meridane {

void TProgress::Begin(const TDownloadTask& task) {
  // Each run counts its own tiles and failures.
  *this = TProgress();
  Begun = true;
  Total = task.TotalCount;
  // Worker i took the sequence numbers s <= its resume position with s mod N == i.
  const long n = std::max(1, task.Params.ThreadCount);
  Before = 0;
  for (long i = 0; i < n && i < TDownloadTask::MaxWorkers; ++i) {
    const long x = task.ThreadX[static_cast<std::size_t>(i)], y = task.ThreadY[static_cast<std::size_t>(i)];
    if (x == 0 || y == 0) continue;
    const long long skip = task.SequenceOf(static_cast<int>(x), static_cast<int>(y));
    if (skip <= 0) continue;
    Before += i == 0 ? skip / n : (skip >= i ? (skip - i) / n + 1 : 0);
  }
}

void TProgress::Count(const TTileEvent& event) {
  switch (event.Kind) {
    case TTileEvent::TKind::Saved: ++Saved; break;
    case TTileEvent::TKind::Substituted:
    case TTileEvent::TKind::NotFound:
    case TTileEvent::TKind::Failed: ++Substituted; break;
    case TTileEvent::TKind::Stopped:
      ++Stops;
      if (FirstStop.empty()) FirstStop = event.Message;
      break;
  }
}

std::string TProgress::Summary() const {
  if (!Begun) return {};
  return std::to_string(Saved) + " saved, " + std::to_string(Substituted) +
         " substituted (see the failed-tile list), " + std::to_string(std::max(0L, Total - Handled())) +
         " left for the next Start";
}

std::string TProgress::RateLine() const {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
  const double rate = seconds > 0 ? (Saved + Substituted) / seconds : 0;
  const long left = Total - Handled();
  char eta[32] = "--:--";
  if (rate > 0 && left >= 0) {
    const long s = static_cast<long>(left / rate);
    std::snprintf(eta, sizeof eta, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  }
  char text[128];
  std::snprintf(text, sizeof text, "%.1f tiles/s, %ld failed, %s left", rate, Failures(), eta);
  return text;
}

std::string TProgress::StatusLine() const {
  return std::to_string(Handled()) + "/" + std::to_string(Total) + " tiles, " + RateLine();
}

}  // namespace meridane
