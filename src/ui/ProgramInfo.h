#pragma once

namespace meridane {

// Who makes the program and where users reach them: the main window's menu and
// the About box show these.
namespace ProgramInfo {
inline constexpr const char* HomePage = "https://meridane.example.org/";
inline constexpr const char* SupportAddress = "support@meridane.example.org";
inline constexpr const char* Developer = "The Meridane team";
}  // namespace ProgramInfo

}  // namespace meridane
