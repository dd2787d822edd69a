#pragma once

#include <ostream>

#include "ui/HeadlessToolkit.h"

namespace meridane {

// The toolkit of the command line: message and error boxes become lines on the
// error stream; dialogs answer from what the command line said.
class TConsoleToolkit : public THeadlessToolkit {
 public:
  explicit TConsoleToolkit(std::ostream& errors) : Err(errors) {}
  void ShowMessage(const std::string& text) override {
    Err << text << '\n';
    THeadlessToolkit::ShowMessage(text);
  }
  bool ShowMessageWith(const std::string& text, const std::string& button) override {
    Err << text << '\n';
    return THeadlessToolkit::ShowMessageWith(text, button);
  }
  // A question is printed and answered as the command line said (--fresh).
  bool Ask(const std::string& text) override {
    Err << text << '\n';
    THeadlessToolkit::Ask(text);
    return Yes;
  }
  bool Yes = false;
  void ShowError(const std::string& text) override {
    Err << text << '\n';
    THeadlessToolkit::ShowError(text);
  }

 private:
  std::ostream& Err;
};

}  // namespace meridane
