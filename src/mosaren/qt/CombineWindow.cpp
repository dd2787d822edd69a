#include "mosaren/qt/CombineWindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace meridane {

TCombineWindow::TCombineWindow(TQtToolkit& toolkit, TCombineForm& form) : Toolkit(toolkit), Form(form) {
  setObjectName(form.FormName());
  setWindowTitle("Map Combiner");
  Binder.Window(toolkit, this);
  toolkit.Register(form, this);
  toolkit.SetMainWindow(this);

  auto* fields = new QFormLayout;
  auto row = [&](const char* caption, char key, QWidget* field, QWidget* shown = nullptr) {
    auto* label = new QLabel(this);
    LabelField(label, caption, field, key);
    fields->addRow(label, shown ? shown : field);
  };
  auto* inputs = Named<QListWidget>(this, "Inputs");
  inputs->setAccessibleName("Inputs, the earlier first where they overlap");
  inputs->setMaximumHeight(96);
  auto* inputPath = Named<QLineEdit>(this, "InputPath");
  inputPath->setPlaceholderText("a path to add");
  auto* addInput = Named<QPushButton>(this, "AddInput", "Add");
  addInput->setAccessibleName("Add the path typed");
  auto* addFile = Named<QPushButton>(this, "AddFile", "Add fi&le...");
  addFile->setAccessibleName("Add a project file or an archive");
  auto* addFolder = Named<QPushButton>(this, "AddFolder", "Add fold&er...");
  addFolder->setAccessibleName("Add a tile folder");
  auto* removeInput = Named<QPushButton>(this, "RemoveInput", "Re&move");
  removeInput->setAccessibleName("Remove the selected input");
  auto* zoom = Named<QLineEdit>(this, "Zoom");
  zoom->setPlaceholderText("every zoom found");
  auto* tms = Named<QCheckBox>(this, "Tms");
  tms->setAccessibleName("Rows of Z/X/Y folders from the south");
  auto* format = Named<QComboBox>(this, "Format");
  format->setAccessibleName("Format");
  auto* outputPath = Named<QLineEdit>(this, "OutputPath");
  auto* browseOutput = Named<QPushButton>(this, "BrowseOutput", "Bro&wse...");
  browseOutput->setAccessibleName("Choose the output file");
  auto* quality = Named<QLineEdit>(this, "Quality");
  auto* name = Named<QLineEdit>(this, "ArchiveName");
  auto* description = Named<QLineEdit>(this, "Description");
  auto* lowest = Named<QLineEdit>(this, "LowestZoom");
  lowest->setPlaceholderText("where the whole area fits in one tile");
  auto beside = [this](QWidget* edit, QWidget* button) {
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit);
    layout->addWidget(button);
    return box;
  };
  auto* inputButtons = new QWidget(this);
  auto* inputRow = new QHBoxLayout(inputButtons);
  inputRow->setContentsMargins(0, 0, 0, 0);
  for (QWidget* widget :
       {static_cast<QWidget*>(inputPath), static_cast<QWidget*>(addInput), static_cast<QWidget*>(addFile),
        static_cast<QWidget*>(addFolder), static_cast<QWidget*>(removeInput)})
    inputRow->addWidget(widget);
  row("Inputs:", 'i', inputs);
  row("Add:", 'a', inputPath, inputButtons);
  row("Zoom:", 'z', zoom);
  fields->addRow(QString(), tms);
  row("Format:", 'r', format);  // Alt+F is the File menu's
  row("Output file:", 'o', outputPath, beside(outputPath, browseOutput));
  row("JPEG quality:", 'q', quality);
  row("Name:", 'n', name);
  row("Description:", 'd', description);
  row("Lowest zoom:", 'l', lowest);

  auto* bar = Named<QProgressBar>(this, "Progress");
  bar->setAccessibleName("Progress");
  auto* status = Named<QLabel>(this, "Status");
  auto* summary = Named<QLabel>(this, "Summary");
  summary->setWordWrap(true);
  summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  auto* start = Named<QPushButton>(this, "Start");
  start->setDefault(true);
  auto* cancel = Named<QPushButton>(this, "Cancel");
  auto* openFolder = Named<QPushButton>(this, "OpenFolder");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(openFolder);
  buttons->addStretch();
  buttons->addWidget(start);
  buttons->addWidget(cancel);

  auto* menus = new QMenuBar(this);
  QMenu* file = menus->addMenu("&File");
  QMenu* recent = file->addMenu("Open &Recent");
  connect(recent, &QMenu::aboutToShow, this, [this, recent] {
    recent->clear();
    for (const std::filesystem::path& path : Form.RecentTasks())
      recent->addAction(QString::fromStdString(path.string()), this,
                        [this, path] { Binder.Run([this, path] { Form.OpenRecent(path); }); });
    recent->setEnabled(!recent->isEmpty());
  });
  file->addSeparator();
  file->addAction("E&xit", QKeySequence::Quit, this, &QWidget::close);
  menus->addMenu("&Help")->addAction("&User manual", QKeySequence::HelpContents, this,
                                     [this] { Toolkit.ShellOpen(Form.HelpPath()); });

  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menus);
  layout->addLayout(fields);
  layout->addWidget(bar);
  layout->addWidget(status);
  layout->addWidget(summary);
  layout->addStretch();
  layout->addLayout(buttons);
  resize(620, 512);  // with the menu bar above the fields

  Binder.Edit(inputPath, Form.InputPath);
  Binder.Check(tms, Form.Tms);
  Binder.Edit(zoom, Form.Zoom);
  Binder.Combo(format, Form.Format);
  Binder.Edit(outputPath, Form.OutputPath);
  Binder.Edit(quality, Form.Quality);
  Binder.Edit(name, Form.ArchiveName);
  Binder.Edit(description, Form.Description);
  Binder.Edit(lowest, Form.LowestZoom);
  Binder.Label(status, Form.Status);
  Binder.Label(summary, Form.Summary);
  Binder.Button(start, Form.Start);
  Binder.Button(cancel, Form.Cancel);
  Binder.Button(openFolder, Form.OpenFolder);
  // What a field is for follows the choices: the zoom for a folder, the
  // quality where JPEG is encoded, the name, description and lowest zoom for an archive.
  Binder.OnPush([=, this] {
    const bool running = Form.Running();
    const TOutputFormat chosen = Form.SelectedFormat();
    // The list shows the form's inputs; the selection is the form's.
    QStringList items;
    for (const std::string& item : Form.Inputs.Items) items << QString::fromStdString(item);
    QStringList shown;
    for (int i = 0; i < inputs->count(); ++i) shown << inputs->item(i)->text();
    if (shown != items) {
      const QSignalBlocker quiet(inputs);
      inputs->clear();
      inputs->addItems(items);
    }
    {
      const QSignalBlocker quiet(inputs);
      inputs->setCurrentRow(Form.Inputs.ItemIndex);
    }
    for (QWidget* field :
         {static_cast<QWidget*>(inputs), static_cast<QWidget*>(inputPath), static_cast<QWidget*>(addInput),
          static_cast<QWidget*>(addFile), static_cast<QWidget*>(addFolder), static_cast<QWidget*>(tms),
          static_cast<QWidget*>(zoom), static_cast<QWidget*>(format), static_cast<QWidget*>(outputPath),
          static_cast<QWidget*>(browseOutput)})
      field->setEnabled(!running);
    removeInput->setEnabled(!running && Form.Inputs.ItemIndex >= 0);
    quality->setEnabled(!running && UsesJpegQuality(chosen));
    name->setEnabled(!running && StoresName(chosen));
    description->setEnabled(!running && StoresName(chosen));
    lowest->setEnabled(!running && IsArchive(chosen));
    start->setEnabled(!running);
    cancel->setEnabled(running);
    openFolder->setEnabled(!running && Form.Done());
    const long long total = Form.ProgressTotal();
    // A bar counts in int: thousandths of the work.
    bar->setRange(0, 1000);
    bar->setValue(total > 0 ? static_cast<int>(Form.ProgressDone() * 1000 / total) : 0);
  });

  auto handle = [this](auto* widget, auto signal, void (TCombineForm::*click)()) {
    connect(widget, signal, this, [this, click] { Handle(click); });
  };
  connect(inputs, &QListWidget::currentRowChanged, this, [this, removeInput](int row) {
    Form.Inputs.ItemIndex = row;
    removeInput->setEnabled(!Form.Running() && row >= 0);
  });
  handle(format, &QComboBox::activated, &TCombineForm::FormatChange);
  handle(addInput, &QPushButton::clicked, &TCombineForm::AddInputClick);
  handle(inputPath, &QLineEdit::returnPressed, &TCombineForm::AddInputClick);
  handle(addFile, &QPushButton::clicked, &TCombineForm::AddFileClick);
  handle(addFolder, &QPushButton::clicked, &TCombineForm::AddFolderClick);
  handle(removeInput, &QPushButton::clicked, &TCombineForm::RemoveInputClick);
  handle(browseOutput, &QPushButton::clicked, &TCombineForm::BrowseOutputClick);
  handle(start, &QPushButton::clicked, &TCombineForm::StartClick);
  handle(cancel, &QPushButton::clicked, &TCombineForm::CancelClick);
  handle(openFolder, &QPushButton::clicked, &TCombineForm::OpenFolderClick);
  // The worker's progress and end come between handlers.
  toolkit.Refresh = [this] { Binder.Push(); };
  Binder.Push();
}

TCombineWindow::~TCombineWindow() { Toolkit.Refresh = nullptr; }

// The form is captured, not this: GCC 12's UBSan checks the closure as the
// window when a lambda calls a member pointer through a member of this.
void TCombineWindow::Handle(void (TCombineForm::*click)()) {
  TCombineForm* const form = &Form;
  Binder.Run([form, click] { (form->*click)(); });
}

void TCombineWindow::closeEvent(QCloseEvent* event) {
  // A run stops with the window, if the user agrees: nothing is left under the output's name.
  bool close = false;
  Binder.Run([this, &close] { close = Form.CloseQuery(); });
  if (close)
    event->accept();
  else
    event->ignore();
}

void TCombineWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return QWidget::keyPressEvent(event);
  if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()); button && button->isEnabled()) return button->click();
  if (Form.Running()) return;
  Handle(&TCombineForm::StartClick);
}

}  // namespace meridane
