#include "ui/Toolkit.h"

namespace meridane {

void RunHandler(IToolkit& toolkit, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    toolkit.ShowError(e.what());
  }
}

}  // namespace meridane
