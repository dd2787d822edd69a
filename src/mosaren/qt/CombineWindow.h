#pragma once

#include <QWidget>

#include "mosaren/CombineForm.h"
#include "ui/qt/Binder.h"
#include "ui/qt/QtToolkit.h"

namespace meridane {

// The map combiner's window over its logic: every field named by its label
// (Alt+the underlined key), reachable with Tab.
class TCombineWindow : public QWidget {
 public:
  TCombineWindow(TQtToolkit& toolkit, TCombineForm& form);
  ~TCombineWindow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Enter starts the run from any field, as in a dialog; on a button it presses that button.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Runs a handler of the logic as the binder runs every handler.
  void Handle(void (TCombineForm::*click)());

  TQtToolkit& Toolkit;
  TCombineForm& Form;
  TBinder Binder;
};

}  // namespace meridane
