#pragma once

#include <cstdint>
#include <string>

namespace orvane::tools {

// Writes width x height pixels 0x00RRGGBB, stored bottom line first with no gap between rows
// (the renderer's frame layout), to `path` as an 8-bit RGB PNG whose first line is the top of
// the picture. The file appears whole or not at all: the PNG goes to a temporary file in the
// same directory, which is renamed over `path` only once it is complete. On failure returns
// false, leaves no file behind and puts the reason in `reason`.
bool writeFramePng(const std::string& path, const std::uint32_t* pixels, std::int32_t width,
                   std::int32_t height, std::string& reason);

} // namespace orvane::tools
