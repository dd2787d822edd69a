#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace meridane {

// The text as a JSON string, quotes and escapes included.
std::string JsonText(std::string_view text);

// The top level of a JSON object: its texts and numbers (numbers as written),
// other values skipped. Nothing for text that is not such an object.
std::optional<std::map<std::string, std::string>> JsonTopLevel(std::string_view text);

}  // namespace meridane
