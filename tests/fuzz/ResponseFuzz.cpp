// A response head of any content, line by line as the client receives it: the
// status line becomes the failure's message, and the message its kind. A plain
// status line ("HTTP/1.1 404 Not Found") is sorted by its code, by the workers
// and by the re-download dialog.
#include "download/HttpClient.h"
#include "download/TileFetcher.h"
#include "fuzz/FuzzInput.h"

using namespace meridane;

namespace {

// The code of "HTTP/1.1 NNN Reason" whose reason holds no digit and none of the
// socket errors' words (a reason phrase is sorted like any other text), or 0.
int PlainStatus(std::string_view line) {
  for (const std::string_view version : {"HTTP/1.0 ", "HTTP/1.1 ", "HTTP/2 ", "HTTP/3 "}) {
    if (!line.starts_with(version)) continue;
    const std::string_view code = line.substr(version.size(), 3), reason = line.substr(version.size() + code.size());
    if (code.size() != 3 || code.find_first_not_of("0123456789") != std::string_view::npos) return 0;
    if (!reason.empty() && (reason[0] != ' ' || reason.find_first_of("0123456789") != std::string_view::npos)) return 0;
    if (reason.find("Socket Error") != reason.npos || reason.find("Connection Closed Gracefully") != reason.npos)
      return 0;
    return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TRetryPolicy workers = WorkerRetryPolicy(), dialog = RedownloadRetryPolicy();
  std::string_view head(reinterpret_cast<const char*>(data), size);
  (void)workers.Classify(head);  // the whole input as the words of an error
  std::string message;
  while (!head.empty()) {
    const std::size_t lf = head.find('\n');
    const std::string_view line = head.substr(0, lf == std::string_view::npos ? head.size() : lf + 1);
    head.remove_prefix(line.size());
    if (auto status = StatusLineMessage(line)) message = std::move(*status);
  }
  FUZZ_CHECK(message.find_first_of("\r\n") == std::string::npos);
  const TFailureKind kind = workers.Classify(message), dialogKind = dialog.Classify(message);
  switch (PlainStatus(message)) {
    case 0: break;
    case 302:
    case 403: FUZZ_CHECK(kind == TFailureKind::Banned && dialogKind == TFailureKind::Banned); break;
    case 400: FUZZ_CHECK(kind == TFailureKind::NotFound && dialogKind == TFailureKind::Other); break;
    case 404: FUZZ_CHECK(kind == TFailureKind::NotFound && dialogKind == TFailureKind::NotFound); break;
    default: FUZZ_CHECK(kind == TFailureKind::Other && dialogKind == TFailureKind::Other);
  }
  return 0;
}
