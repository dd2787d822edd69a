#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "task/ProjectFile.h"

namespace meridane {

// The rules of a download request, whichever front end reads it: the four
// coordinates, the task name, the folder, and when a project file holds the
// same request.

// Texts of the refusals, as the user sees them.
namespace RequestText {
inline constexpr const char* InputError = "Longitude or latitude input error!";
inline constexpr const char* LeftRange = "Left Longitude should be between -180 and 180.";
inline constexpr const char* RightRange = "Right Longitude should be between -180 and 180.";
inline constexpr const char* TopRange = "Top Latitude should be between -90 and 90.";
inline constexpr const char* BottomRange = "Bottom Latitude should be between -90 and 90.";
inline constexpr const char* LeftRight = "Left Longitude should less than Right Longitude!";
inline constexpr const char* BottomTop = "Bottom Latitude should less than Top Latitude!";
inline constexpr const char* NoTaskName = "Please input a task name.";
inline constexpr const char* BadTaskName = "The task name cannot contain / or be . or ..";
inline constexpr const char* TaskNameControl = "The task name cannot contain control characters";
inline constexpr const char* PathControl = "The path cannot contain control characters";
}  // namespace RequestText

// The four coordinate texts read and checked in Start's order: the first
// failing check's message, or null with the numbers in area.
struct TArea {
  double Left = 0, Right = 0, Top = 0, Bottom = 0;
};
const char* CheckArea(const std::string& leftText, const std::string& topText, const std::string& rightText,
                      const std::string& bottomText, TArea& area);

// A task's paths go into its log and failed-tile list: a line break in one
// would start a line of its own there.
bool HasControlCharacter(std::string_view text);

// The task name completed to its project file's name (".mrd" appended when
// missing); the refusal when it is no file name of the download folder, else null.
const char* CompleteTaskName(std::string& name);

// A folder as typed, made absolute: a leading "~/" is the home folder, a
// relative path is taken from the current folder; links and ".." are resolved.
std::string AbsoluteFolder(const std::string& text);

// The thread count a task stores for a request: a count above its tile count
// is lowered to it.
int StoredThreadCount(const TTaskParams& request, int threadCount);

// A request as a project file stores it; Start resumes a task whose project
// file holds the request it is given.
struct TStoredRequest {
  std::string Left, Right, Top, Bottom;  // the coordinates as typed
  int Zoom = 0, ThreadCount = 0, MapsType = 0;
};
// The inputs of a request that a project file holds otherwise, one line each:
// "Top Latitude: 39.2 in the project, 39.25 now". Coordinates are compared as
// numbers, so "39.20" is the stored "39.2".
std::vector<std::string> RequestDifferences(const TProjectReader& project, const TStoredRequest& request);
bool ProjectHoldsRequest(const TProjectReader& project, const TStoredRequest& request);

}  // namespace meridane
