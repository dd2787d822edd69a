#include "ui/ConvertForm.h"

#include "geo/Convert.h"

namespace meridane {

void TfrmConvert::Button1Click() {
  RunHandler(Toolkit, [this] {
    const auto result = ConvertDegreesText(Edit1.Text, Edit2.Text, Edit3.Text);
    if (!result) return Toolkit.ShowMessage(std::string(InputErrorMessage));
    Edit4.Text = *result;
  });
}

}  // namespace meridane
