#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace meridane {

// The data as one gzip member.
std::string Gzip(std::string_view data);

// The data a gzip member holds; nothing when it is damaged or would be longer
// than maxBytes.
std::optional<std::string> Gunzip(std::string_view data, std::size_t maxBytes);

}  // namespace meridane
