#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace meridane::test {

// What the fault server does with one request.
struct TFaultAction {
  enum class EKind { Respond, Reset, Close, SendAndClose, Silence, Trickle };
  EKind Kind;
  std::string Bytes;
  std::string Trickled;  // sent after Bytes, Chunk bytes every IntervalMs
  std::size_t Chunk = 0;
  int IntervalMs = 0;
  bool Repeat = false;  // Trickled over and over, never used up

  // Sends the bytes and keeps the connection for the next request.
  static TFaultAction Respond(std::string bytes) { return {EKind::Respond, std::move(bytes), {}, 0, 0}; }
  // Drops the connection with RST.
  static TFaultAction Reset() { return {EKind::Reset, {}, {}, 0, 0}; }
  // Closes (FIN) without a word.
  static TFaultAction Close() { return {EKind::Close, {}, {}, 0, 0}; }
  // Sends the bytes, then closes: a body cut short when they promise more.
  static TFaultAction SendAndClose(std::string bytes) { return {EKind::SendAndClose, std::move(bytes), {}, 0, 0}; }
  // Answers nothing until the client hangs up or the server stops.
  static TFaultAction Silence() { return {EKind::Silence, {}, {}, 0, 0}; }
  // Sends head at once, then body `chunk` bytes at a time, one chunk every
  // intervalMs, and keeps the connection: a slow server, or a trickling one.
  static TFaultAction Trickle(std::string head, std::string body, std::size_t chunk, int intervalMs) {
    return {EKind::Trickle, std::move(head), std::move(body), std::max<std::size_t>(chunk, 1), intervalMs};
  }
  // Sends head, then bytes of filler as fast as the client takes them, until
  // it hangs up: a body without end.
  static TFaultAction Endless(std::string head, char filler = 'x') {
    TFaultAction action = Trickle(std::move(head), std::string(64 * 1024, filler), 64 * 1024, 0);
    action.Repeat = true;
    return action;
  }
};

// An HTTP server on 127.0.0.1 for what a real server will not do: it records
// every request head byte for byte and answers the n-th request with the n-th
// action of its script (the last one repeats).
class TFaultServer {
 public:
  explicit TFaultServer(std::vector<TFaultAction> script)
      : Script(script.empty() ? std::vector<TFaultAction>{TFaultAction::Close()} : std::move(script)) {
    try {
      Open();
    } catch (...) {
      CloseFd(Listener);
      CloseFd(WakePipe[0]);
      CloseFd(WakePipe[1]);
      throw;
    }
    Worker = std::thread([this] { Run(); });
  }

  ~TFaultServer() {
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(WakePipe[1], &wake, 1);
    if (Worker.joinable()) Worker.join();
    CloseFd(Listener);
    CloseFd(WakePipe[0]);
    CloseFd(WakePipe[1]);
  }

  TFaultServer(const TFaultServer&) = delete;
  TFaultServer& operator=(const TFaultServer&) = delete;

  int Port() const { return ListenPort; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(ListenPort) + path; }

  // Each request head as received, up to and including the blank line.
  std::vector<std::string> Requests() const {
    std::lock_guard lock(Mutex);
    return Received;
  }
  int Connections() const { return Accepted.load(); }

 private:
  using TClock = std::chrono::steady_clock;

  struct TConnection {
    int Fd;
    std::string Pending;
    bool Silent = false;
    std::string Trickling;  // what a Trickle action has still to send
    std::size_t Chunk = 0;
    std::chrono::milliseconds Interval{0};
    TClock::time_point NextChunk{};
    bool Repeat = false;
  };

  void Open() {
    if (::pipe2(WakePipe, O_CLOEXEC) != 0) Fail("pipe");
    Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Listener < 0) Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(Listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
    if (::listen(Listener, 16) != 0) Fail("listen");
    if (::getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
    ListenPort = ntohs(address.sin_port);
  }

  [[noreturn]] static void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

  static void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  static void SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // the client left; nothing to tell it
      sent += static_cast<std::size_t>(n);
    }
  }

  // Acts on every complete request head in the connection's input.
  void Serve(TConnection& c) {
    for (std::size_t end;
         !c.Silent && c.Trickling.empty() && (end = c.Pending.find("\r\n\r\n")) != std::string::npos;) {
      std::size_t index = 0;
      {
        std::lock_guard lock(Mutex);
        Received.push_back(c.Pending.substr(0, end + 4));
        index = Received.size() - 1;
      }
      c.Pending.erase(0, end + 4);
      const TFaultAction& action = Script[std::min(index, Script.size() - 1)];
      switch (action.Kind) {
        case TFaultAction::EKind::Respond: SendAll(c.Fd, action.Bytes); break;
        case TFaultAction::EKind::Reset: {
          const linger abort{1, 0};
          ::setsockopt(c.Fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
          CloseFd(c.Fd);
          return;
        }
        case TFaultAction::EKind::SendAndClose: SendAll(c.Fd, action.Bytes); [[fallthrough]];
        case TFaultAction::EKind::Close: CloseFd(c.Fd); return;
        case TFaultAction::EKind::Silence: c.Silent = true; break;
        case TFaultAction::EKind::Trickle:
          SendAll(c.Fd, action.Bytes);
          c.Trickling = action.Trickled;
          c.Chunk = action.Chunk;
          c.Interval = std::chrono::milliseconds(action.IntervalMs);
          c.NextChunk = TClock::now() + c.Interval;
          c.Repeat = action.Repeat;
          break;
      }
    }
  }

  // Sends the next chunk of a trickle when its time has come; the requests
  // that wait behind a finished trickle are served then.
  void SendDueChunk(TConnection& c) {
    if (c.Fd < 0 || c.Trickling.empty() || TClock::now() < c.NextChunk) return;
    const std::size_t n = std::min(c.Chunk, c.Trickling.size());
    SendAll(c.Fd, c.Trickling.substr(0, n));
    if (c.Repeat) return;
    c.Trickling.erase(0, n);
    c.NextChunk += c.Interval;
    if (c.Trickling.empty()) Serve(c);
  }

  // How long poll may wait: until the earliest chunk that is due, or for ever.
  static int PollTimeout(const std::vector<TConnection>& connections) {
    int timeout = -1;
    for (const TConnection& c : connections) {
      if (c.Trickling.empty()) continue;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(c.NextChunk - TClock::now()).count();
      const int wait = static_cast<int>(std::max<long long>(left, 0));
      timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    return timeout;
  }

  void Run() {
    std::vector<TConnection> connections;
    for (;;) {
      std::vector<pollfd> fds{{WakePipe[0], POLLIN, 0}, {Listener, POLLIN, 0}};
      for (const TConnection& c : connections) fds.push_back({c.Fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), PollTimeout(connections)) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[0].revents) break;
      for (std::size_t i = 0; i < connections.size(); ++i) {
        if (!fds[i + 2].revents) continue;
        TConnection& c = connections[i];
        char chunk[4096];
        const ssize_t n = ::recv(c.Fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
          CloseFd(c.Fd);
          continue;
        }
        if (!c.Silent) c.Pending.append(chunk, static_cast<std::size_t>(n));
        Serve(c);
      }
      for (TConnection& c : connections) SendDueChunk(c);
      std::erase_if(connections, [](const TConnection& c) { return c.Fd < 0; });
      if (fds[1].revents & POLLIN) {
        const int fd = ::accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          ++Accepted;
          connections.push_back({fd, {}, false, {}, 0, {}, {}, false});
        }
      }
    }
    for (TConnection& c : connections) CloseFd(c.Fd);
  }

  std::vector<TFaultAction> Script;
  int WakePipe[2] = {-1, -1};
  int Listener = -1;
  int ListenPort = 0;
  std::atomic<int> Accepted{0};
  mutable std::mutex Mutex;
  std::vector<std::string> Received;
  std::thread Worker;
};

}  // namespace meridane::test
