#pragma once

#include <QDialog>

#include "ui/AboutForm.h"
#include "ui/ConvertForm.h"
#include "ui/FailedForm.h"
#include "ui/OptionsForm.h"
#include "ui/qt/Binder.h"
#include "ui/qt/QtToolkit.h"

namespace meridane {

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
  TFltDialog(TQtToolkit& toolkit, TfrmFlt& form, QWidget* parent);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TfrmFlt& Form;
  TBinder Binder;
};

}  // namespace meridane
