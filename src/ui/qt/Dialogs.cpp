#include "ui/qt/Dialogs.h"

#include <QAccessibleWidget>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QVBoxLayout>

namespace meridane {

namespace {

// A dialog border: title and close button only, and a client area of a fixed size.
void DialogBorder(QDialog* dialog, QSize client, Qt::WindowFlags extra = {}) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint | extra);
  dialog->setFixedSize(client);
}

// Moves a window, frame included, to the middle of an area.
void CentreOn(QWidget* window, const QRect& area) {
  QRect frame = window->frameGeometry();
  frame.moveCenter(area.center());
  window->move(frame.topLeft());
}

QScreen* ScreenOf(QWidget* window) {
  QWidget* owner = window->parentWidget();
  return owner ? owner->screen() : window->screen();
}

// A screen reader's view of a link: its role, its address, and pressing it.
class TLinkAccessible : public QAccessibleWidget {
 public:
  explicit TLinkAccessible(TLinkLabel* link) : QAccessibleWidget(link, QAccessible::Link) {}
  QString text(QAccessible::Text kind) const override {
    const auto* link = static_cast<const TLinkLabel*>(widget());
    if (kind == QAccessible::Name && link->accessibleName().isEmpty()) return link->text();
    if (kind == QAccessible::Description) return link->text();
    return QAccessibleWidget::text(kind);
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& action) override {
    if (action == pressAction()) static_cast<TLinkLabel*>(widget())->Press();
  }
};

QAccessibleInterface* LinkAccessible(const QString&, QObject* object) {
  auto* link = qobject_cast<TLinkLabel*>(object);
  return link ? new TLinkAccessible(link) : nullptr;
}

QFrame* Panel(QWidget* parent, const char* name, QFrame::Shadow shadow) {
  auto* panel = Named<QFrame>(parent, name);
  panel->setFrameStyle(QFrame::Panel | shadow);
  return panel;
}

}  // namespace

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
  static const bool installed = (QAccessible::installFactory(LinkAccessible), true);
  (void)installed;
  setTextFormat(Qt::PlainText);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, QColor(0, 128, 0));
  setPalette(colours);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
}

void TLinkLabel::Press() {
  if (OnClick) OnClick();
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  // A click is a press and a release on the label, as with a button.
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Press();
}

void TLinkLabel::keyPressEvent(QKeyEvent* event) {
  // Enter opens the link rather than pressing the dialog's default button.
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      event->accept();
      Press();
      return;
    default: QLabel::keyPressEvent(event);
  }
}

void TLinkLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  // Where the keyboard is: the label draws no focus of its own.
  QStylePainter painter(this);
  QStyleOptionFocusRect focus;
  focus.initFrom(this);
  focus.rect = QStyle::alignedRect(layoutDirection(), alignment(), fontMetrics().size(0, text()), contentsRect())
                   .adjusted(-1, 0, 1, 0);
  painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
}

// --- About ---

TAboutDialog::TAboutDialog(TQtToolkit& toolkit, TfrmAbout& form, QWidget* parent) : QDialog(parent), Form(form) {
  setObjectName(form.FormName());
  DialogBorder(this, {315, 181});

  // Lowered outside, raised inside.
  auto* Panel1 = Panel(this, "Panel1", QFrame::Sunken);
  Panel1->setFixedHeight(145);
  auto* outer = new QVBoxLayout(Panel1);
  outer->setContentsMargins(1, 1, 1, 1);
  auto* inner = new QFrame(Panel1);
  inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
  outer->addWidget(inner);
  auto* grid = new QGridLayout(inner);
  grid->setContentsMargins(14, 10, 14, 10);

  auto* Label3 = Named<QLabel>(inner, "Label3");
  Label3->setTextFormat(Qt::PlainText);
  Label3->setWordWrap(true);
  Label3->setFixedSize(270, 40);
  QFont title = Label3->font();
  title.setUnderline(true);
  title.setBold(true);
  if (title.pointSizeF() > 0) title.setPointSizeF(title.pointSizeF() * 1.3);
  Label3->setFont(title);
  auto* Label8 = Named<QLabel>(inner, "Label8");
  auto* Label5 = Named<QLabel>(inner, "Label5");
  auto* Label4 = Named<TLinkLabel>(inner, "Label4");
  auto* Label6 = Named<QLabel>(inner, "Label6");
  auto* Label7 = Named<TLinkLabel>(inner, "Label7");
  grid->addWidget(Label3, 0, 0, 1, 2);
  grid->addWidget(Label8, 1, 0, 1, 2);
  grid->addWidget(Label5, 2, 0);
  grid->addWidget(Label4, 2, 1);
  grid->addWidget(Label6, 3, 0);
  grid->addWidget(Label7, 3, 1);
  // The credits the map dialog's shipped data asks for, small, in the panel's last line.
  auto* credits = Named<QLabel>(inner, "LabelCredits");
  QFont small = credits->font();
  if (small.pointSizeF() > 0) small.setPointSizeF(small.pointSizeF() * 0.8);
  credits->setFont(small);
  grid->addWidget(credits, 4, 0, 1, 2);
  grid->setColumnStretch(1, 1);

  auto* bLater = Named<QPushButton>(this, "bLater");
  bLater->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(bLater);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 4);
  layout->setSpacing(4);
  layout->addWidget(Panel1);
  layout->addLayout(buttons);

  Binder.Label(credits, Form.LabelCredits);
  Binder.Label(Label3, Form.Label3);
  Binder.Label(Label8, Form.Label8);
  Binder.Label(Label5, Form.Label5, Label4, 'h');
  Binder.Label(Label4, Form.Label4);
  Binder.Label(Label6, Form.Label6, Label7, 'e');
  Binder.Label(Label7, Form.Label7);
  Binder.Button(bLater, Form.bLater);
  Binder.OnPush([this] { setWindowTitle(Q(Form.Caption)); });
  Label4->OnClick = [this] { Binder.Run([this] { Form.Label4Click(); }); };
  Label7->OnClick = [this] { Binder.Run([this] { Form.Label7Click(); }); };
  connect(bLater, &QPushButton::clicked, this, [this] { Binder.Run([this] { Form.bLaterClick(); }); });
  Binder.Window(toolkit, this);
  Binder.Push();
  toolkit.Register(form, this);
}

void TAboutDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOn(this, ScreenOf(this)->availableGeometry());
  Binder.Run([this] { Form.FormShow(); });
}

// --- Degree converter ---

TConvertDialog::TConvertDialog(TQtToolkit& toolkit, TfrmConvert& form, QWidget* parent) : QDialog(parent), Form(form) {
  setObjectName(form.FormName());
  // Beside the main window while the user copies the result over: not modal, on top.
  DialogBorder(this, {360, 150}, Qt::WindowStaysOnTopHint);

  auto* GroupBox1 = Named<QGroupBox>(this, "GroupBox1");
  auto* input = new QGridLayout(GroupBox1);
  auto* Label1 = Named<QLabel>(GroupBox1, "Label1");
  input->addWidget(Label1, 0, 0, 1, 3);
  QLineEdit* fields[3];
  const char* names[] = {"Edit1", "Edit2", "Edit3"};
  TEdit* models[] = {&Form.Edit1, &Form.Edit2, &Form.Edit3};
  for (int i = 0; i < 3; ++i) {
    fields[i] = Named<QLineEdit>(GroupBox1, names[i]);
    input->addWidget(fields[i], 1, i);
    Binder.Edit(fields[i], *models[i]);
  }

  auto* GroupBox2 = Named<QGroupBox>(this, "GroupBox2");
  auto* result = new QHBoxLayout(GroupBox2);
  auto* Label2 = Named<QLabel>(GroupBox2, "Label2");
  auto* Edit4 = Named<QLineEdit>(GroupBox2, "Edit4");
  Edit4->setReadOnly(true);
  result->addWidget(Label2);
  result->addWidget(Edit4, 1);
  auto* Button1 = Named<QPushButton>(this, "Button1");
  Button1->setDefault(true);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(GroupBox2, 1);
  bottom->addWidget(Button1, 0, Qt::AlignBottom);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(GroupBox1);
  layout->addLayout(bottom);

  // The result frame takes its turn through its only field.
  setTabOrder(fields[0], fields[1]);
  setTabOrder(fields[1], fields[2]);
  setTabOrder(fields[2], Edit4);
  setTabOrder(Edit4, Button1);

  Binder.Label(Label1, Form.Label1, fields[0], 'd');
  Binder.Label(Label2, Form.Label2, Edit4, 'r');
  // One label over three fields: each its own name.
  Binder.OnPush([fields] {
    const char* parts[] = {"Degrees", "Minutes", "Seconds"};
    for (int i = 0; i < 3; ++i) fields[i]->setAccessibleName(parts[i]);
  });
  Binder.Edit(Edit4, Form.Edit4);
  Binder.Button(Button1, Form.Button1);
  Binder.OnPush([this] { setWindowTitle(Q(Form.Caption)); });
  connect(Button1, &QPushButton::clicked, this, [this] { Binder.Run([this] { Form.Button1Click(); }); });
  Binder.Window(toolkit, this);
  Binder.Push();
  toolkit.Register(form, this);
}

void TConvertDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOn(this, ScreenOf(this)->availableVirtualGeometry());
  Binder.Run([this] { Form.FormShow(); });
}

// --- Options ---

TOptionsDialog::TOptionsDialog(TQtToolkit& toolkit, TfrmOptions& form, QWidget* parent) : QDialog(parent), Form(form) {
  setObjectName(form.FormName());
  DialogBorder(this, {360, 342});

  // The defaults in a bevelled panel.
  auto* Panel1 = Panel(this, "Panel1", QFrame::Raised);
  auto* defaults = new QGridLayout(Panel1);
  auto* Label1 = Named<QLabel>(Panel1, "Label1");
  auto* Edit12 = Named<QLineEdit>(Panel1, "Edit12");
  auto* Button3 = Named<QPushButton>(Panel1, "Button3");
  Button3->setFixedWidth(28);
  Button3->setAccessibleName("Select path");
  auto* Label11 = Named<QLabel>(Panel1, "Label11");
  auto* Edit2 = Named<QLineEdit>(Panel1, "Edit2");
  Edit2->setReadOnly(true);
  Edit2->setFixedWidth(44);
  auto* UpDown1 = new TUpDownWidget(Panel1, "UpDown1", "threads", Form.UpDown1, Form.Edit2, Binder);
  auto* threads = new QHBoxLayout;
  threads->setSpacing(0);
  threads->addWidget(Edit2);
  threads->addWidget(UpDown1);
  threads->addStretch();
  defaults->addWidget(Label1, 0, 0, 1, 2);
  defaults->addWidget(Edit12, 1, 0);
  defaults->addWidget(Button3, 1, 1);
  defaults->addWidget(Label11, 2, 0, 1, 2);
  defaults->addLayout(threads, 3, 0, 1, 2);

  // The proxy in an uncaptioned group box.
  auto* GroupBox1 = Named<QGroupBox>(this, "GroupBox1");
  auto* proxy = new QGridLayout(GroupBox1);
  auto* CheckBoxUseProxy = Named<QCheckBox>(GroupBox1, "CheckBoxUseProxy");
  proxy->addWidget(CheckBoxUseProxy, 0, 0, 1, 2);
  const struct {
    const char *Label, *Edit;
    const TLabel& LabelModel;
    TEdit& EditModel;
    char Key;  // Alt+Key: P and N are the defaults' above
  } rows[] = {
      {"Label3", "EditProxyServer", Form.Label3, Form.EditProxyServer, 's'},
      {"Label4", "EditProxyPort", Form.Label4, Form.EditProxyPort, 't'},
      {"Label5", "EditProxyUsername", Form.Label5, Form.EditProxyUsername, 'u'},
      {"Label6", "EditProxyPassword", Form.Label6, Form.EditProxyPassword, 'a'},
  };
  int row = 1;
  for (const auto& r : rows) {
    auto* label = Named<QLabel>(GroupBox1, r.Label);
    auto* edit = Named<QLineEdit>(GroupBox1, r.Edit);
    proxy->addWidget(label, row, 0);
    proxy->addWidget(edit, row++, 1);
    Binder.Label(label, r.LabelModel, edit, r.Key);
    Binder.Edit(edit, r.EditModel);
  }
  // Stored in the clear, so shown as typed.
  findChild<QLineEdit*>("EditProxyPassword")->setEchoMode(QLineEdit::Normal);

  auto* Button1 = Named<QPushButton>(this, "Button1");
  Button1->setDefault(true);
  auto* Button2 = Named<QPushButton>(this, "Button2");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Panel1);
  layout->addWidget(GroupBox1);
  layout->addStretch();
  layout->addLayout(buttons);

  Binder.Label(Label1, Form.Label1, Edit12, 'p');
  Binder.Edit(Edit12, Form.Edit12);
  Binder.Button(Button3, Form.Button3);
  Binder.Label(Label11, Form.Label11, Edit2, 'n');
  Binder.Edit(Edit2, Form.Edit2);
  Binder.Check(CheckBoxUseProxy, Form.CheckBoxUseProxy);
  Binder.Button(Button1, Form.Button1);
  Binder.Button(Button2, Form.Button2);
  Binder.OnPush([this] { setWindowTitle(Q(Form.Caption)); });
  connect(Button1, &QPushButton::clicked, this, [this] { Binder.Run([this] { Form.Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { Binder.Run([this] { Form.Button2Click(); }); });
  connect(Button3, &QPushButton::clicked, this, [this] { Binder.Run([this] { Form.Button3Click(); }); });
  Binder.Window(toolkit, this);
  Binder.Push();
  toolkit.Register(form, this);
}

void TOptionsDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QWidget* main = parentWidget())
    CentreOn(this, main->window()->frameGeometry());
  else
    CentreOn(this, screen()->availableGeometry());
  Binder.Run([this] { Form.FormShow(); });
}

// --- Re-download ---

TFltDialog::TFltDialog(TQtToolkit& toolkit, TfrmFlt& form, QWidget* parent) : QDialog(parent), Form(form) {
  setObjectName(form.FormName());
  DialogBorder(this, {703, 453});

  auto* Panel1 = Panel(this, "Panel1", QFrame::Raised);
  Panel1->setFixedHeight(57);
  auto* top = new QHBoxLayout(Panel1);
  top->setContentsMargins(16, 0, 16, 0);
  auto* Button1 = Named<QPushButton>(Panel1, "Button1");
  auto* Button2 = Named<QPushButton>(Panel1, "Button2");
  top->addWidget(Button1);
  top->addWidget(Button2);
  top->addStretch();

  auto* Panel2 = Panel(this, "Panel2", QFrame::Raised);
  auto* fill = new QVBoxLayout(Panel2);
  fill->setContentsMargins(0, 0, 0, 0);
  auto* Memo1 = Named<QPlainTextEdit>(Panel2, "Memo1");
  Memo1->setReadOnly(true);
  Memo1->setAccessibleName("Log");
  // A line is a path and an address, longer than the dialog is wide: wrapped,
  // its end ("->OK" or the error) stays in view.
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont small = Memo1->font();
  small.setPixelSize(13);
  Memo1->setFont(small);
  fill->addWidget(Memo1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(Panel1);
  layout->addWidget(Panel2, 1);

  Binder.Button(Button1, Form.Button1);
  Binder.Button(Button2, Form.Button2);
  Binder.Memo(Memo1, Form.Memo1, ShownLines);
  Binder.OnPush([this, Button1, Button2] {
    setWindowTitle(Q(Form.Caption));
    // The run goes on beside the window: one at a time, and Stop only then.
    Button1->setEnabled(!Form.Running());
    Button2->setVisible(Form.Running());
  });
  connect(Button1, &QPushButton::clicked, this, [this] { Binder.Run([this] { Form.Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { Binder.Run([this] { Form.Button2Click(); }); });
  Form.OnLine = [this](const std::string&) { Binder.Push(); };
  Form.OnEnd = [this] { Binder.Push(); };
  Binder.Window(toolkit, this);
  Binder.Push();
  toolkit.Register(form, this);
}

TFltDialog::~TFltDialog() {
  Form.OnLine = nullptr;
  Form.OnEnd = nullptr;
}

void TFltDialog::reject() {
  if (!Form.Running()) QDialog::reject();
}

void TFltDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOn(this, ScreenOf(this)->availableGeometry());
  Binder.Run([this] { Form.FormShow(); });
}

}  // namespace meridane
