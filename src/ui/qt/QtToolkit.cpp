#include "ui/qt/QtToolkit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QUrl>
#include <algorithm>
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

TQtToolkit::TQtToolkit() : Opener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  // Worker threads wake the main thread with one queued call per batch.
  Queue.OnFirstQueued = [this] { QMetaObject::invokeMethod(this, [this] { RunBatch(); }, Qt::QueuedConnection); };
  connect(&Timer, &QTimer::timeout, this, [this] {
    if (OnTick) OnTick();
    if (Refresh) Refresh();
  });
}

TQtToolkit::~TQtToolkit() { Queue.OnFirstQueued = nullptr; }

// A box or dialog belongs to the window whose handler opens it, so it opens over
// that window (the converter's "Input Error." over the converter). Without a
// handler (a timer tick, a worker's call): the window the user works in.
QWidget* TQtToolkit::Owner() const {
  for (QWidget* window = Acting.data(); window; window = window->parentWidget())
    if (window->isVisible()) return window->window();
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  return Main.data();
}

void TQtToolkit::RunIn(QWidget* window, const std::function<void()>& handler) {
  // The outer handler's window again afterwards, even when this one throws.
  const QScopedValueRollback<QPointer<QWidget>> restore(Acting, QPointer<QWidget>(window));
  handler();
}

int TQtToolkit::Exec(QDialog& dialog) {
  // A modal window under one kept on top (the converter) could neither be seen
  // nor let the other take input: the program would look frozen.
  const QWidgetList windows = QApplication::topLevelWidgets();
  const bool onTop = std::any_of(windows.begin(), windows.end(), [&dialog](QWidget* window) {
    return window != &dialog && window->isVisible() && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
  });
  dialog.setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
  int result = 0;
  RunIn(&dialog, [&] { result = dialog.exec(); });
  return result;
}

int TQtToolkit::Box(QMessageBox::Icon icon, const char* name, const std::string& text,
                    QMessageBox::StandardButtons buttons, Qt::TextInteractionFlags interaction) {
  // The box waits for the user: what the handler changed so far shows behind it.
  if (Refresh) Refresh();
  QMessageBox box(icon, QApplication::applicationName(), Q(text), buttons, Owner());
  box.setObjectName(name);
  if (buttons & QMessageBox::No) box.setDefaultButton(QMessageBox::No);  // Enter on a question is No
  if (interaction) box.setTextInteractionFlags(interaction);
  return Exec(box);
}

void TQtToolkit::RunBatch() {
  if (Queue.Pump() > 0 && Refresh) Refresh();
}

void TQtToolkit::Repaint() {
  if (Refresh) Refresh();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TQtToolkit::ShowMessage(const std::string& text) {
  Messages.push_back(text);
  Box(QMessageBox::NoIcon, "MessageBox", text, QMessageBox::Ok);
}

void TQtToolkit::ShowError(const std::string& text) {
  Errors.push_back(text);
  Box(QMessageBox::Critical, "ErrorBox", text, QMessageBox::Ok);
}

bool TQtToolkit::ShowMessageWith(const std::string& text, const std::string& button) {
  Messages.push_back(text);
  if (Refresh) Refresh();
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), Q(text), QMessageBox::Ok, Owner());
  box.setObjectName("MessageBox");
  QPushButton* second = box.addButton(Q(button), QMessageBox::ActionRole);
  second->setObjectName("SecondButton");
  Exec(box);
  return box.clickedButton() == second;
}

bool TQtToolkit::Ask(const std::string& text) {
  Questions.push_back(text);
  return Box(QMessageBox::Question, "QuestionBox", text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

namespace {
std::optional<std::string> Chosen(QFileDialog& dialog, int result) {
  const QStringList files = dialog.selectedFiles();
  if (result != QDialog::Accepted || files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  return files.first().toStdString();
}
}  // namespace

std::optional<std::string> TQtToolkit::OpenFile(const std::string& title, const std::string& filter,
                                                const std::string& initialFolder) {
  QFileDialog dialog(Owner(), Q(title), Q(initialFolder), QtFilter(filter));
  dialog.setFileMode(QFileDialog::ExistingFile);
  return Chosen(dialog, Exec(dialog));
}

std::optional<std::string> TQtToolkit::SaveFile(const std::string& title, const std::string& filter,
                                                const std::string& initialFolder) {
  QFileDialog dialog(Owner(), Q(title), Q(initialFolder), QtFilter(filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  // A name typed without the filter's extension gets it.
  const auto dot = filter.rfind("*.");
  if (dot != std::string::npos) dialog.setDefaultSuffix(Q(filter.substr(dot + 2)));
  return Chosen(dialog, Exec(dialog));
}

std::optional<std::string> TQtToolkit::PickFolder(const std::string& title, const std::string& initialFolder) {
  QFileDialog dialog(Owner(), Q(title), Q(initialFolder));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  return Chosen(dialog, Exec(dialog));
}

void TQtToolkit::ShellOpen(const std::string& target) {
  const QString text = Q(target);
  // A path is a local file; anything with a scheme (http:, mailto:) an address.
  const QUrl url = text.startsWith('/') ? QUrl::fromLocalFile(text) : QUrl(text);
  if (Opener(url)) return;
  // No browser or mail program: the user can still copy the address.
  const std::string message = "Nothing on this computer could open:\n" + target;
  Messages.push_back(message);
  Box(QMessageBox::Warning, "OpenFailedBox", message, QMessageBox::Ok,
      Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
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
  if (auto* dialog = qobject_cast<QDialog*>(WindowOf(form))) Exec(*dialog);
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
