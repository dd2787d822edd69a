#include "ui/qt/QtToolkit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>
#include <chrono>
#include <thread>

namespace meridane {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// "Projects(*.mrd)|*.mrd" as Qt writes a filter: "Projects (*.mrd)", the
// pattern once even when the name already shows it.
QString QtFilter(const std::string& filter) {
  const auto bar = filter.find('|');
  if (bar == std::string::npos) return Q(filter);
  QString name = Q(filter.substr(0, bar));
  const QString pattern = Q(filter.substr(bar + 1));
  const QString shown = "(" + pattern + ")";
  if (name.endsWith(shown)) name.chop(shown.size());
  return name.trimmed() + " " + shown;
}

}  // namespace

TQtToolkit::TQtToolkit() {
  // Worker threads wake the main thread with one queued call per batch.
  Queue.OnFirstQueued = [this] { QMetaObject::invokeMethod(this, [this] { RunBatch(); }, Qt::QueuedConnection); };
  connect(&Timer, &QTimer::timeout, this, [this] {
    if (OnTick) OnTick();
    if (Refresh) Refresh();
  });
}

TQtToolkit::~TQtToolkit() { Queue.OnFirstQueued = nullptr; }

// A box or dialog belongs to the window the user works in (a dialog's own
// message sits over the dialog), or else to the main window.
QWidget* TQtToolkit::Owner() const {
  if (QWidget* active = QApplication::activeModalWidget()) return active;
  return Main.data();
}

void TQtToolkit::RunBatch() {
  if (Queue.Pump() > 0 && Refresh) Refresh();
}

void TQtToolkit::ShowMessage(const std::string& text) {
  Messages.push_back(text);
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), Q(text), QMessageBox::Ok, Owner());
  box.setObjectName("MessageBox");
  box.exec();
}

void TQtToolkit::ShowError(const std::string& text) {
  Errors.push_back(text);
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), Q(text), QMessageBox::Ok, Owner());
  box.setObjectName("ErrorBox");
  box.exec();
}

bool TQtToolkit::Ask(const std::string& text) {
  Questions.push_back(text);
  QMessageBox box(QMessageBox::Question, QApplication::applicationName(), Q(text),
                  QMessageBox::Yes | QMessageBox::No, Owner());
  box.setObjectName("QuestionBox");
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> TQtToolkit::OpenFile(const std::string& title, const std::string& filter,
                                                const std::string& initialFolder) {
  const QString chosen = QFileDialog::getOpenFileName(Owner(), Q(title), Q(initialFolder), QtFilter(filter));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

std::optional<std::string> TQtToolkit::PickFolder(const std::string& title, const std::string& initialFolder) {
  const QString chosen = QFileDialog::getExistingDirectory(Owner(), Q(title), Q(initialFolder));
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

void TQtToolkit::ShellOpen(const std::string& target) {
  const QString text = Q(target);
  // A path is a local file; anything with a scheme (http:, mailto:) an address.
  const QUrl url = text.startsWith('/') ? QUrl::fromLocalFile(text) : QUrl(text);
  QDesktopServices::openUrl(url);
}

bool TQtToolkit::StartProgram(const std::string& path) {
  const QString program = Q(path);
  if (!QFileInfo(program).isFile()) return false;
  return QProcess::startDetached(program, {});
}

void TQtToolkit::ProcessPendingEvents() {
  QApplication::processEvents(QEventLoop::AllEvents, 10);
  RunBatch();
  // Nothing here signals a worker's end: a short sleep keeps a waiting loop
  // from spinning while the window still repaints.
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void TQtToolkit::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(
      this,
      [this, call = std::move(call)] {
        call();
        if (Refresh) Refresh();
      },
      Qt::QueuedConnection);
}

void TQtToolkit::SetTimer(bool enabled, int intervalMs, std::function<void()> onTick) {
  OnTick = std::move(onTick);
  if (!enabled) {
    Timer.stop();
    return;
  }
  Timer.start(intervalMs);
}

void TQtToolkit::Register(IForm& form, QWidget* window) { Windows[&form] = window; }

QWidget* TQtToolkit::WindowOf(IForm& form) const {
  const auto found = Windows.find(&form);
  return found == Windows.end() ? nullptr : found->second.data();
}

void TQtToolkit::ShowForm(IForm& form) {
  if (QWidget* window = WindowOf(form)) {
    if (window->isVisible()) return;
    window->show();
  }
}

void TQtToolkit::ShowModal(IForm& form) {
  if (auto* dialog = qobject_cast<QDialog*>(WindowOf(form))) dialog->exec();
}

void TQtToolkit::BringToFront(IForm& form) {
  if (QWidget* window = WindowOf(form)) {
    window->raise();
    window->activateWindow();
  }
}

void TQtToolkit::CloseForm(IForm& form) {
  QWidget* window = WindowOf(form);
  if (!window) return;
  if (auto* dialog = qobject_cast<QDialog*>(window))
    dialog->done(QDialog::Accepted);  // ends exec() when modal
  else
    window->close();
}

void TQtToolkit::Terminate() { QCoreApplication::quit(); }

}  // namespace meridane
