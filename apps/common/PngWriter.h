// Writing RGBA images as PNG files (libpng), for screenshots and the render tool.
#pragma once

#include <cstdint>
#include <string>

/// Writes a w x h RGBA image, 8 bits per channel, whose rows are stored
/// bottom-up as glReadPixels returns them (pixel (x, y) at (y * w + x) * 4);
/// the file shows the top row first. Returns false and fills `error` (when
/// not null) with one line naming the file and the reason; a file that fails
/// half-way is removed.
bool WritePng(std::string const& path, int w, int h, uint8_t const* rgbaBottomUp,
              std::string* error);
