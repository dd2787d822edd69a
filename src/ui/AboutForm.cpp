#include "ui/AboutForm.h"

namespace meridane {

void TfrmAbout::FormShow() {
  Label4.Caption = TForm1::HomePageAddress;
  Label7.Caption = TForm1::SupportAddress;
  Label3.Caption = MainForm.Caption;
}

void TfrmAbout::Label4Click() {
  RunHandler(Toolkit, [this] { Toolkit.ShellOpen(TForm1::HomePageAddress); });
}

void TfrmAbout::Label7Click() {
  RunHandler(Toolkit, [this] { Toolkit.ShellOpen(std::string("mailto:") + TForm1::SupportAddress); });
}

void TfrmAbout::bLaterClick() { Toolkit.CloseForm(*this); }

}  // namespace meridane
