#include "ui/qt/Binder.h"

#include <QHBoxLayout>
#include <QScrollBar>
#include <memory>

namespace meridane {

void TBinder::Edit(QLineEdit* widget, TEdit& model) {
  // The text both sides agreed on last. A push shows only what the logic
  // changed since: a refresh while the user types (a batch of worker lines, a
  // tick) must not put the old text back.
  auto agreed = std::make_shared<std::string>(widget->text().toStdString());
  Pulls.push_back([widget, &model, agreed] { *agreed = model.Text = widget->text().toStdString(); });
  Pushes.push_back([widget, &model, agreed] {
    if (model.Text == *agreed) return;
    *agreed = model.Text;
    if (widget->text().toStdString() != model.Text) widget->setText(Q(model.Text));
  });
}

void TBinder::Label(QLabel* widget, const TLabel& model) {
  Pushes.push_back([widget, &model] { widget->setText(Q(model.Caption)); });
}

void LabelField(QLabel* label, const std::string& caption, QWidget* field, char key) {
  QString text = Q(caption);
  const qsizetype at = text.indexOf(QChar(key), 0, Qt::CaseInsensitive);
  QString name = text.trimmed();
  if (name.endsWith(':')) name = name.chopped(1).trimmed();  // "Default path to save :"
  if (at >= 0) text.insert(at, '&');
  label->setText(text);
  label->setBuddy(field);
  field->setAccessibleName(name);
}

void TBinder::Label(QLabel* widget, const TLabel& model, QWidget* field, char key) {
  Pushes.push_back([widget, &model, field, key] { LabelField(widget, model.Caption, field, key); });
}

void TBinder::Button(QAbstractButton* widget, const TButton& model) {
  Pushes.push_back([widget, &model] { widget->setText(Q(model.Caption)); });
}

void TBinder::Check(QCheckBox* widget, TCheckBox& model) {
  Pulls.push_back([widget, &model] { model.Checked = widget->isChecked(); });
  Pushes.push_back([widget, &model] {
    widget->setText(Q(model.Caption));
    widget->setChecked(model.Checked);
  });
}

void TBinder::Combo(QComboBox* widget, TComboBox& model) {
  Pulls.push_back([widget, &model] { model.ItemIndex = widget->currentIndex(); });
  Pushes.push_back([widget, &model] {
    const QSignalBlocker quiet(widget);
    QStringList items;
    for (const std::string& item : model.Items) items << Q(item);
    bool same = widget->count() == items.size();
    for (int i = 0; same && i < items.size(); ++i) same = widget->itemText(i) == items[i];
    if (!same) {
      widget->clear();
      widget->addItems(items);
    }
    widget->setCurrentIndex(model.ItemIndex);
  });
}

void TBinder::Memo(QPlainTextEdit* widget, const TMemo& model, int maxLines) {
  widget->setMaximumBlockCount(maxLines);
  // A read-only log has nothing to undo; the record would grow with every line.
  widget->setUndoRedoEnabled(false);
  // The lines shown so far, by the memo's count, and the memo's lines they came
  // from: once those are replaced (a clear, a load) the widget starts again.
  struct TShown {
    std::size_t Count = 0;
    std::uint64_t From = ~std::uint64_t{0};
  };
  auto shown = std::make_shared<TShown>();
  // The view follows new lines while the user has left it at the end. Decided
  // when the user scrolls, not when lines come: a smaller window has a larger
  // maximum before the next lines arrive.
  auto follow = std::make_shared<bool>(true);
  QScrollBar* bar = widget->verticalScrollBar();
  QObject::connect(bar, &QScrollBar::valueChanged, widget,
                   [bar, follow](int value) { *follow = value >= bar->maximum(); });
  QObject::connect(bar, &QScrollBar::rangeChanged, widget, [bar, follow](int, int maximum) {
    if (*follow) bar->setValue(maximum);
  });
  Pushes.push_back([widget, &model, shown, follow] {
    if (shown->From != model.Replacements()) {
      widget->clear();
      shown->Count = model.First();
      shown->From = model.Replacements();
    }
    const std::size_t count = model.Count();
    if (count == shown->Count) return;
    QStringList lines;
    for (std::size_t i = std::max(shown->Count, model.First()); i < count; ++i) {
      const std::string_view line = model.Line(i);
      lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    }
    shown->Count = count;
    const bool atEnd = *follow;
    widget->appendPlainText(lines.join('\n'));
    QScrollBar* bar = widget->verticalScrollBar();
    if (atEnd) bar->setValue(bar->maximum());
  });
}

void TBinder::Pull() const {
  for (const auto& pull : Pulls) pull();
}

void TBinder::Push() const {
  for (const auto& push : Pushes) push();
}

void TBinder::Run(const std::function<void()>& handler) const {
  const auto run = [&] {
    Pull();
    handler();
    Push();
  };
  if (Toolkit)
    Toolkit->RunIn(Owner, run);
  else
    run();
}

TUpDownWidget::TUpDownWidget(QWidget* parent, const char* name, const QString& counted, TUpDown& model, TEdit& buddy,
                             const TBinder& binder)
    : QWidget(parent) {
  setObjectName(name);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Up = Named<QToolButton>(this, "Up");
  Down = Named<QToolButton>(this, "Down");
  Up->setArrowType(Qt::UpArrow);
  Down->setArrowType(Qt::DownArrow);
  Up->setAccessibleName("More " + counted);
  Down->setAccessibleName("Fewer " + counted);
  for (QToolButton* button : {Up, Down}) {
    button->setAutoRepeat(true);
    button->setFixedSize(16, 11);
    layout->addWidget(button);
    connect(button, &QToolButton::clicked, this, [button, this, &model, &buddy, &binder] {
      binder.Run([&] { model.Click(button == Up, buddy); });
    });
  }
}

}  // namespace meridane
