#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <vector>

#include "ui/Controls.h"
#include "ui/Memo.h"
#include "ui/qt/QtToolkit.h"

namespace meridane {

// Mirrors a window's control models on its widgets. The logic decides; the
// widgets only show the models and hand what the user typed back to them:
// Pull copies the widgets into the models before a handler, Push shows the
// models after it.
class TBinder {
 public:
  // The window these widgets are in: its handlers run as that window's (the
  // boxes they open belong to it).
  void Window(TQtToolkit& toolkit, QWidget* window) {
    Toolkit = &toolkit;
    Owner = window;
  }
  void Edit(QLineEdit* widget, TEdit& model);
  void Label(QLabel* widget, const TLabel& model);
  // A label that names a field: see LabelField.
  void Label(QLabel* widget, const TLabel& model, QWidget* field, char key);
  void Button(QAbstractButton* widget, const TButton& model);
  void Check(QCheckBox* widget, TCheckBox& model);
  void Combo(QComboBox* widget, TComboBox& model);
  // A memo's recent lines, appended in one call per push; a widget keeps at
  // most maxLines (the file keeps every line).
  void Memo(QPlainTextEdit* widget, const TMemo& model, int maxLines);
  // Anything else: what to show after a handler.
  void OnPush(std::function<void()> push) { Pushes.push_back(std::move(push)); }

  void Pull() const;
  void Push() const;
  // A handler as the widgets run it: the models pulled first, shown after.
  void Run(const std::function<void()>& handler) const;

 private:
  std::vector<std::function<void()>> Pulls, Pushes;
  TQtToolkit* Toolkit = nullptr;
  QWidget* Owner = nullptr;
};

// The up-down arrows bound to a read-only edit: two small buttons; each click
// is the model's step from the number the edit shows. A screen reader calls
// them "More <counted>" and "Fewer <counted>".
class TUpDownWidget : public QWidget {
 public:
  TUpDownWidget(QWidget* parent, const char* name, const QString& counted, TUpDown& model, TEdit& buddy,
                const TBinder& binder);
  QToolButton* Up;
  QToolButton* Down;
};

// A control found by its name, made under a parent with that name.
template <class T, class... Args>
T* Named(QWidget* parent, const char* name, Args&&... args) {
  auto* widget = new T(std::forward<Args>(args)..., parent);
  widget->setObjectName(name);
  return widget;
}

inline QString Q(const std::string& text) { return QString::fromStdString(text); }

// A label that names a field, as a screen reader and the keyboard need it: the
// field's accessible name is the label's text (without its colon), the label is
// its buddy, and Alt+key (the first key in the text) moves the focus there.
void LabelField(QLabel* label, const std::string& caption, QWidget* field, char key);

}  // namespace meridane
