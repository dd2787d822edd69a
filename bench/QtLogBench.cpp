// A million log lines through the desktop main window, offscreen: the lines
// come from a worker thread through the main thread's queue, as a task's do,
// and the window shows them, saved every fourth second. Prints the time, the lines per second, the
// process's peak memory and how many lines the log widget holds.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ui/qt/Application.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const auto folder = std::filesystem::temp_directory_path() / "meridane-qtlog-bench";
  std::filesystem::create_directories(folder / "ini");
  meridane::TMainFormEnvironment environment;
  environment.ProgramFolder = folder;
  meridane::TApplication program(environment);
  program.MainWindow.show();
  QApplication::processEvents();

  meridane::IMainThread& main = program.Toolkit.MainThread();
  meridane::TForm1& form = program.Form1;
  // A running task saves its memos every fourth second; so does this run.
  QTimer saves;
  QObject::connect(&saves, &QTimer::timeout, [&form, &folder] { form.Memo1.SaveToFile(folder / "log.txt"); });
  saves.start(4000);
  QElapsedTimer clock;
  clock.start();
  // Workers wait for the network, so they never run far ahead of the window:
  // this one keeps at most 10,000 lines in the queue.
  std::atomic<long> shown{0};
  std::thread worker([&] {
    for (long i = 1; i <= lines; ++i) {
      std::string line = "T1:seq=" + std::to_string(i) + ",gs_" + std::to_string(843 + i % 1000) + "_388_18.jpg OK";
      main.HandOver([&form, &shown, line = std::move(line)] {
        form.AddLogLine(line);
        shown.fetch_add(1, std::memory_order_relaxed);
      });
      while (i - shown.load(std::memory_order_relaxed) > 10000) std::this_thread::yield();
    }
  });
  while (form.Memo1.Count() < static_cast<std::size_t>(lines) + 1) QApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  QApplication::processEvents();
  const double seconds = clock.elapsed() / 1000.0;

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto* log = program.MainWindow.findChild<QPlainTextEdit*>("Memo1");
  std::printf("lines %ld seconds %.2f lines_per_second %.0f peak_mib %.1f shown_lines %d\n", lines, seconds,
              lines / seconds, usage.ru_maxrss / 1024.0, log->blockCount());
  std::filesystem::remove_all(folder);
  return 0;
}
