#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

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

struct TUpDown {
  int Min = 0, Max = 100, Position = 0;
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
