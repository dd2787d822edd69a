#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <memory>

namespace meridane {

// The signals that end a desktop session from outside: a closed terminal
// (SIGHUP), a shutdown (SIGTERM), Ctrl-C in the terminal that started the
// program (SIGINT). The first of them closes the window as the user would, so a
// running task is stopped and saved before the program ends; later ones are
// dropped while that goes on. A handler may do next to nothing, so it only
// writes the number to a socket that the event loop watches.
// One at a time; the handlers before it are put back when it goes.
class TCloseOnSignals : public QObject {
 public:
  explicit TCloseOnSignals(QWidget& window);
  ~TCloseOnSignals() override;
  TCloseOnSignals(const TCloseOnSignals&) = delete;
  TCloseOnSignals& operator=(const TCloseOnSignals&) = delete;

  // The signal that closed the window, 0 for none.
  int Signal() const { return Received; }

 private:
  void Read();

  QPointer<QWidget> Window;
  int Sockets[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> Notifier;
  struct sigaction Earlier[3] = {};
  int Received = 0;
};

}  // namespace meridane
