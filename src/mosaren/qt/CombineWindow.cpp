#include "mosaren/qt/CombineWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
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
  auto* inputKind = Named<QComboBox>(this, "InputKind");
  auto* inputPath = Named<QLineEdit>(this, "InputPath");
  auto* browseInput = Named<QPushButton>(this, "BrowseInput", "Browse...");
  browseInput->setAccessibleName("Choose the input");
  auto* zoom = Named<QLineEdit>(this, "Zoom");
  auto* format = Named<QComboBox>(this, "Format");
  auto* outputPath = Named<QLineEdit>(this, "OutputPath");
  auto* browseOutput = Named<QPushButton>(this, "BrowseOutput", "Browse...");
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
  row("Input:", 'i', inputKind);
  row("Project file or folder:", 'p', inputPath, beside(inputPath, browseInput));
  row("Zoom:", 'z', zoom);
  row("Format:", 'f', format);
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

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(bar);
  layout->addWidget(status);
  layout->addWidget(summary);
  layout->addStretch();
  layout->addLayout(buttons);
  resize(520, 388);

  Binder.Combo(inputKind, Form.InputKind);
  Binder.Edit(inputPath, Form.InputPath);
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
    for (QWidget* field : {static_cast<QWidget*>(inputKind), static_cast<QWidget*>(inputPath),
                           static_cast<QWidget*>(browseInput), static_cast<QWidget*>(format),
                           static_cast<QWidget*>(outputPath), static_cast<QWidget*>(browseOutput)})
      field->setEnabled(!running);
    zoom->setEnabled(!running && Form.FolderInput());
    quality->setEnabled(!running && UsesJpegQuality(chosen));
    name->setEnabled(!running && IsArchive(chosen));
    description->setEnabled(!running && IsArchive(chosen));
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
  handle(inputKind, &QComboBox::activated, &TCombineForm::InputKindChange);
  handle(format, &QComboBox::activated, &TCombineForm::FormatChange);
  handle(browseInput, &QPushButton::clicked, &TCombineForm::BrowseInputClick);
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
  // A run stops with the window: nothing is left under the output's name.
  Form.CancelClick();
  event->accept();
}

}  // namespace meridane
