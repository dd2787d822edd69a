#include "download/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <mutex>
#include <utility>

namespace meridane {

namespace {

std::string_view SocketErrorText(int number) {
  switch (number) {
    case SocketError::AddressInUse: return "Address already in use.";
    case SocketError::NetworkUnreachable: return "Network is unreachable.";
    case SocketError::ConnectionReset: return "Connection reset by peer.";
    case SocketError::TimedOut: return "Connection timed out.";
    case SocketError::ConnectionRefused: return "Connection refused.";
    case SocketError::HostUnreachable: return "No route to host.";
    case SocketError::HostNotFound: return "Host not found.";
  }
  return "Socket error.";
}

// The Windows number of a system error met on a socket.
int SocketNumberOf(long osErrno, int fallback) {
  switch (osErrno) {
    case ECONNRESET:
    case EPIPE: return SocketError::ConnectionReset;
    case ECONNREFUSED: return SocketError::ConnectionRefused;
    case ETIMEDOUT: return SocketError::TimedOut;
    case ENETUNREACH:
    case ENETDOWN: return SocketError::NetworkUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN: return SocketError::HostUnreachable;
    case EADDRINUSE:
    case EADDRNOTAVAIL: return SocketError::AddressInUse;
  }
  return fallback;
}

// "host[:port]" of an absolute URL, the port left out when it is the scheme's own.
const std::string& HostOf(const TUrlParts& parts) {
  return parts.Port == (parts.Scheme == "https" ? "443" : "80") ? parts.Host : parts.Authority;
}

std::string OneLine(std::string_view value) {
  std::string out(value);
  std::erase_if(out, [](char c) { return c == '\r' || c == '\n'; });
  return out;
}

struct TCurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct TListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct TMultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// The longest a GET waits between two looks at StopRequested.
constexpr int StopPollMilliseconds = 50;

// What a body or header function returns to make curl end the transfer.
#ifdef CURL_WRITEFUNC_ERROR
constexpr std::size_t AbortTransfer = CURL_WRITEFUNC_ERROR;
#else
constexpr std::size_t AbortTransfer = 0;
#endif

constexpr std::size_t RetainedBodyBytes = 1024 * 1024;

bool IsSuccess(long status) { return status >= 200 && status <= 299; }

class TCurlHttpClient : public IHttpClient {
 public:
  TCurlHttpClient() : Multi(curl_multi_init()), Handle(curl_easy_init()) {
    if (!Multi || !Handle) throw EHttpError("");
  }

  void Get(const std::string& url, std::string& buffer) override {
    const TUrlParts parts = ParseUrl(url);
    if (parts.Scheme != "http" && parts.Scheme != "https") throw EHttpError("Unsupported protocol");
    CURL* h = Handle.get();
    Body.clear();
    // Room for an ordinary tile is kept between GETs, not for the largest body met.
    if (Body.capacity() > RetainedBodyBytes) Body.shrink_to_fit();
    StatusLine.clear();
    HeadComplete = false;
    curl_slist* headers = HeaderList(url, parts);

    curl_easy_reset(h);  // keeps the open connection, forgets the previous request's options
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // Room for a whole tile per read: fewer system calls per tile.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A stop during a name lookup leaves the lookup's thread to finish and
    // free itself, instead of waiting for a slow resolver.
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &TCurlHttpClient::OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &TCurlHttpClient::OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(Settings.ConnectTimeoutSeconds));
    // A bound on the whole GET, failing as a stall does (10060): a trickle
    // just above the stall rate would otherwise hold a worker for ever.
    curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(std::max(0, Settings.TransferTimeoutSeconds)));
    // Our own check rather than curl's low-speed limit: the stall must keep its
    // socket-error text, and a stop must be able to end the transfer.
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TCurlHttpClient::OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    Received = 0;
    WindowReceived = 0;
    WindowStart = std::chrono::steady_clock::now();
    Stalled = false;
    Stopped = false;
    BodyReceived = 0;
    TooLarge = false;
    Failure = nullptr;
    // An empty proxy also keeps curl from taking one from the environment.
    const std::string proxy =
        Settings.ProxyServer.empty() ? std::string() : Settings.ProxyServer + ":" + std::to_string(Settings.ProxyPort);
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    if (!proxy.empty() && parts.Scheme == "https" && !Settings.ProxyUsername.empty()) {
      // Through a tunnel the credentials belong in the CONNECT request only.
      curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, Settings.ProxyUsername.c_str());
      curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, Settings.ProxyPassword.c_str());
    }

    const CURLcode result = Perform();
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (Failure) ThrowFailure();
    // An error answer keeps its status line, and so its class for the callers.
    if (TooLarge) throw EHttpError(IsSuccess(status) ? std::string(TooLargeMessage) : StatusLine);
    if (result != CURLE_OK) throw EHttpError(FailureMessage(result));
    // A connection closed inside the head leaves curl content with what it got.
    if (!HeadComplete) throw EHttpError(std::string(ClosedGracefullyMessage));
    if (!IsSuccess(status)) throw EHttpError(StatusLine);
    buffer += Body;
  }

 private:
  // A worker sends the same header lines for every tile: the list is built
  // again only when the host, the scheme or a setting they come from changes.
  curl_slist* HeaderList(const std::string& url, const TUrlParts& parts) {
    const THttpSettings& s = Settings;
    const bool same = Headers && HeadersHost == HostOf(parts) && HeadersScheme == parts.Scheme &&
                      HeadersFrom.Referer == s.Referer && HeadersFrom.UserAgent == s.UserAgent &&
                      HeadersFrom.Connection == s.Connection && HeadersFrom.ProxyServer == s.ProxyServer &&
                      HeadersFrom.ProxyUsername == s.ProxyUsername && HeadersFrom.ProxyPassword == s.ProxyPassword &&
                      HeadersFrom.ExtraHeaders == s.ExtraHeaders;
    if (same) return Headers.get();
    std::unique_ptr<curl_slist, TListDeleter> list;
    auto add = [&list](const std::string& line) {
      curl_slist* grown = curl_slist_append(list.get(), line.c_str());
      if (!grown) throw EHttpError("");
      list.release();
      list.reset(grown);
    };
    for (const std::string& line : RequestHeaderLines(s, url)) add(line);
    add("Proxy-Connection:");  // curl would add its own; the request carries only ours
    Headers = std::move(list);
    HeadersHost = HostOf(parts);
    HeadersScheme = parts.Scheme;
    HeadersFrom = s;
    return Headers.get();
  }

  // curl_easy_perform, but looking at the stop request after every wait:
  // curl's own loop calls the progress function only about once a second
  // while no byte flows, which held a closing window up that long.
  CURLcode Perform() {
    CURLM* multi = Multi.get();
    CURL* h = Handle.get();
    auto failed = [](CURLMcode code) { return code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT; };
    if (const CURLMcode code = curl_multi_add_handle(multi, h); code != CURLM_OK) return failed(code);
    CURLcode result = CURLE_OK;
    for (;;) {
      int running = 0;
      if (const CURLMcode code = curl_multi_perform(multi, &running); code != CURLM_OK) {
        result = failed(code);
        break;
      }
      if (running == 0) {
        int left = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi, &left))
          if (message->msg == CURLMSG_DONE) result = message->data.result;
        break;
      }
      if (StopAsked()) {
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      // Returns early on activity or when one of curl's own timers is due.
      curl_multi_poll(multi, nullptr, 0, StopPollMilliseconds, nullptr);
    }
    curl_multi_remove_handle(multi, h);
    return result;
  }

  std::string FailureMessage(CURLcode result) const {
    long osErrno = 0;
    curl_easy_getinfo(Handle.get(), CURLINFO_OS_ERRNO, &osErrno);
    if (result == CURLE_ABORTED_BY_CALLBACK && Stopped) return std::string(StoppedMessage);
    if (result == CURLE_ABORTED_BY_CALLBACK && Stalled) return SocketErrorMessage(SocketError::TimedOut);
    switch (result) {
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_COULDNT_RESOLVE_PROXY: return SocketErrorMessage(SocketError::HostNotFound);
      case CURLE_COULDNT_CONNECT: return SocketErrorMessage(SocketNumberOf(osErrno, SocketError::ConnectionRefused));
      case CURLE_OPERATION_TIMEDOUT: return SocketErrorMessage(SocketError::TimedOut);
      case CURLE_GOT_NOTHING:
      case CURLE_PARTIAL_FILE: return std::string(ClosedGracefullyMessage);
      case CURLE_RECV_ERROR:
      case CURLE_SEND_ERROR:
        if (osErrno == 0) return std::string(ClosedGracefullyMessage);
        return SocketErrorMessage(SocketNumberOf(osErrno, SocketError::ConnectionReset));
      default:
        // curl's fixed text only: its detailed text names hosts and ports, whose
        // digits could pass for a status code.
        return curl_easy_strerror(result);
    }
  }

  // The failure of a callback, thrown once curl has let go of the transfer.
  [[noreturn]] void ThrowFailure() {
    const std::exception_ptr failure = std::exchange(Failure, nullptr);
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      throw EHttpError(e.what());
    } catch (...) {
      throw EHttpError("");
    }
  }

  // Whether the caller wants the transfer ended; a failure to tell ends it too.
  bool StopAsked() noexcept {
    try {
      Stopped = Settings.StopRequested && Settings.StopRequested();
    } catch (...) {
      Failure = std::current_exception();
      return true;
    }
    return Stopped;
  }

  long Status() const {
    long status = 0;
    curl_easy_getinfo(Handle.get(), CURLINFO_RESPONSE_CODE, &status);
    return status;
  }

  // An exception thrown through curl would leave the transfer and the handle
  // in a state no later GET recovers from: the callbacks catch everything and
  // end the transfer instead.
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) noexcept {
    auto* client = static_cast<TCurlHttpClient*>(self);
    const std::size_t n = size * count;
    client->Received += static_cast<long long>(n);
    if (client->BodyReceived + static_cast<long long>(n) > client->Settings.MaxBodyBytes) {
      client->TooLarge = true;
      return AbortTransfer;
    }
    client->BodyReceived += static_cast<long long>(n);
    try {
      // The body of an error answer is read, to keep the connection, but not kept.
      if (IsSuccess(client->Status())) client->Body.append(data, n);
    } catch (...) {
      client->Failure = std::current_exception();
      return AbortTransfer;
    }
    return n;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) noexcept {
    auto* client = static_cast<TCurlHttpClient*>(self);
    client->Received += static_cast<long long>(size * count);
    const std::string_view line(data, size * count);
    try {
      if (auto status = StatusLineMessage(line)) {
        client->StatusLine = std::move(*status);
        client->HeadComplete = false;
      } else if (line == "\r\n" || line == "\n") {
        client->HeadComplete = true;
        // A body announced beyond the limit is not read at all.
        curl_off_t length = -1;
        curl_easy_getinfo(client->Handle.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length > client->Settings.MaxBodyBytes) {
          client->TooLarge = true;
          return AbortTransfer;
        }
      }
    } catch (...) {
      client->Failure = std::current_exception();
      return AbortTransfer;
    }
    return size * count;
  }

  // Called often while bytes flow and about once a second while none do.
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
    auto* client = static_cast<TCurlHttpClient*>(self);
    const THttpSettings& settings = client->Settings;
    if (client->StopAsked()) return 1;
    const int limit = settings.StallTimeoutSeconds;
    const auto now = std::chrono::steady_clock::now();
    if (limit <= 0 || now - client->WindowStart < std::chrono::seconds(limit)) return 0;
    // Counted in windows of the stall time from the start of the GET, head and
    // body bytes alike.
    if (client->Received - client->WindowReceived < StallMinimumBytes) {
      client->Stalled = true;
      return 1;
    }
    client->WindowStart = now;
    client->WindowReceived = client->Received;
    return 0;
  }

  // Holds the open connection between GETs; outlives the handle.
  std::unique_ptr<CURLM, TMultiDeleter> Multi;
  std::unique_ptr<CURL, TCurlDeleter> Handle;
  std::unique_ptr<curl_slist, TListDeleter> Headers;
  std::string HeadersHost, HeadersScheme;
  THttpSettings HeadersFrom;
  std::string Body;
  std::string StatusLine;
  bool HeadComplete = false;
  long long Received = 0;  // bytes of the current GET so far
  long long WindowReceived = 0;
  std::chrono::steady_clock::time_point WindowStart;
  bool Stalled = false;
  bool Stopped = false;
  long long BodyReceived = 0;  // body bytes of the current GET, kept or not
  bool TooLarge = false;
  std::exception_ptr Failure;  // what a callback caught
};

}  // namespace

TUrlParts ParseUrl(std::string_view url) {
  TUrlParts parts;
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return parts;
  for (char c : url.substr(0, schemeEnd))
    parts.Scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string_view rest = url.substr(schemeEnd + 3);
  const std::size_t pathStart = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, pathStart);
  if (pathStart != std::string_view::npos) parts.Path = rest.substr(pathStart);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  parts.Authority = authority;
  const std::size_t colon = authority.rfind(':');
  // A colon inside [...] belongs to an IPv6 address, not to a port.
  if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
    parts.Host = authority.substr(0, colon);
    parts.Port = authority.substr(colon + 1);
  } else {
    parts.Host = authority;
  }
  return parts;
}

std::string SocketErrorMessage(int number) {
  return "Socket Error # " + std::to_string(number) + "\r\n" + std::string(SocketErrorText(number));
}

void InitHttp() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::unique_ptr<IHttpClient> MakeCurlHttpClient() {
  InitHttp();
  return std::make_unique<TCurlHttpClient>();
}

std::optional<std::string> StatusLineMessage(std::string_view headerLine) {
  if (!headerLine.starts_with("HTTP/")) return std::nullopt;
  while (headerLine.ends_with('\n') || headerLine.ends_with('\r')) headerLine.remove_suffix(1);
  // The line goes into the log: a control character there could break it or
  // drive the terminal that shows it.
  std::string text(headerLine);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') c = ' ';
  return text;
}

std::string BasicCredentials(std::string_view user, std::string_view password) {
  static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string plain = std::string(user) + ":" + std::string(password);
  std::string out = "Basic ";
  for (std::size_t i = 0; i < plain.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, plain.size() - i);
    unsigned value = 0;
    for (std::size_t k = 0; k < 3; ++k) value = (value << 8) | (k < n ? static_cast<unsigned char>(plain[i + k]) : 0U);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? Alphabet[(value >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::vector<std::string> RequestHeaderLines(const THttpSettings& s, std::string_view url) {
  std::vector<std::string> lines;
  const TUrlParts parts = ParseUrl(url);
  lines.push_back("Host: " + OneLine(HostOf(parts)));
  lines.push_back("Accept: " + std::string(DefaultAccept));
  if (s.Referer) lines.push_back("Referer: " + OneLine(*s.Referer));
  lines.push_back("User-Agent: " + OneLine(s.UserAgent.value_or(std::string(DefaultUserAgent))));
  if (s.Connection) lines.push_back("Connection: " + OneLine(*s.Connection));
  if (!s.ProxyServer.empty() && !s.ProxyUsername.empty() && parts.Scheme != "https")
    lines.push_back("Proxy-Authorization: " + BasicCredentials(s.ProxyUsername, s.ProxyPassword));
  for (const std::string& extra : s.ExtraHeaders) lines.push_back(OneLine(extra));
  return lines;
}

}  // namespace meridane
