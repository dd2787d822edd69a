#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "geo/Convert.h"

namespace meridane {

// The state of the controls a window's logic reads and writes; a toolkit
// binding mirrors them on screen.

struct TEdit {
  std::string Text;
};

struct TLabel {
  std::string Caption;
};

struct TButton {
  std::string Caption;
};

struct TComboBox {
  std::vector<std::string> Items;
  int ItemIndex = -1;  // -1: nothing selected
};

struct TCheckBox {
  std::string Caption;
  bool Checked = false;
};

// Up-down arrows bound to an edit that shows their number.
struct TUpDown {
  int Min = 0, Max = 100, Position = 0;

  // One arrow click: from the number the edit shows (brought into the range,
  // since loading may show one outside it), one step, no wrap-around.
  void Click(bool up, TEdit& buddy) {
    const int from = std::clamp(ParseWholeNumber(buddy.Text).value_or(Position), Min, Max);
    Position = std::clamp(up ? from + 1 : from - 1, Min, Max);
    buddy.Text = std::to_string(Position);
  }
};

struct TTimerModel {
  bool Enabled = false;
  int Interval = 1000;
};

// A track bar keeps its position within its range at every step: a position
// outside it is moved to the nearer end. OnChange runs when the position changes.
class TTrackBar {
 public:
  int Min() const { return Minimum; }
  int Max() const { return Maximum; }
  int Position() const { return Pos; }
  std::string Hint;
  std::function<void()> OnChange;

  void SetMax(int value) {
    Maximum = value;
    if (Minimum > Maximum) Minimum = Maximum;
    SetPosition(Pos);
  }
  void SetMin(int value) {
    Minimum = value;
    if (Maximum < Minimum) Maximum = Minimum;
    SetPosition(Pos);
  }
  void SetPosition(int value) {
    const int clamped = std::clamp(value, Minimum, Maximum);
    if (clamped == Pos) return;
    Pos = clamped;
    if (OnChange) OnChange();
  }

 private:
  int Minimum = 0, Maximum = 10, Pos = 0;
};

}  // namespace meridane
