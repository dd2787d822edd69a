#include "ui/qt/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <functional>

namespace meridane {

namespace {

// The log window: a double click views the log file.
class TLogView : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;
  std::function<void()> OnDoubleClick;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    if (OnDoubleClick) OnDoubleClick();
  }
};

}  // namespace

TForm1Window::TForm1Window(TQtToolkit& toolkit, TForm1& form, TMainMenu& menu)
    : Toolkit(toolkit), Form(form), Menu(menu) {
  setObjectName("Form1");
  resize(627, 442);

  auto* central = new QWidget(this);
  auto* columns = new QHBoxLayout(central);
  columns->setContentsMargins(4, 4, 4, 4);
  // The fields take the width the window gives them: a long path stays readable.
  auto* panel = Named<QWidget>(central, "Panel1");
  panel->setMinimumWidth(270);
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 0, 0, 0);
  columns->addWidget(panel, 2);

  // Task name and "Open task ...".
  auto* Label16 = Named<QLabel>(panel, "Label16");
  auto* EditTaskName = Named<QLineEdit>(panel, "EditTaskName");
  LabelField(Label16, "Task name:", EditTaskName, 'k');
  auto* Button4 = Named<QPushButton>(panel, "Button4", "Open task ...");
  grid->addWidget(Label16, 0, 0, 1, 4);
  grid->addWidget(EditTaskName, 1, 0, 1, 3);
  grid->addWidget(Button4, 1, 3);

  // The zoom group; the map type stays hidden.
  auto* zoom = Named<QGroupBox>(panel, "GroupBox1");
  auto* zoomGrid = new QGridLayout(zoom);
  // Tight rows: the window's height holds every row, the bar and its two lines
  // without squeezing any, so nothing moves when they appear or the text wraps.
  zoomGrid->setVerticalSpacing(0);
  zoomGrid->setContentsMargins(zoomGrid->contentsMargins() - QMargins(0, 4, 0, 8));
  auto* Label7 = Named<QLabel>(zoom, "Label7", "Maps type:");
  auto* comboMapsType = Named<QComboBox>(zoom, "comboMapsType");
  Label7->hide();
  comboMapsType->hide();
  auto* Label5 = Named<QLabel>(zoom, "Label5");
  TrackBar1 = Named<QSlider>(zoom, "TrackBar1", Qt::Horizontal);
  LabelField(Label5, "Zoom level:", TrackBar1, 'Z');
  TrackBar1->setPageStep(1);
  TrackBar1->setSingleStep(1);
  TrackBar1->setTickInterval(1);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  auto* Label8 = Named<QLabel>(zoom, "Label8");
  Label8->setStyleSheet("color: navy");
  Label8->setMinimumWidth(20);
  zoomGrid->addWidget(Label7, 0, 0);
  zoomGrid->addWidget(comboMapsType, 0, 1, 1, 2);
  zoomGrid->addWidget(Label5, 1, 0, 1, 3);
  zoomGrid->addWidget(TrackBar1, 2, 0, 1, 2);
  zoomGrid->addWidget(Label8, 2, 2);
  grid->addWidget(zoom, 2, 0, 1, 4);

  // The four edges: longitudes side by side, then latitudes. Alt and a letter
  // reaches each field; the menu bar has F, O, M, T and H.
  const struct {
    const char *Label, *Caption, *Edit;
    char Key;
    TEdit& Model;
    int Row, Column;
  } edges[] = {
      {"Label1", "Left Longitude:", "Edit1", 'L', Form.Edit1, 3, 0},
      {"Label2", "Right Longitude:", "Edit3", 'R', Form.Edit3, 3, 2},
      {"Label3", "Top Latitude:", "Edit2", 'p', Form.Edit2, 5, 0},
      {"Label4", "Bottom Latitude:", "Edit4", 'B', Form.Edit4, 5, 2},
  };
  std::vector<QLineEdit*> fields{EditTaskName};
  for (const auto& e : edges) {
    auto* label = Named<QLabel>(panel, e.Label);
    grid->addWidget(label, e.Row, e.Column, 1, 2);
    auto* edit = Named<QLineEdit>(panel, e.Edit);
    LabelField(label, e.Caption, edit, e.Key);
    grid->addWidget(edit, e.Row + 1, e.Column, 1, 2);
    Binder.Edit(edit, e.Model);
    fields.push_back(edit);
    // The tile count follows what is typed.
    connect(edit, &QLineEdit::textEdited, this, [this] { Handle([this] { Form.RequestChanged(); }); });
  }
  auto* LabelEstimate = Named<QLabel>(panel, "LabelEstimate");
  LabelEstimate->setStyleSheet("color: navy");
  // A text that names a field takes a second line, whose room is kept from the
  // start: the fields never widen and the rows below never move.
  LabelEstimate->setWordWrap(true);
  LabelEstimate->setMinimumHeight(2 * LabelEstimate->fontMetrics().lineSpacing());
  LabelEstimate->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  LabelEstimate->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  grid->addWidget(LabelEstimate, 7, 0, 1, 3);
  // Beside the fields it fills: the rectangle picked on a map.
  auto* ButtonMap = Named<QPushButton>(panel, "ButtonMap", "Map...");
  ButtonMap->setToolTip("Pick the area on a map");
  grid->addWidget(ButtonMap, 7, 3);
  connect(ButtonMap, &QPushButton::clicked, this, [this] { Handle([this] { Form.ButtonMapClick(); }); });

  // The folder with "...", the thread count.
  auto* Label6 = Named<QLabel>(panel, "Label6");
  grid->addWidget(Label6, 8, 0, 1, 4);
  auto* Edit6 = Named<QLineEdit>(panel, "Edit6");
  LabelField(Label6, "Path to save:", Edit6, 's');
  auto* Button1 = Named<QPushButton>(panel, "Button1", "...");
  Button1->setToolTip("Click to select path");
  Button1->setAccessibleName("Select path");
  Button1->setFixedWidth(28);
  grid->addWidget(Edit6, 9, 0, 1, 3);
  grid->addWidget(Button1, 9, 3);
  fields.push_back(Edit6);
  auto* Label11 = Named<QLabel>(panel, "Label11");
  grid->addWidget(Label11, 10, 0, 1, 2);
  auto* Edit10 = Named<QLineEdit>(panel, "Edit10");
  LabelField(Label11, "Threads count:", Edit10, 'c');
  Edit10->setReadOnly(true);
  Edit10->setFixedWidth(40);
  auto* UpDown2 = new TUpDownWidget(panel, "UpDown2", "threads", Form.UpDown2, Form.Edit10, Binder);
  auto* threads = new QHBoxLayout;
  threads->addWidget(Edit10);
  threads->addWidget(UpDown2);
  threads->addStretch();
  grid->addLayout(threads, 10, 2, 1, 2);
  fields.push_back(Edit10);
  grid->setRowStretch(11, 1);

  // The tile count with its progress bar, beside Start; under the bar the rate,
  // then how the task ended, and an error that stopped workers in red.
  auto* LabelTotalxy = Named<QLabel>(panel, "LabelTotalxy");
  Bar = Named<QProgressBar>(panel, "ProgressBar");
  Bar->setAccessibleName("Progress");
  Bar->setTextVisible(true);
  Bar->setFormat("%v / %m");
  Bar->hide();
  BarText = Named<QLabel>(panel, "ProgressText");
  BarText->setWordWrap(true);
  // Room for two lines from the start: a line that wraps does not move the window's rows.
  BarText->setMinimumHeight(2 * BarText->fontMetrics().lineSpacing());
  // Their room is kept while they are hidden: Start does not move the rows either.
  for (QWidget* widget : {static_cast<QWidget*>(Bar), static_cast<QWidget*>(BarText)}) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
  }
  BarText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  BarText->hide();
  StopText = Named<QLabel>(panel, "StopText");
  StopText->setStyleSheet("color: red");
  StopText->setWordWrap(true);
  StopText->hide();
  auto* BitBtn1 = Named<QPushButton>(panel, "BitBtn1", "Start");
  QFont bold = BitBtn1->font();
  bold.setBold(true);
  BitBtn1->setFont(bold);
  BitBtn1->setDefault(true);
  grid->addWidget(LabelTotalxy, 12, 0, 1, 3);
  grid->addWidget(BitBtn1, 12, 3);
  grid->addWidget(Bar, 13, 0, 1, 4);
  grid->addWidget(BarText, 14, 0, 1, 4);
  grid->addWidget(StopText, 15, 0, 1, 4);

  // The log on the right; the failed-tile window exists but is never shown.
  auto* Memo1 = new TLogView(central);
  Memo1->setObjectName("Memo1");
  Memo1->setAccessibleName("Log");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setToolTip("Double click to view log in notepad");
  QPalette colours = Memo1->palette();
  colours.setColor(QPalette::Base, colours.color(QPalette::ToolTipBase));
  colours.setColor(QPalette::Text, QColor(0, 128, 0));
  Memo1->setPalette(colours);
  Memo1->OnDoubleClick = [this] { Handle([this] { Form.Viewlogfile1Click(); }); };
  columns->addWidget(Memo1, 3);
  auto* Memo2 = Named<QPlainTextEdit>(central, "Memo2");
  Memo2->setReadOnly(true);
  Memo2->hide();
  setCentralWidget(central);

  auto* StatusBar1 = Named<QStatusBar>(this, "StatusBar1");
  auto* status = Named<QLabel>(StatusBar1, "StatusText");
  StatusBar1->addWidget(status, 1);
  setStatusBar(StatusBar1);

  Binder.Edit(EditTaskName, Form.EditTaskName);
  Binder.Edit(Edit6, Form.Edit6);
  Binder.Edit(Edit10, Form.Edit10);
  Binder.Combo(comboMapsType, Form.comboMapsType);
  Binder.Label(Label8, Form.Label8);
  Binder.Label(LabelTotalxy, Form.LabelTotalxy);
  Binder.Label(LabelEstimate, Form.LabelEstimate);
  Binder.Button(BitBtn1, Form.BitBtn1);
  Binder.Label(status, Form.StatusBar1);
  Binder.Memo(Memo1, Form.Memo1, ShownLogLines);
  Binder.Memo(Memo2, Form.Memo2, ShownLogLines);
  Binder.OnPush([this] {
    const QSignalBlocker quiet(TrackBar1);
    TrackBar1->setRange(Form.TrackBar1.Min(), Form.TrackBar1.Max());
    TrackBar1->setValue(Form.TrackBar1.Position());
    TrackBar1->setToolTip(Q(Form.TrackBar1.Hint));
    setWindowTitle(Q(Form.Caption));
  });
  Binder.OnPush([this, LabelEstimate] {
    LabelEstimate->setToolTip(Q(Form.LabelEstimate.Caption));
    const TForm1::TBarView bar = Form.ProgressBar();
    Bar->setVisible(bar.Shown);
    BarText->setVisible(bar.Shown);
    Bar->setMaximum(bar.Maximum);
    Bar->setValue(bar.Value);
    BarText->setText(Q(bar.Line));
    StopText->setVisible(!bar.StopReason.empty());
    StopText->setText(Q(bar.StopReason));
    for (const auto& [action, item] : Actions) action->setText(Q(Menu.Caption(*item)));
  });

  connect(comboMapsType, &QComboBox::currentIndexChanged, this,
          [this] { Handle([this] { Form.comboMapsTypeChange(); }); });
  connect(TrackBar1, &QSlider::valueChanged, this,
          [this](int value) { Handle([this, value] { Form.TrackBar1.SetPosition(value); }); });
  connect(Button4, &QPushButton::clicked, this,
          [this] { Handle([this] { Form.LoadParametersfromprojectfilel1Click(); }); });
  connect(Button1, &QPushButton::clicked, this, [this] { Handle([this] { Form.Button1Click(); }); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Handle([this] { Form.BitBtn1Click(); }); });
  // Enter in any field presses Start, as the window's default button.
  for (QLineEdit* field : fields) connect(field, &QLineEdit::returnPressed, BitBtn1, &QPushButton::click);

  // The memo holds what the widget shows, so no batch of lines leaves a gap.
  Form.Memo1.Kept = ShownLogLines;
  // The widgets start from the models, so the first pull finds their texts.
  Binder.Window(Toolkit, this);
  Binder.Push();
  Toolkit.SetMainWindow(this);
  Toolkit.Refresh = [this] { Refresh(); };
  BuildMenu();
}

// The logic outlives the window (its destructor may still wait for workers):
// nothing may call back into the window once it is gone.
TForm1Window::~TForm1Window() {
  Toolkit.Refresh = nullptr;
  Toolkit.SetMainWindow(nullptr);
}

void TForm1Window::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  for (const TMenu& menu : MainMenuTable) {
    QMenu* sub = bar->addMenu(Q(menu.Caption));
    for (const TMenuItem& item : menu.Items) {
      if (item.Separator()) {
        sub->addSeparator();
        continue;
      }
      QAction* action = sub->addAction(Q(item.Caption));
      action->setObjectName(item.Name);
      Actions.emplace_back(action, &item);
      const auto handler = item.Handler;
      // std::invoke, not (Menu.*handler)(): GCC 12 built with the address and
      // undefined-behaviour sanitizers read a stray stack slot for the latter.
      connect(action, &QAction::triggered, this,
              [this, handler] { Handle([this, handler] { std::invoke(handler, Menu); }); });
    }
  }
}

void TForm1Window::Handle(const std::function<void()>& handler) {
  Toolkit.RunIn(this, [&] {
    Binder.Pull();
    handler();
    Binder.Push();
  });
}

void TForm1Window::Refresh() { Binder.Push(); }

void TForm1Window::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (Shown) return;
  Shown = true;
  // Centred on the desktop, once.
  if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  Handle([this] { Form.FormShow(); });
}

void TForm1Window::closeEvent(QCloseEvent* event) {
  // A running task is stopped, waited for and completed before the window goes.
  Handle([this] { Form.FormCloseQuery(); });
  event->accept();
  QCoreApplication::quit();
}

}  // namespace meridane
