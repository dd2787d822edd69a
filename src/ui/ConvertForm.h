#pragma once

#include <string>

#include "ui/Controls.h"
#include "ui/Toolkit.h"

namespace meridane {

// The degree converter's logic: degrees, minutes and seconds typed into three
// fields become decimal degrees in the fourth. It shares nothing with the
// other windows.
class TfrmConvert : public IForm {
 public:
  explicit TfrmConvert(IToolkit& toolkit) : Toolkit(toolkit) {}

  // Controls.
  std::string Caption = "Convert \"Degrees,Minutes,Seconds\" to \"Degrees\"";
  TLabel Label1{"Degrees, Minutes, Seconds:"};
  TEdit Edit1, Edit2, Edit3;  // degrees, minutes, seconds
  TLabel Label2{"Degrees:"};
  TEdit Edit4;  // the result, read-only
  TButton Button1{"convert"};

  const char* FormName() const override { return "frmConvert"; }
  void Button1Click();

 private:
  IToolkit& Toolkit;
};

}  // namespace meridane
