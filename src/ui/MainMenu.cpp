#include "ui/MainMenu.h"

namespace meridane {

namespace {
#ifdef _WIN32
constexpr const char* ProgramSuffix = ".exe";
#else
constexpr const char* ProgramSuffix = "";
#endif
}  // namespace

TMainMenu::TMainMenu(IToolkit& toolkit, TForm1& form1, TfrmAbout& about, TfrmConvert& convert, TfrmOptions& options,
                     TfrmFlt& flt)
    : Toolkit(toolkit),
      Form1(form1),
      frmAbout(about),
      frmConvert(convert),
      frmOptions(options),
      frmFlt(flt) {}

std::string TMainMenu::SiblingPath(const char* name) const {
  return (Form1.ProgramFolder() / (std::string(name) + ProgramSuffix)).string();
}

void TMainMenu::Exit1Click() {
  // A running task is stopped and completed first, so no line or position is lost.
  Form1.FormCloseQuery();
  Toolkit.Terminate();
}

void TMainMenu::Options2Click() {
  RunHandler(Toolkit, [this] { Toolkit.ShowModal(frmOptions); });
}

void TMainMenu::ConvertLongitudeorLatitudetodegreen1Click() {
  // Not modal, and only one: a second choice brings the open one to the front.
  RunHandler(Toolkit, [this] {
    Toolkit.ShowForm(frmConvert);
    Toolkit.BringToFront(frmConvert);
  });
}

// The result is not examined: a missing program gets no message of ours, and a
// running one is started again.
void TMainMenu::Mapviewer1Click() {
  RunHandler(Toolkit, [this] { Toolkit.StartProgram(SiblingPath(MapViewer)); });
}

void TMainMenu::CombineImages1Click() {
  RunHandler(Toolkit, [this] { Toolkit.StartProgram(SiblingPath(MapCombiner)); });
}

void TMainMenu::dowloadfailedfiles1Click() {
  RunHandler(Toolkit, [this] { Toolkit.ShowModal(frmFlt); });
}

void TMainMenu::Checktask1Click() { Form1.Checktask1Click(); }

const char* TMainMenu::Caption(const TMenuItem& item) const {
  if (item.Handler == &TMainMenu::Checktask1Click && Form1.Check.Running()) return TTaskCheck::StopCaption;
  return item.Caption;
}

void TMainMenu::Usermanual1Click() {
  RunHandler(Toolkit, [this] { Toolkit.ShellOpen(Form1.HelpPath); });
}

void TMainMenu::Homepage1Click() {
  RunHandler(Toolkit, [this] { Toolkit.ShellOpen(TForm1::HomePageAddress); });
}

void TMainMenu::About1Click() {
  RunHandler(Toolkit, [this] { Toolkit.ShowModal(frmAbout); });
}

}  // namespace meridane
