#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace meridane {

// Text files of the task: lines of bytes, each ended by CR LF.

// Splits at CR LF, LF or a lone CR; a last line without an ending still counts.
void ForEachLine(std::string_view text, const std::function<void(std::string_view)>& line);
std::vector<std::string> SplitLines(std::string_view text);
std::string JoinLines(const std::vector<std::string>& lines);

std::vector<std::string> ReadLines(const std::filesystem::path& path);
// Replaces the file atomically.
void WriteLines(const std::filesystem::path& path, const std::vector<std::string>& lines);

}  // namespace meridane
