#pragma once

#include <filesystem>
#include <string>

#include "task/TaskParams.h"

namespace meridane::test {

// What the example request's task files hold, byte for byte.
inline const std::filesystem::path TaskData = std::filesystem::path(MERIDANE_TEST_SOURCE_DIR) / "task" / "data";

// The area between the given edges at one zoom level, two workers, the task
// "newtask.mrd" in folder.
inline TTaskParams Request(const std::string& folder, double left, double right, double top, double bottom,
                           int zoom) {
  TTaskParams p;
  p.LeftLongitude = left;
  p.RightLongitude = right;
  p.TopLatitude = top;
  p.BottomLatitude = bottom;
  p.Zoom = zoom;
  p.ThreadCount = 2;
  p.Folder = folder;
  p.TaskName = "newtask.mrd";
  return p;
}

// Tiles 843..844 x 388..389 at zoom 10.
inline TTaskParams ExampleRequest(const std::string& folder) { return Request(folder, 116.39, 116.8, 39.9, 39.5, 10); }

}  // namespace meridane::test
