#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace meridane {

// A failed GET. The message is what the callers sort failures by: the status
// line of a non-2xx answer, "Socket Error # N\r\n<description>" with the Windows
// socket error number, or "Connection Closed Gracefully.". An empty message
// means the failure carries no text.
class EHttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Windows socket error numbers, which the callers and the logs speak in.
namespace SocketError {
inline constexpr int AddressInUse = 10048;
inline constexpr int NetworkUnreachable = 10051;
inline constexpr int ConnectionReset = 10054;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnectionRefused = 10061;
inline constexpr int HostUnreachable = 10065;
inline constexpr int HostNotFound = 11001;
}  // namespace SocketError

inline constexpr std::string_view ClosedGracefullyMessage = "Connection Closed Gracefully.";
inline constexpr std::string_view DefaultUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
inline constexpr std::string_view DefaultAccept = "text/html, */*";
// The message of a GET that StopRequested ended.
inline constexpr std::string_view StoppedMessage = "Transfer stopped.";
// The message of a 2xx answer whose body is longer than MaxBodyBytes. No
// digits: the callers sort failures by the numbers in their text.
inline constexpr std::string_view TooLargeMessage = "Response larger than MaxTileBytes";
// A transfer that receives fewer bytes than this in StallTimeoutSeconds is
// stalled: a server that trickles a byte now and then holds a worker as long
// as a silent one.
inline constexpr long long StallMinimumBytes = 1024;

// "Socket Error # 10054\r\nConnection reset by peer."
std::string SocketErrorMessage(int number);

// What a caller puts on a client before its first request.
struct THttpSettings {
  std::string ProxyServer;  // empty: no proxy
  int ProxyPort = 0;
  std::string ProxyUsername;
  std::string ProxyPassword;
  std::optional<std::string> Referer;
  std::optional<std::string> UserAgent;  // unset: DefaultUserAgent
  std::optional<std::string> Connection;
  std::vector<std::string> ExtraHeaders;  // complete lines, sent last in this order
  int ConnectTimeoutSeconds = 30;
  int StallTimeoutSeconds = 60;  // fewer than StallMinimumBytes in this long: fails as 10060
  int TransferTimeoutSeconds = 300;  // a GET that takes longer in all fails as 10060; 0: never
  // A longer body is read no further: a 2xx answer fails with TooLargeMessage,
  // another with its status line.
  long long MaxBodyBytes = 16 * 1024 * 1024;
  // Asked during a transfer; true ends it with StoppedMessage. Empty: never.
  std::function<bool()> StopRequested;
};

// One client per thread; it keeps its connection open between requests.
class IHttpClient {
 public:
  virtual ~IHttpClient() = default;
  THttpSettings Settings;
  // GETs an http or https URL. On a 2xx answer appends the body to buffer;
  // otherwise throws EHttpError. Never retries, never follows a redirect.
  virtual void Get(const std::string& url, std::string& buffer) = 0;
};

// The client over libcurl.
std::unique_ptr<IHttpClient> MakeCurlHttpClient();

// Call once in main before any thread starts (libcurl's global set-up).
void InitHttp();

// A line of a response head as received (with its CR LF): for a status line,
// the text a non-2xx answer fails with (the line without its line end, any
// other control character made a space).
std::optional<std::string> StatusLineMessage(std::string_view headerLine);

inline constexpr std::string_view InvalidImageMessage = "Invalid image data";

// The request header lines (without the request line) that a client with these
// settings sends for url, in order. Shared by the client and its tests.
std::vector<std::string> RequestHeaderLines(const THttpSettings& settings, std::string_view url);

// The parts of an absolute URL that the client and the cookie lookup need.
struct TUrlParts {
  std::string Scheme;     // lower case; empty when the URL has none
  std::string Authority;  // host[:port], without user information
  std::string Host;       // without the port ([...] kept for an IPv6 address)
  std::string Port;       // empty when none is given
  std::string Path;       // from the first "/", "?" or "#" on; empty when none
};
TUrlParts ParseUrl(std::string_view url);

// "Basic " + Base64(user ":" password).
std::string BasicCredentials(std::string_view user, std::string_view password);

}  // namespace meridane
