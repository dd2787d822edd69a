#include "ui/qt/CloseSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>
#include <system_error>

namespace meridane {

namespace {

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};

// The socket the handler writes to; -1 while none is installed.
std::atomic<int> SignalSocket{-1};

void OnSignal(int signal) {
  const int saved = errno;  // the code the signal interrupted may look at it next
  const int socket = SignalSocket.load();
  const auto number = static_cast<unsigned char>(signal);
  // A full socket already holds a signal to act on: this one may be lost.
  [[maybe_unused]] const ssize_t written = socket >= 0 ? ::write(socket, &number, 1) : 0;
  errno = saved;
}

}  // namespace

TCloseOnSignals::TCloseOnSignals(QWidget& window) : Window(&window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, Sockets) != 0)
    throw std::system_error(errno, std::generic_category(), "socketpair");
  Notifier = std::make_unique<QSocketNotifier>(Sockets[1], QSocketNotifier::Read);
  connect(Notifier.get(), &QSocketNotifier::activated, this, [this] { Read(); });
  SignalSocket.store(Sockets[0]);
  static_assert(std::size(Signals) == sizeof Earlier / sizeof Earlier[0]);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(Signals); ++i) sigaction(Signals[i], &action, &Earlier[i]);
}

TCloseOnSignals::~TCloseOnSignals() {
  for (std::size_t i = 0; i < std::size(Signals); ++i) sigaction(Signals[i], &Earlier[i], nullptr);
  SignalSocket.store(-1);
  Notifier.reset();
  ::close(Sockets[0]);
  ::close(Sockets[1]);
}

void TCloseOnSignals::Read() {
  const int first = Received;
  unsigned char numbers[16];
  for (ssize_t count; (count = ::read(Sockets[1], numbers, sizeof numbers)) > 0;)
    if (Received == 0) Received = numbers[0];
  // Closing stops and saves a running task, then ends the event loop; it pumps
  // events meanwhile, so a later signal comes back here and is dropped.
  if (first == 0 && Received != 0 && Window) Window->close();
}

}  // namespace meridane
