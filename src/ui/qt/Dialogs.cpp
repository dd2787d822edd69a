#include "ui/qt/Dialogs.h"

namespace meridane {

TAboutDialog::TAboutDialog(TQtToolkit& toolkit, TfrmAbout& form, QWidget* parent) : QDialog(parent), Form(form) {
  setObjectName(form.FormName());
  toolkit.Register(form, this);
}

void TAboutDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Binder.Run([this] { Form.FormShow(); });
}

TConvertDialog::TConvertDialog(TQtToolkit& toolkit, TfrmConvert& form, QWidget* parent) : QDialog(parent), Form(form) {
  setObjectName(form.FormName());
  toolkit.Register(form, this);
}

TOptionsDialog::TOptionsDialog(TQtToolkit& toolkit, TfrmOptions& form, QWidget* parent) : QDialog(parent), Form(form) {
  setObjectName(form.FormName());
  toolkit.Register(form, this);
}

void TOptionsDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Binder.Run([this] { Form.FormShow(); });
}

TFltDialog::TFltDialog(TQtToolkit& toolkit, TfrmFlt& form, QWidget* parent) : QDialog(parent), Form(form) {
  setObjectName(form.FormName());
  toolkit.Register(form, this);
}

void TFltDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Binder.Run([this] { Form.FormShow(); });
}

}  // namespace meridane
