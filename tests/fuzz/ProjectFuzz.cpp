// A project file of any content, which is also the program's config.ini: the
// main window shows with it, opens it, compares it for a resume, and a resumed
// task reads its workers' positions from it.
#include <algorithm>

#include "config/Config.h"
#include "fuzz/FuzzInput.h"
#include "geo/Convert.h"
#include "ui/HeadlessToolkit.h"
#include "ui/MainForm.h"

using namespace meridane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const test::TTempDir& folder = fuzz::Folder();
  const std::filesystem::path project = folder / "task.mrd";
  test::WriteAll(project, std::string(reinterpret_cast<const char*>(data), size));

  THeadlessToolkit toolkit;
  TForm1 form(toolkit, {folder.Path(), project});
  form.FormShow();
  toolkit.OpenFileAnswers.push_back(project.string());
  form.LoadParametersfromprojectfilel1Click();
  // No content makes the handlers fail: a bad value reads as its default.
  FUZZ_CHECK(toolkit.Errors.empty());
  FUZZ_CHECK(form.comboMapsType.ItemIndex >= 0 &&
             form.comboMapsType.ItemIndex < static_cast<int>(form.comboMapsType.Items.size()));
  FUZZ_CHECK(form.TrackBar1.Position() >= form.TrackBar1.Min() && form.TrackBar1.Position() <= form.TrackBar1.Max());

  const int threads = std::clamp(ParseWholeNumber(form.Edit10.Text).value_or(1), 1, TForm1::WorkerSlots);
  const TStoredRequest request{.Left = form.Edit1.Text,
                               .Right = form.Edit3.Text,
                               .Top = form.Edit2.Text,
                               .Bottom = form.Edit4.Text,
                               .Zoom = form.TrackBar1.Position(),
                               .ThreadCount = threads,
                               .MapsType = form.comboMapsType.ItemIndex};
  const TProjectReader stored(project);
  if (!ProjectHoldsRequest(stored, request)) return 0;

  // What Start does with a request it resumes, short of starting the workers.
  const auto left = ParseCoordinate(request.Left), right = ParseCoordinate(request.Right);
  const auto top = ParseCoordinate(request.Top), bottom = ParseCoordinate(request.Bottom);
  if (!left || !right || !top || !bottom || !(*left >= -180 && *left <= *right && *right <= 180) ||
      !(*bottom >= -90 && *bottom <= *top && *top <= 90))
    return 0;
  TTaskParams params;
  params.LeftLongitude = *left, params.RightLongitude = *right;
  params.TopLatitude = *top, params.BottomLatitude = *bottom;
  params.Zoom = request.Zoom;
  params.MapsType = request.MapsType;
  params.ThreadCount = threads;
  params.Folder = folder.Folder();
  params.TaskName = "task.mrd";
  ApplyStartConfig(params, TConfig(project).ReadStart());
  params.Resume = true;
  try {
    const TDownloadTask task(params, stored.Positions());
    for (int i = 0; i < threads; ++i) {
      const int x = task.ThreadX[static_cast<std::size_t>(i)], y = task.ThreadY[static_cast<std::size_t>(i)];
      if (x != 0 && y != 0) (void)task.SequenceOf(x, y);
    }
    (void)task.TileUrl(task.MinX, task.MinY);
    FUZZ_CHECK(task.TilePath(task.MaxX, task.MaxY).starts_with(task.TileFolder));
  } catch (const ETaskBuildError&) {
  }
  return 0;
}
