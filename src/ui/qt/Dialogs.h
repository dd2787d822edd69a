#pragma once

#include <QDialog>

#include "ui/AboutForm.h"
#include "ui/ConvertForm.h"
#include "ui/FailedForm.h"
#include "ui/OptionsForm.h"
#include "ui/qt/Binder.h"
#include "ui/qt/QtToolkit.h"

namespace meridane {

// A label that reads as a link: green, underlined, a hand cursor. A click, or
// Enter or Space once the keyboard has reached it, runs OnClick.
class TLinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TLinkLabel(QWidget* parent);
  std::function<void()> OnClick;
  void Press();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

// The four dialogs over their logic. Each registers with the toolkit under its
// form name; its show event runs the logic's FormShow.

class TAboutDialog : public QDialog {
 public:
  TAboutDialog(TQtToolkit& toolkit, TfrmAbout& form, QWidget* parent);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TfrmAbout& Form;
  TBinder Binder;
};

class TConvertDialog : public QDialog {
 public:
  TConvertDialog(TQtToolkit& toolkit, TfrmConvert& form, QWidget* parent);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TfrmConvert& Form;
  TBinder Binder;
};

class TOptionsDialog : public QDialog {
 public:
  TOptionsDialog(TQtToolkit& toolkit, TfrmOptions& form, QWidget* parent);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TfrmOptions& Form;
  TBinder Binder;
};

class TFltDialog : public QDialog {
 public:
  // The widget keeps at most this many transcript lines.
  static constexpr int ShownLines = 20000;

  TFltDialog(TQtToolkit& toolkit, TfrmFlt& form, QWidget* parent);
  ~TFltDialog() override;

  // Closing does not break a run off: the title bar's close and Escape wait
  // for its end (Stop ends it).
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TfrmFlt& Form;
  TBinder Binder;
};

}  // namespace meridane
