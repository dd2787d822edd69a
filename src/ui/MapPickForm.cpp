#include "ui/MapPickForm.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "config/Config.h"
#include "tiles/Projection.h"
#include "task/ProjectFile.h"
#include "ui/MainForm.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
TMercatorPoint Clamped(TMercatorPoint p) { return {Clamp01(p.X), Clamp01(p.Y)}; }

TMercatorRect Spanning(TMercatorPoint a, TMercatorPoint b) {
  return {std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)};
}

}  // namespace

// The world square of side 1 is the projection's at zoom 0, scaled down.
double LongitudeAt(double x) { return PixelToLonLat({x * WorldPixels(0), 0}, 0).Lon; }

double LatitudeAt(double y) { return PixelToLonLat({0, y * WorldPixels(0)}, 0).Lat; }

TMercatorPoint MercatorAt(double longitude, double latitude) {
  const TWorldPoint p = LonLatToPixel({longitude, latitude}, 0);
  return Clamped({p.X / WorldPixels(0), p.Y / WorldPixels(0)});
}

TGeoRect GeoOf(const TMercatorRect& r) {
  return {LongitudeAt(r.Left), LatitudeAt(r.Top), LongitudeAt(r.Right), LatitudeAt(r.Bottom)};
}

TMercatorRect MercatorOf(const TGeoRect& r) { return Spanning(MercatorAt(r.Left, r.Top), MercatorAt(r.Right, r.Bottom)); }

unsigned TSelection::GripAt(TMercatorPoint p, double tolerance) const {
  if (!Current) return GripNone;
  const TMercatorRect& r = *Current;
  const bool acrossX = p.X >= r.Left - tolerance && p.X <= r.Right + tolerance;
  const bool acrossY = p.Y >= r.Top - tolerance && p.Y <= r.Bottom + tolerance;
  if (!acrossX || !acrossY) return GripNone;
  unsigned grip = GripNone;
  if (std::abs(p.X - r.Left) <= tolerance)
    grip |= GripLeft;
  else if (std::abs(p.X - r.Right) <= tolerance)
    grip |= GripRight;
  if (std::abs(p.Y - r.Top) <= tolerance)
    grip |= GripTop;
  else if (std::abs(p.Y - r.Bottom) <= tolerance)
    grip |= GripBottom;
  return grip != GripNone ? grip : GripInside;
}

void TSelection::Press(TMercatorPoint p, double tolerance) {
  p = Clamped(p);
  Before = Current;
  Grip = GripAt(p, tolerance);
  Active = true;
  if (Grip == GripNone) {
    Anchor = p;
    Current = Spanning(p, p);
  } else if (Grip == GripInside) {
    Anchor = p;
  }
}

void TSelection::Drag(TMercatorPoint p) {
  if (!Active) return;
  p = Clamped(p);
  if (Grip == GripNone) {
    Current = Spanning(Anchor, p);
    return;
  }
  const TMercatorRect start = *Before;
  if (Grip == GripInside) {
    // The whole rectangle moves, and stops at the world's edges.
    const double dx = std::clamp(p.X - Anchor.X, -start.Left, 1 - start.Right);
    const double dy = std::clamp(p.Y - Anchor.Y, -start.Top, 1 - start.Bottom);
    Current = TMercatorRect{start.Left + dx, start.Top + dy, start.Right + dx, start.Bottom + dy};
    return;
  }
  // The grabbed edges follow the point; past the opposite edge they swap roles.
  TMercatorPoint a{start.Left, start.Top}, b{start.Right, start.Bottom};
  if (Grip & GripLeft) a.X = p.X;
  if (Grip & GripRight) b.X = p.X;
  if (Grip & GripTop) a.Y = p.Y;
  if (Grip & GripBottom) b.Y = p.Y;
  Current = Spanning(a, b);
}

void TSelection::Release(TMercatorPoint p) {
  if (!Active) return;
  Drag(p);
  Active = false;
  if (Current->Right <= Current->Left || Current->Bottom <= Current->Top) Current = Before;
}

std::string CoordinateText(double degrees) {
  char text[40];
  const auto end = std::to_chars(text, text + sizeof text, degrees, std::chars_format::fixed, 6).ptr;
  std::string result(text, end);
  if (result == "-0.000000") result.erase(0, 1);
  return result;
}

std::vector<TTaskOutline> FindTaskOutlines(const fs::path& folder) {
  std::vector<TTaskOutline> outlines;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    if (path.extension() != ".mrd" || !it->is_regular_file(ec)) continue;
    const TProjectReader project(path);
    TArea area;
    if (CheckArea(project.Text(TProjectValue::LeftLongitude), project.Text(TProjectValue::TopLatitude),
                  project.Text(TProjectValue::RightLongitude), project.Text(TProjectValue::BottomLatitude), area))
      continue;
    outlines.push_back({path.stem().string(), {area.Left, area.Top, area.Right, area.Bottom}});
  }
  std::sort(outlines.begin(), outlines.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
  return outlines;
}

TMapPickForm::TMapPickForm(IToolkit& toolkit, TForm1& form1) : Toolkit(toolkit), Form1(form1) {}

void TMapPickForm::FormShow() { SelectionChanged(); }

void TMapPickForm::Execute() {
  TArea area;
  Selection.Set(std::nullopt);
  if (!CheckArea(Form1.Edit1.Text, Form1.Edit2.Text, Form1.Edit3.Text, Form1.Edit4.Text, area) &&
      area.Left < area.Right && area.Bottom < area.Top)
    Selection.Set(MercatorOf({area.Left, area.Top, area.Right, area.Bottom}));
  Opened = Selection.Rect();
  Zoom = Form1.TrackBar1.Position();
  MinZoom = Form1.TrackBar1.Min();
  MaxZoom = Form1.TrackBar1.Max();
  Outlines = FindTaskOutlines(AbsoluteFolder(Form1.Edit6.Text));
  SelectionChanged();
  Toolkit.ShowModal(*this);
}

std::optional<std::array<std::string, 4>> TMapPickForm::FieldTexts() const {
  if (!Selection.Rect()) return std::nullopt;
  const TGeoRect g = GeoOf(*Selection.Rect());
  return std::array{CoordinateText(g.Left), CoordinateText(g.Top), CoordinateText(g.Right), CoordinateText(g.Bottom)};
}

void TMapPickForm::SelectionChanged() {
  const auto texts = FieldTexts();
  LabelEstimate.Caption = texts ? EstimateText((*texts)[0], (*texts)[1], (*texts)[2], (*texts)[3], Zoom)
                                : "Drag a rectangle on the map.";
}

void TMapPickForm::OkClick() {
  // A rectangle left as it opened keeps the fields' own texts.
  if (const auto texts = FieldTexts(); texts && Selection.Rect() != Opened) {
    Form1.Edit1.Text = (*texts)[0];
    Form1.Edit2.Text = (*texts)[1];
    Form1.Edit3.Text = (*texts)[2];
    Form1.Edit4.Text = (*texts)[3];
    Form1.RequestChanged();
  }
  Form1.TrackBar1.SetPosition(Zoom);
  Toolkit.CloseForm(*this);
}

void TMapPickForm::ZoomChange(int zoom) {
  Zoom = std::clamp(zoom, MinZoom, MaxZoom);
  SelectionChanged();
}

void TMapPickForm::CancelClick() { Toolkit.CloseForm(*this); }

void TMapPickForm::FindPlaceChange(const std::string& text) {
  Places = FindPlaces(text);
  PlaceItems.clear();
  for (const TPlace& place : Places)
    PlaceItems.push_back(place.Name + ", " + place.Country + " (" + GroupedNumber(place.Population) + ")");
}

std::optional<std::array<double, 3>> TMapPickForm::PlaceView(int item) const {
  if (item < 0 || item >= static_cast<int>(Places.size())) return std::nullopt;
  const TPlace& place = Places[static_cast<std::size_t>(item)];
  // A town of 15,000 fits a screen at zoom 13, a city of millions at 10.
  const double zoom = place.Population >= 1'000'000 ? 10 : place.Population >= 100'000 ? 11 : 13;
  return std::array{place.Lon, place.Lat, zoom};
}

std::string GroupedNumber(long long value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
  return value < 0 ? "-" + digits : digits;
}

TTaskParams TMapPickForm::SourceParams() const {
  TTaskParams params;
  ApplyStartConfig(params, TConfig(Form1.ConfigPath).ReadStart());
  return params;
}

}  // namespace meridane
