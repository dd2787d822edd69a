#pragma once

#include <string>

#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/Toolkit.h"

namespace meridane {

// The About box's logic: the program's name and version as the main window
// shows them, the home page and the support address, the last two as links.
class TfrmAbout : public IForm {
 public:
  TfrmAbout(IToolkit& toolkit, const TForm1& mainForm) : Toolkit(toolkit), MainForm(mainForm) {}

  // Controls.
  std::string Caption = "About";
  TLabel Label3;  // the main window's caption
  TLabel Label8{std::string("Developer:  ") + ProgramInfo::Developer};
  TLabel Label5{"Homepage:"};
  TLabel Label4;  // link to the home page
  TLabel Label6{"Email:"};
  TLabel Label7;  // link to the support address
  // The map dialog's shipped outlines and gazetteer, whose licence asks for the credit.
  TLabel LabelCredits{"Map data: Natural Earth; places: GeoNames (CC BY 4.0)"};
  TButton bLater{"&OK"};

  const char* FormName() const override { return "frmAbout"; }
  // Handlers. At every show, so a changed main window caption is always shown.
  void FormShow() override;
  void Label4Click();
  void Label7Click();
  void bLaterClick();

 private:
  IToolkit& Toolkit;
  const TForm1& MainForm;
};

}  // namespace meridane
