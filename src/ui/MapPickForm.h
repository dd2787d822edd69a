#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/HttpClient.h"
#include "download/Sleeper.h"
#include "task/TaskParams.h"
#include "ui/Controls.h"
#include "ui/Toolkit.h"
#include "ui/WorldMap.h"

namespace meridane {

class TForm1;

// A point of the Mercator world square: X from 0 at 180° W to 1 at 180° E, Y
// from 0 at the projection's northern limit to 1 at its southern one.
struct TMercatorPoint {
  double X = 0, Y = 0;
};
// Left < Right and Top < Bottom (Y grows southwards).
struct TMercatorRect {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TMercatorRect&) const = default;
};
// Decimal degrees.
struct TGeoRect {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
};

double LongitudeAt(double x);
double LatitudeAt(double y);
TMercatorPoint MercatorAt(double longitude, double latitude);
TGeoRect GeoOf(const TMercatorRect& rect);
TMercatorRect MercatorOf(const TGeoRect& rect);

// The parts of the rectangle a point grabs: edges (combined at corners) or
// the inside, for a move.
enum TGrip : unsigned { GripNone = 0, GripLeft = 1, GripRight = 2, GripTop = 4, GripBottom = 8, GripInside = 16 };

// The rectangle the user draws, moves and resizes with the mouse, in world
// units. Every point is clamped to the world; the rectangle is kept normalised.
class TSelection {
 public:
  const std::optional<TMercatorRect>& Rect() const { return Current; }
  void Set(std::optional<TMercatorRect> rect) { Current = rect; }
  // What a press at p would grab; tolerance is how near an edge counts as on it.
  unsigned GripAt(TMercatorPoint p, double tolerance) const;
  void Press(TMercatorPoint p, double tolerance);
  void Drag(TMercatorPoint p);
  // A rectangle without width or height gives way to the one before the press.
  void Release(TMercatorPoint p);
  bool Dragging() const { return Active; }

 private:
  std::optional<TMercatorRect> Current, Before;
  bool Active = false;
  unsigned Grip = GripNone;
  TMercatorPoint Anchor;
};

// 746895960 as "746,895,960": counts a person reads at a glance.
std::string GroupedNumber(long long value);

// A coordinate field's text: six decimals, "." whatever the locale, never "-0".
std::string CoordinateText(double degrees);

// A task found in the download folder, for the map's outlines.
struct TTaskOutline {
  std::string Name;
  TGeoRect Area;
};
// The tasks whose project files (*.mrd) lie directly in folder and hold a
// valid rectangle, by name; a folder that cannot be read has none.
std::vector<TTaskOutline> FindTaskOutlines(const std::filesystem::path& folder);

// The map dialog's logic: it opens on the main window's rectangle, shows the
// tiles of the picked one at the main window's zoom, and OK puts it into the
// four coordinate fields.
class TMapPickForm : public IForm {
 public:
  TMapPickForm(IToolkit& toolkit, TForm1& form1);
  const char* FormName() const override { return "frmMapPick"; }
  void FormShow() override;

  TSelection Selection;
  TLabel LabelEstimate;
  std::vector<TTaskOutline> Outlines;
  int Zoom = 0;  // the main window's, which OK sets to the one chosen here
  int MinZoom = 0, MaxZoom = 0;  // the map type's
  // The zoom chosen: the estimate follows it.
  void ZoomChange(int zoom);
  // How the map's background is fetched: the main window's client and sleeper.
  std::function<std::unique_ptr<IHttpClient>()> MakeClient;
  ISleeper* Sleeper = nullptr;

  // The places found for the text typed in "Find place", as the list shows them:
  // "Zürich, CH (341,730)".
  std::vector<TPlace> Places;
  std::vector<std::string> PlaceItems;
  void FindPlaceChange(const std::string& text);
  // Where the map goes for the place chosen from the list: its longitude,
  // latitude and a zoom that shows a town whole. Nothing for no such item.
  std::optional<std::array<double, 3>> PlaceView(int item) const;

  // The fields' rectangle when they hold one, the outlines, then the dialog.
  void Execute();
  // After every change of the rectangle.
  void SelectionChanged();
  void OkClick();
  void CancelClick();
  // The tile source and request profile of config.ini, as Start reads them.
  TTaskParams SourceParams() const;
  // The four field texts of the rectangle: left, top, right, bottom.
  std::optional<std::array<std::string, 4>> FieldTexts() const;

 private:
  IToolkit& Toolkit;
  TForm1& Form1;
  std::optional<TMercatorRect> Opened;  // the fields' rectangle when the dialog opened
};

}  // namespace meridane
