// Writes an 8-bit RGB picture as a PNG file with libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace maindraw {

// `rgb` holds width x height pixels of three bytes, rows top to bottom.
// Answers an empty string, or why the file could not be written.
std::string WritePng(const std::string& path, uint32_t width, uint32_t height,
                     const std::vector<uint8_t>& rgb);

}  // namespace maindraw
